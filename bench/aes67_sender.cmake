snt_add_bench(bench_aes67_sender SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/aes67_sender.cpp LIBS snt_aes67)
