snt_add_bench(bench_pack_library SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/pack_library.cpp
  LIBS snt_qml snt_app snt_startup snt_testcard Qt6::Test)
