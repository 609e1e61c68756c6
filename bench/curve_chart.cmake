snt_add_bench(bench_curve_chart SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/curve_chart.cpp LIBS snt_ui)
