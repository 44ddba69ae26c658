# What `cmake --install` puts into a prefix for other projects: the shared
# library with its SONAME links, the header, a CMake package giving
# Sonvale::sonvale, sonvale.pc and the licence; on Windows the DLL in bin/ and
# its import libraries in lib/ (libsonvale.dll.a for MinGW, sonvale.lib and
# sonvale.def for MSVC-style linkers). Only the shared library is exported;
# the object library and the static archive stay inside this build.
include(CMakePackageConfigHelpers)

set(SONVALE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Sonvale)

# The target's own INSTALL_INTERFACE names the include folder.
install(TARGETS sonvale EXPORT SonvaleTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/sonvale.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(EXPORT SonvaleTargets NAMESPACE Sonvale:: DESTINATION ${SONVALE_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/SonvaleConfig.cmake.in
  ${PROJECT_BINARY_DIR}/SonvaleConfig.cmake
  INSTALL_DESTINATION ${SONVALE_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/SonvaleConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/SonvaleConfig.cmake ${PROJECT_BINARY_DIR}/SonvaleConfigVersion.cmake
  DESTINATION ${SONVALE_CMAKE_DIR})

# sonvale.pc finds its folders from its own place, so the installed tree
# works wherever `cmake --install --prefix` puts it.
file(RELATIVE_PATH SONVALE_PC_TO_PREFIX
  ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" SONVALE_PC_TO_PREFIX "${SONVALE_PC_TO_PREFIX}")
file(RELATIVE_PATH SONVALE_PC_TO_INCLUDEDIR
  ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_FULL_INCLUDEDIR})
configure_file(${CMAKE_CURRENT_LIST_DIR}/sonvale.pc.in ${PROJECT_BINARY_DIR}/sonvale.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/sonvale.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(WIN32)
  # A Windows prefix is a folder of its own, the licence and a word on its
  # use at the top.
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/README-windows.txt DESTINATION . RENAME README.txt)
else()
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()
