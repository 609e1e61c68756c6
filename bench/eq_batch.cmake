snt_add_bench(bench_eq_batch
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/eq_batch.cpp ${PROJECT_SOURCE_DIR}/tests/startup/BatchFiles.h
  LIBS snt_startup snt_app Qt6::Test)
