# What a Windows binary of Sonvale carries beside its code: a version
# resource; its debug information and symbol table go to a file of their own
# (<binary>.debug, which debuggers find through the binary's debug link), so
# that what is shipped is stripped, as Debian's packages are. And for
# sonvale.dll an MSVC-style import library, sonvale.lib, with its module
# definition sonvale.def: the flat functions, which any compiler can call.
enable_language(RC)
find_program(SONVALE_DLLTOOL NAMES llvm-dlltool x86_64-w64-mingw32-dlltool dlltool)

# Gives `target` (file name `file`, an application or a DLL) a version
# resource and its debug information apart.
function(sonvale_windows_binary target file description)
  if(file MATCHES "\\.dll$")
    set(SONVALE_RC_TYPE VFT_DLL)
  else()
    set(SONVALE_RC_TYPE VFT_APP)
  endif()
  set(SONVALE_RC_FILE ${file})
  set(SONVALE_RC_DESCRIPTION ${description})
  get_filename_component(SONVALE_RC_NAME ${file} NAME_WE)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE:${target}> $<TARGET_FILE:${target}>.debug
    COMMAND ${CMAKE_OBJCOPY} --strip-unneeded --add-gnu-debuglink=$<TARGET_FILE:${target}>.debug
            $<TARGET_FILE:${target}>
    VERBATIM)
  if(SONVALE_INSTALL)
    install(FILES $<TARGET_FILE:${target}>.debug DESTINATION ${CMAKE_INSTALL_BINDIR}
      COMPONENT debug EXCLUDE_FROM_ALL)
  endif()
endfunction()

sonvale_windows_binary(sonvale sonvale.dll "Sonvale audio library")

# The linker lists every export; the module definition keeps the flat
# functions (those with plain names), from which the import library is made.
target_link_options(sonvale PRIVATE -Wl,--output-def,${PROJECT_BINARY_DIR}/sonvale-exports.def)
if(SONVALE_DLLTOOL)
  add_custom_command(TARGET sonvale POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DIN=${PROJECT_BINARY_DIR}/sonvale-exports.def
            -DOUT=${PROJECT_BINARY_DIR}/sonvale.def -P ${PROJECT_SOURCE_DIR}/cmake/flat_def.cmake
    COMMAND ${SONVALE_DLLTOOL} -m i386:x86-64 -D sonvale.dll -d ${PROJECT_BINARY_DIR}/sonvale.def
            -l ${PROJECT_BINARY_DIR}/sonvale.lib
    VERBATIM)
  if(SONVALE_INSTALL)
    install(FILES ${PROJECT_BINARY_DIR}/sonvale.lib ${PROJECT_BINARY_DIR}/sonvale.def
      DESTINATION ${CMAKE_INSTALL_LIBDIR})
  endif()
else()
  message(NOTICE "Sonvale: building without sonvale.lib, for want of llvm-dlltool (llvm) or dlltool")
endif()
