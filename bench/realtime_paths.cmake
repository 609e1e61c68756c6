snt_add_bench(bench_realtime_paths
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/realtime_paths.cpp
          ${PROJECT_SOURCE_DIR}/tests/support/AllocationCounter.cpp
  LIBS snt_tf snt_backends snt_testmain snt_testcard)
