snt_add_bench(bench_compute_schemes SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/compute_schemes.cpp LIBS snt_eq)
