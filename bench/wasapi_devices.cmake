snt_add_bench(bench_wasapi_devices SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/wasapi_devices.cpp LIBS snt_wasapi)
