snt_add_bench(bench_processor_levels SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/processor_levels.cpp LIBS snt_processor)
