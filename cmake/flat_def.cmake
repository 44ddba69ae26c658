# Writes the module definition OUT for sonvale.dll from the linker's list of
# its exports IN: the names without C++ mangling, the flat functions.
file(STRINGS ${IN} lines)
set(def "LIBRARY sonvale.dll\nEXPORTS\n")
foreach(line IN LISTS lines)
  if(line MATCHES "^[ \t]+([A-Za-z][A-Za-z0-9_]*)( |$)")
    string(APPEND def "    ${CMAKE_MATCH_1}\n")
  endif()
endforeach()
file(WRITE ${OUT} "${def}")
