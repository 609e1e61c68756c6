snt_add_bench(bench_alignment SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/alignment.cpp LIBS snt_app)
