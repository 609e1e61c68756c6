snt_add_bench(bench_bridge_tick
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bridge_tick.cpp
          ${PROJECT_SOURCE_DIR}/tests/support/LoopbackCard.cpp
          ${PROJECT_SOURCE_DIR}/tests/support/LoopbackCard.h
  LIBS snt_app)
