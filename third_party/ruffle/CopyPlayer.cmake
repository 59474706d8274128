# Copies the player files of the Ruffle package (scripts and wasm, no source maps) into DST.
# Run at build time: the file names carry content hashes and are known only after npm install.
file(GLOB files "${SRC}/ruffle.js" "${SRC}/core.ruffle.*.js" "${SRC}/*.wasm")
list(FILTER files EXCLUDE REGEX "\\.map$")
if(NOT files)
  message(WARNING "The Ruffle player is not installed in ${SRC}; run scripts/setup.sh. "
                  "Previews will show an error until it is.")
  return()
endif()
file(MAKE_DIRECTORY "${DST}")
file(COPY ${files} DESTINATION "${DST}")
