snt_add_bench(bench_asio_callback
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/asio_callback.cpp ${PROJECT_SOURCE_DIR}/tests/support/AllocationCounter.cpp
          ${PROJECT_SOURCE_DIR}/tests/platform/FakeAsioDriver.cpp
  LIBS snt_asio)
