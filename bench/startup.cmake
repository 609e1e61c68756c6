snt_add_bench(bench_startup SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/startup.cpp
  LIBS snt_app snt_backends snt_startup snt_qml snt_ui)
