# The API reference: Doxygen's HTML from include/sonvale.h and its main page
# docs/mainpage.md (docs/Doxyfile),
# built with the library and installed into the documentation folder. The
# checked-in Doxyfile is read as it is; only the folders and the version come
# from this build.
set(SONVALE_DOCS_DIR ${PROJECT_BINARY_DIR}/docs)
file(WRITE ${SONVALE_DOCS_DIR}/Doxyfile.build
  "@INCLUDE = ${PROJECT_SOURCE_DIR}/docs/Doxyfile\n"
  "INPUT = ${PROJECT_SOURCE_DIR}/include/sonvale.h ${PROJECT_SOURCE_DIR}/docs/mainpage.md\n"
  "STRIP_FROM_PATH = ${PROJECT_SOURCE_DIR}/include\n"
  "OUTPUT_DIRECTORY = ${SONVALE_DOCS_DIR}\n"
  "WARN_LOGFILE = ${SONVALE_DOCS_DIR}/warnings.txt\n"
  "PROJECT_NUMBER = ${PROJECT_VERSION}\n")
add_custom_command(OUTPUT ${SONVALE_DOCS_DIR}/html/index.html
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${SONVALE_DOCS_DIR}/html
  COMMAND ${DOXYGEN_EXECUTABLE} ${SONVALE_DOCS_DIR}/Doxyfile.build
  DEPENDS ${PROJECT_SOURCE_DIR}/include/sonvale.h ${PROJECT_SOURCE_DIR}/docs/mainpage.md
          ${PROJECT_SOURCE_DIR}/docs/Doxyfile
  COMMENT "The API reference (Doxygen)"
  VERBATIM)
add_custom_target(sonvale_docs ALL DEPENDS ${SONVALE_DOCS_DIR}/html/index.html)
if(SONVALE_INSTALL)
  install(DIRECTORY ${SONVALE_DOCS_DIR}/html DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()
