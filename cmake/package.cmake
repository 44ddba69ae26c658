# The release archive of a build: `cmake --build <dir> --target package` packs
# what `cmake --install` installs, with a SHA-256 checksum beside it. From the
# MinGW build that is sonvale-<version>-win64.zip, whose binaries are stripped
# (their debug information stays in the build, see cmake/windows.cmake).
set(CPACK_PACKAGE_NAME sonvale)
set(CPACK_PACKAGE_VENDOR "The Sonvale developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
else()
  set(CPACK_GENERATOR TGZ)
  set(CPACK_SYSTEM_NAME ${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR})
endif()
set(CPACK_PACKAGE_FILE_NAME sonvale-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
set(CPACK_PACKAGE_CHECKSUM SHA256)
include(CPack)
