# The Debian package (cpack -G DEB in a build configured with CMAKE_INSTALL_PREFIX=/usr):
# everything the install rules put under the prefix, its copyright and changelog, and the
# dependencies dpkg-shlibdeps finds plus the programs the program and the server run or read.
# The system's MIME, desktop and icon databases learn the new files through the triggers of
# shared-mime-info, desktop-file-utils and hicolor-icon-theme, so no maintainer script is needed.
set(ZEPHYRINE_PACKAGE_MAINTAINER "Zephyrine maintainers <zephyrine@example.org>"
    CACHE STRING "Maintainer field of the Debian package")

set(ZEPHYRINE_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/zephyrine)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright DESTINATION ${ZEPHYRINE_DOC_DIR})
set(ZEPHYRINE_CHANGELOG ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(OUTPUT ${ZEPHYRINE_CHANGELOG}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
  COMMAND ${GZIP_PROGRAM} -9n -c ${PROJECT_SOURCE_DIR}/packaging/debian/changelog
          > ${ZEPHYRINE_CHANGELOG}
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog
  VERBATIM)
add_custom_target(zephyrine_changelog ALL DEPENDS ${ZEPHYRINE_CHANGELOG})
install(FILES ${ZEPHYRINE_CHANGELOG} DESTINATION ${ZEPHYRINE_DOC_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zephyrine)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${ZEPHYRINE_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "preview Winks and install them into the messenger")
# The synopsis is the summary above; this is the extended description.
set(CPACK_PACKAGE_DESCRIPTION
  "Zephyrine keeps a catalogue of Winks, the short animated Flash items of
MSN Messenger, plays each one in its preview pane and installs the chosen
ones. It opens Winks content files (.mca, .mco) and updates its catalogue
from the catalogue server.
.
The package also holds zephyrine-httpd, a small HTTP server that serves a
folder, and zephyrine-fetch, an HTTP download client, with demo content
to try the program without a network.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# cabextract unpacks content files; shared-mime-info and desktop-file-utils keep the MIME and
# desktop databases; media-types gives the server its content types. (The browser engine's
# helper process, libqt6webenginecore6-bin, comes from dpkg-shlibdeps.)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "cabextract, shared-mime-info, desktop-file-utils, media-types")
# Links of the About box open in the desktop's browser and mail program.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, hicolor-icon-theme")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
include(CPack)
