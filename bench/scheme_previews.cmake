snt_add_bench(bench_scheme_previews
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/scheme_previews.cpp
  LIBS snt_app)
