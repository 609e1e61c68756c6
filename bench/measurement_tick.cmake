snt_add_bench(bench_measurement_tick
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/measurement_tick.cpp ${CMAKE_CURRENT_SOURCE_DIR}/AllocationCount.cpp
  LIBS snt_engine)
