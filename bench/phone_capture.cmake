snt_add_bench(bench_phone_capture SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/phone_capture.cpp LIBS snt_tf snt_phone)
