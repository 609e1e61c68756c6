snt_add_bench(bench_measurement_tick
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/measurement_tick.cpp
          ${PROJECT_SOURCE_DIR}/tests/support/AllocationCounter.cpp
  LIBS snt_tf)
