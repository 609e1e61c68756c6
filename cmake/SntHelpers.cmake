# snt_add_library(name folder SOURCES ... LIBS ...): one static library per source folder, so the
# program, the tests and the benchmarks link exactly the same code.
function(snt_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_LIBS})
endfunction()

# snt_add_test(name SOURCES ... LIBS ... [LABELS ...] [TIMEOUT s] [WRAPPER command ...]): one Qt
# Test executable per area, registered with CTest. Every test gets its own sandboxed HOME and XDG
# folders from the shared test main (tests/support/TestMain.h), so no test touches a real user's
# settings or documents. A WRAPPER runs the test through a command (say, in a network namespace
# of its own); its exit code 77 counts as a skip.
function(snt_add_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS;WRAPPER" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE Qt6::Test snt_testsupport ${ARG_LIBS})
  add_test(NAME ${name} COMMAND ${ARG_WRAPPER} $<TARGET_FILE:${name}>)
  if(ARG_WRAPPER)
    set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77)
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS "${ARG_LABELS}")
endfunction()

# snt_add_bench(name SOURCES ... LIBS ...): a Google Benchmark executable, run by hand.
function(snt_add_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE benchmark::benchmark ${ARG_LIBS})
endfunction()
