snt_add_bench(bench_pack_export SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/pack_export.cpp LIBS snt_app)
