# Fails unless every dynamic symbol LIBRARY defines is one of the flat
# functions, a member of an exported class, or a vtable or typeinfo of one.
# The one exception: weak or unique instances from namespace std (an inline
# variable of the standard library used by an unoptimised build, say), which
# the standard headers mark visible themselves.
find_program(NM nm REQUIRED)
execute_process(COMMAND ${NM} -D --defined-only --demangle ${LIBRARY}
  OUTPUT_VARIABLE listing RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()

set(flat_functions MIX_Init MIX_InitEx MIX_Close MIX_Restart MIX_Pause MIX_AddFile MIX_AddData
  MIX_AppendData MIX_Remove MIX_Clear MIX_Flush MIX_AddStream MIX_AddFileStream MIX_ReadFileFormat
  MIX_GetLastError Record_Open Record_Close)
string(JOIN "|" flat ${flat_functions})
set(classes "CWaveData|CWaveRecorder|CWaveMixOut|CSonvale|CMyPtrArray")
# Symbols the linker itself defines in every shared object.
set(linker "_init|_fini|_edata|_end|__bss_start")
set(allowed "^((${flat}|${linker})|(vtable for |typeinfo for |typeinfo name for )?(${classes})(::.*)?)$")

string(REPLACE "\n" ";" lines "${listing}")
set(count 0)
set(stray "")
foreach(line IN LISTS lines)
  # "<address> <type> <name>"; the name may contain spaces.
  if(NOT line MATCHES "^[0-9a-fA-F]+ ([A-Za-z]) (.*)$")
    continue()
  endif()
  set(kind "${CMAKE_MATCH_1}")
  set(name "${CMAKE_MATCH_2}")
  math(EXPR count "${count} + 1")
  if(kind MATCHES "^[uVvWw]$" AND name MATCHES "^std::")
    continue()
  endif()
  if(NOT name MATCHES "${allowed}")
    string(APPEND stray "  ${name}\n")
  endif()
endforeach()

if(count EQUAL 0)
  message(FATAL_ERROR "no exported symbols found in ${LIBRARY}")
endif()
if(stray)
  message(FATAL_ERROR "exported beyond the public interface:\n${stray}")
endif()
foreach(f IN LISTS flat_functions)
  if(NOT listing MATCHES " T ${f}\n")
    message(FATAL_ERROR "${f} is not exported with C linkage")
  endif()
endforeach()
