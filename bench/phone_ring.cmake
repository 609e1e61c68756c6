snt_add_bench(bench_phone_ring SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/phone_ring.cpp LIBS snt_phone)
