snt_add_bench(bench_measure_session
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/measure_session.cpp
          ${PROJECT_SOURCE_DIR}/tests/support/LoopbackCard.cpp
          ${PROJECT_SOURCE_DIR}/tests/support/LoopbackCard.h
  LIBS snt_app)
