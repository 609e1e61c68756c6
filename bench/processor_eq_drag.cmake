snt_add_bench(bench_processor_eq_drag SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/processor_eq_drag.cpp
  LIBS snt_qml snt_app snt_processor Qt6::Quick Qt6::Test)
