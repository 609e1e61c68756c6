snt_add_bench(bench_system_check SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/system_check.cpp
  LIBS snt_app snt_wasapi)
