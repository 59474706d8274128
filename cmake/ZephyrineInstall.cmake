# Install rules (cmake --install BUILD --prefix P): the three commands in bin/, the player library
# in LIBDIR/zephyrine/, the sample catalogue, the player's files and the demo content in
# DATADIR/zephyrine/, and what the desktop needs: the desktop entry, the MIME package for content
# files, the icon, the AppStream metainfo and the manual pages.
set(ZEPHYRINE_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)

install(TARGETS zephyrine-httpd zephyrine-fetch RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

if(ZEPHYRINE_WITH_QT)
  install(TARGETS zephyrine RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(TARGETS zephyrine_flash LIBRARY DESTINATION ${ZEPHYRINE_INSTALL_LIBDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/data/WinksList.dat DESTINATION ${ZEPHYRINE_INSTALL_DATADIR})
  install(DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/ruffle/
          DESTINATION ${ZEPHYRINE_INSTALL_DATADIR}/ruffle)
  install(DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/demo-content/
          DESTINATION ${ZEPHYRINE_INSTALL_DATADIR}/demo-content
          PATTERN .built EXCLUDE)

  install(FILES ${ZEPHYRINE_PACKAGING_DIR}/zephyrine.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${ZEPHYRINE_PACKAGING_DIR}/zephyrine-mime.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME zephyrine.xml)
  install(FILES ${ZEPHYRINE_PACKAGING_DIR}/zephyrine.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  install(FILES ${ZEPHYRINE_PACKAGING_DIR}/zephyrine-128.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/128x128/apps RENAME zephyrine.png)
  install(FILES ${ZEPHYRINE_PACKAGING_DIR}/zephyrine.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()

# Manual pages, compressed as distributions ship them.
set(ZEPHYRINE_MAN_PAGES zephyrine-httpd zephyrine-fetch)
if(ZEPHYRINE_WITH_QT)
  list(APPEND ZEPHYRINE_MAN_PAGES zephyrine)
endif()
find_program(GZIP_PROGRAM gzip REQUIRED)
set(ZEPHYRINE_MAN_OUTPUTS "")
foreach(page IN LISTS ZEPHYRINE_MAN_PAGES)
  set(out ${CMAKE_BINARY_DIR}/man/${page}.1.gz)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${GZIP_PROGRAM} -9n -c ${ZEPHYRINE_PACKAGING_DIR}/man/${page}.1 > ${out}
    DEPENDS ${ZEPHYRINE_PACKAGING_DIR}/man/${page}.1
    VERBATIM)
  list(APPEND ZEPHYRINE_MAN_OUTPUTS ${out})
endforeach()
add_custom_target(zephyrine_man_pages ALL DEPENDS ${ZEPHYRINE_MAN_OUTPUTS})
install(FILES ${ZEPHYRINE_MAN_OUTPUTS} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
