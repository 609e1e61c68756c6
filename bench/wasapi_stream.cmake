snt_add_bench(bench_wasapi_stream
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/wasapi_stream.cpp
          ${PROJECT_SOURCE_DIR}/tests/platform/FakeAudioSystem.cpp
  LIBS snt_wasapi)
