# Compares the plug-in's defined dynamic symbols (demangled) with the list
# checked in beside this script. Run with -DPLUGIN=<file> -DEXPECTED=<list>.
find_program(NM nm REQUIRED)
execute_process(COMMAND ${NM} -D --defined-only -C ${PLUGIN}
  OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${PLUGIN}")
endif()

# "<address> <type> <name>": keep the name, which may contain spaces.
string(REPLACE "\n" ";" lines "${listing}")
set(actual "")
foreach(line IN LISTS lines)
  if(line MATCHES "^[0-9a-fA-F]+ [A-Za-z] (.+)$")
    list(APPEND actual "${CMAKE_MATCH_1}")
  endif()
endforeach()
list(REMOVE_DUPLICATES actual)
list(SORT actual)

file(STRINGS ${EXPECTED} expected)
list(FILTER expected EXCLUDE REGEX "^#|^$")
list(SORT expected)

set(unexpected ${actual})
list(REMOVE_ITEM unexpected ${expected})
set(missing ${expected})
list(REMOVE_ITEM missing ${actual})
if(unexpected OR missing)
  list(JOIN unexpected "\n  " u)
  list(JOIN missing "\n  " m)
  message(FATAL_ERROR "plug-in exports differ from ${EXPECTED}\n"
    "exported but not listed:\n  ${u}\nlisted but not exported:\n  ${m}")
endif()
list(LENGTH actual n)
message(STATUS "plug-in exports match (${n} symbols)")
