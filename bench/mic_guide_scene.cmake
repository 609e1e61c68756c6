snt_add_bench(bench_mic_guide_scene SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/mic_guide_scene.cpp
  LIBS snt_qml Qt6::Test)
