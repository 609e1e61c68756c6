snt_add_bench(bench_display_curve SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/display_curve.cpp LIBS snt_eq)
