snt_add_bench(bench_measure_session SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/measure_session.cpp
  LIBS snt_app snt_testcard)
