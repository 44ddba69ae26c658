# Fails unless every dynamic symbol LIBRARY (a shared object or a DLL) defines
# is one of the flat functions, a member of an exported class, or a vtable or
# typeinfo of one.
# The one exception: weak or unique instances from namespace std (an inline
# variable of the standard library used by an unoptimised build, say), which
# the standard headers mark visible themselves.
# A DLL's export table (read with OBJDUMP, demangled with the c++filt beside
# it) is listed in nm's form, every name as a defined function.
if(LIBRARY MATCHES "\\.dll$")
  string(REGEX REPLACE "objdump$" "c++filt" CXXFILT "${OBJDUMP}")
  execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE table RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "objdump failed on ${LIBRARY}")
  endif()
  # The export names: "\t[   0] MIX_AddData" after the table's heading.
  string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n(\t\\[[^\n]+\n)+" table "${table}")
  string(REGEX MATCHALL "\t\\[ *[0-9]+\\] [^\n]+" names "${table}")
  list(TRANSFORM names REPLACE "^\t\\[ *[0-9]+\\] " "")
  execute_process(COMMAND ${CXXFILT} ${names} OUTPUT_VARIABLE demangled RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "c++filt failed")
  endif()
  string(REGEX REPLACE "([^\n]+)" "0 T \\1" listing "${demangled}")
else()
  find_program(NM nm REQUIRED)
  execute_process(COMMAND ${NM} -D --defined-only --demangle ${LIBRARY}
    OUTPUT_VARIABLE listing RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "nm failed on ${LIBRARY}")
  endif()
endif()

set(flat_functions MIX_Init MIX_InitEx MIX_Close MIX_Restart MIX_Pause MIX_AddFile MIX_AddData
  MIX_AppendData MIX_Remove MIX_Clear MIX_Flush MIX_AddStream MIX_AddFileStream MIX_ReadFileFormat
  MIX_ReadFileFormatEx MIX_DescribeFormat MIX_GetBlockSize MIX_InitOn MIX_GetOutputDeviceCount
  MIX_GetOutputDeviceName MIX_GetInputDeviceCount MIX_GetInputDeviceName MIX_StartInput MIX_StartInputFor
  MIX_StopInput MIX_GetLastError Record_Open Record_Close Record_OpenEx Record_GetStatus)
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
  # Weak instantiations of the standard library's templates (a function
  # template's name starts with its return type).
  if(kind MATCHES "^[uVvWw]$" AND name MATCHES "^([^ (]+ )?std::")
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
