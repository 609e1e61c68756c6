snt_add_bench(bench_sub_scene_view SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/sub_scene_view.cpp
  LIBS snt_qml Qt6::Test)
