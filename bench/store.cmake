snt_add_bench(bench_store SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/store.cpp LIBS snt_store)
