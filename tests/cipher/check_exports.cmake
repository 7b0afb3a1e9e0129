# Checks that a shared object defines exactly the cipher's functions, each as
# the default version in its node: the first release's eleven in VERSION_NODE,
# each later one in the node of its release; and that it carries its SONAME.
# Run as: cmake -DLIBRARY=<file> -DSONAME=<name> -DVERSION_NODE=<node> -P check_exports.cmake
set(first_release clidec clidesh clienc clishuf decode encode seedcrypt serdec serdesh serenc sershuf)
set(node_of_serseal ${VERSION_NODE}.1)
set(expected ${first_release} serseal)
list(SORT expected)
foreach(name IN LISTS first_release)
  set(node_of_${name} ${VERSION_NODE})
endforeach()

execute_process(COMMAND nm -D --defined-only ${LIBRARY}
                OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${symbols}")
set(exported)
set(unversioned)
foreach(line IN LISTS lines)
  # "<address> <type> <name>[@@version]"; the version node itself is an
  # absolute symbol of its own name.
  if(line MATCHES "^[0-9a-fA-F]+ A ${VERSION_NODE}(\\.1)?$")
    continue()
  endif()
  if(line MATCHES "^[0-9a-fA-F]+ [A-Za-z] ([^@ ]+)(@@?[^ ]+)?$")
    list(APPEND exported ${CMAKE_MATCH_1})
    if(NOT CMAKE_MATCH_2 STREQUAL "@@${node_of_${CMAKE_MATCH_1}}")
      list(APPEND unversioned "${CMAKE_MATCH_1}${CMAKE_MATCH_2}")
    endif()
  endif()
endforeach()
list(SORT exported)
if(NOT exported STREQUAL expected)
  message(FATAL_ERROR "${LIBRARY} exports [${exported}], expected [${expected}]")
endif()
if(unversioned)
  message(FATAL_ERROR "${LIBRARY}: [${unversioned}] lack the default version of their node")
endif()

execute_process(COMMAND readelf -d ${LIBRARY} OUTPUT_VARIABLE dynamic RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT dynamic MATCHES "\\(SONAME\\)[^\n]*\\[${SONAME}\\]")
  message(FATAL_ERROR "${LIBRARY} lacks the SONAME ${SONAME}")
endif()
message(STATUS "${LIBRARY}: eleven exports in ${VERSION_NODE}, serseal in ${node_of_serseal}, "
               "SONAME ${SONAME}")
