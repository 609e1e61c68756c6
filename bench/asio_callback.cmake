snt_add_bench(bench_asio_callback
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/asio_callback.cpp ${CMAKE_CURRENT_SOURCE_DIR}/AllocationCount.cpp
          ${PROJECT_SOURCE_DIR}/tests/platform/FakeAsioDriver.cpp
  LIBS snt_audio)
