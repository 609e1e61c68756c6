# snt_add_library(name SOURCES ... LIBS ... [PRIVATE_LIBS ...]): one static library per source
# folder, so the program, the tests and the benchmarks link exactly the same code. LIBS are what
# the library's headers need (passed on to whoever links it); PRIVATE_LIBS only its sources.
# Which folders a folder may include is checked by scripts/check-layers.sh.
function(snt_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;PRIVATE_LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_LIBS} PRIVATE ${ARG_PRIVATE_LIBS})
endfunction()

# snt_add_test(name SOURCES ... LIBS ... [LABELS ...] [TIMEOUT s] [FUNCTIONS ...]
#              [LAUNCHER program ...]): one Qt Test executable per area, registered with CTest.
# Every test gets its own sandboxed HOME and XDG folders from the shared test main
# (tests/support/TestMain.h), so no test touches a real user's settings or documents. With
# FUNCTIONS, each named test function is a CTest entry of its own ("<name>_<function>"), so slow
# ones run in parallel. LAUNCHER runs the executable through another program (for example one
# that sets up a network namespace first).
function(snt_add_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS;FUNCTIONS;LAUNCHER" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE Qt6::Test snt_testmain ${ARG_LIBS})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  set(entries ${name})
  if(ARG_FUNCTIONS)
    set(entries "")
    foreach(function ${ARG_FUNCTIONS})
      add_test(NAME ${name}_${function} COMMAND ${ARG_LAUNCHER} $<TARGET_FILE:${name}> ${function})
      list(APPEND entries ${name}_${function})
    endforeach()
  else()
    add_test(NAME ${name} COMMAND ${ARG_LAUNCHER} $<TARGET_FILE:${name}>)
  endif()
  set_tests_properties(${entries} PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS "${ARG_LABELS}")
endfunction()

# snt_add_bench(name SOURCES ... LIBS ...): a Google Benchmark executable, run by hand.
function(snt_add_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE benchmark::benchmark ${ARG_LIBS})
endfunction()
