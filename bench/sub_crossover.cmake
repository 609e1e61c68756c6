snt_add_bench(bench_sub_crossover SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/sub_crossover.cpp LIBS snt_eq)
