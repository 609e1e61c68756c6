snt_add_bench(bench_bridge_tick SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bridge_tick.cpp
  LIBS snt_app snt_testcard)
