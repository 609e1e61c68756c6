snt_add_bench(bench_signals
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/signals.cpp
  LIBS snt_generator snt_aes67)
