snt_add_bench(bench_idle_window SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/idle_window.cpp
  LIBS snt_qml snt_app snt_backends snt_testcard Qt6::Test)
