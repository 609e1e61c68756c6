# Compiles a source that holds only "#include <HEADER>" with the include directories INCLUDES
# (separated by "|") and checks the OUTCOME: "refused" when the header must not be found at all,
# "found" when it must compile. Run as cmake -P by the layer probes.
string(REPLACE "|" ";" includes "${INCLUDES}")
set(flags "")
foreach(folder ${includes})
  list(APPEND flags -I${folder})
endforeach()
file(MAKE_DIRECTORY ${WORK})
# Two runs of one probe side by side take turns: neither compiles the other's half-written source.
file(LOCK ${WORK}/probe.lock)
file(WRITE ${WORK}/probe.cpp "#include <${HEADER}>\n")
execute_process(COMMAND ${COMPILER} -std=c++20 -fPIC -fsyntax-only ${flags} ${WORK}/probe.cpp
  RESULT_VARIABLE result ERROR_VARIABLE errors)
if(OUTCOME STREQUAL "refused")
  if(result EQUAL 0)
    message(FATAL_ERROR "<${HEADER}> compiled, but this library must not see it")
  endif()
  string(FIND "${errors}" "${HEADER}: No such file or directory" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "<${HEADER}> failed, but not for want of the header:\n${errors}")
  endif()
elseif(NOT result EQUAL 0)
  message(FATAL_ERROR "<${HEADER}> did not compile:\n${errors}")
endif()
