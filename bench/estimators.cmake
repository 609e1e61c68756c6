snt_add_bench(bench_estimators
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/estimators.cpp
  LIBS snt_dsp)
