snt_add_bench(bench_processor_cache SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/processor_cache.cpp LIBS snt_processor)
