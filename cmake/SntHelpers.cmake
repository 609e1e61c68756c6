# snt_export_headers(target header ...): the include root the target exports, a folder of the
# build tree that holds only these headers (as links, at their paths from the source root, so
# "eq/Records.h" is still written so). A source sees the roots of its own library and of the
# libraries it links, never the whole source tree: a header of a layer the library does not link
# fails to compile. scripts/check-layers.sh checks the same per folder, which tells apart the
# folders of one library.
function(snt_export_headers target)
  set(root ${CMAKE_BINARY_DIR}/include-roots/${target})
  file(REMOVE_RECURSE ${root})
  foreach(header ${ARGN})
    get_filename_component(source ${header} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    file(RELATIVE_PATH path ${PROJECT_SOURCE_DIR} ${source})
    get_filename_component(folder ${root}/${path} DIRECTORY)
    file(MAKE_DIRECTORY ${folder})
    file(CREATE_LINK ${source} ${root}/${path} SYMBOLIC)
  endforeach()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
endfunction()

# snt_add_library(name SOURCES ... LIBS ... [PRIVATE_LIBS ...]): one static library per source
# folder, so the program, the tests and the benchmarks link exactly the same code. LIBS are what
# the library's headers need (passed on to whoever links it); PRIVATE_LIBS only its sources. The
# library exports the root of its own headers (those among SOURCES) and passes on those of LIBS.
function(snt_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;PRIVATE_LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  set(headers ${ARG_SOURCES})
  list(FILTER headers INCLUDE REGEX "\\.h$")
  snt_export_headers(${name} ${headers})
  target_link_libraries(${name} PUBLIC ${ARG_LIBS} PRIVATE ${ARG_PRIVATE_LIBS})
endfunction()

# snt_add_test(name SOURCES ... LIBS ... [LABELS ...] [TIMEOUT s] [FUNCTIONS ...]
#              [LAUNCHER program ...] [X_SERVER]): one Qt Test executable per area, registered with
# CTest.
# Every test gets its own sandboxed HOME and XDG folders from the shared test main
# (tests/support/TestMain.h), so no test touches a real user's settings or documents. With
# FUNCTIONS, each named test function is a CTest entry of its own ("<name>_<function>"), so slow
# ones run in parallel; "<function>:<row>" names one row of a function's data, for rows that each
# take minutes on a busy machine (its entry's name is made of both, as a C identifier); the
# entries' names are left in <name>_entries for properties of some of them. An entry of its own,
# "<name>_entries_complete", fails when the test has a function or row no entry runs. LAUNCHER
# runs the executable through another program (for example one that sets up a network namespace
# first). X_SERVER runs each entry on an X server of its own (tests/support/own_x_server.sh), for
# tests that show windows or use the clipboard.
function(snt_add_test name)
  cmake_parse_arguments(ARG "X_SERVER" "TIMEOUT" "SOURCES;LIBS;LABELS;FUNCTIONS;LAUNCHER" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  # A test may include any header of the tree, as the layer check lets it.
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE Qt6::Test snt_testmain ${ARG_LIBS})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  if(ARG_X_SERVER)
    list(PREPEND ARG_LAUNCHER ${SNT_OWN_X_SERVER})
  endif()
  set(entries ${name})
  if(ARG_FUNCTIONS)
    set(entries "")
    foreach(function ${ARG_FUNCTIONS})
      string(MAKE_C_IDENTIFIER "${name}_${function}" entry)
      add_test(NAME ${entry} COMMAND ${ARG_LAUNCHER} $<TARGET_FILE:${name}> ${function})
      list(APPEND entries ${entry})
    endforeach()
    snt_add_entries_check(${name} ${ARG_FUNCTIONS})
  else()
    add_test(NAME ${name} COMMAND ${ARG_LAUNCHER} $<TARGET_FILE:${name}>)
  endif()
  set_tests_properties(${entries} PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS "${ARG_LABELS}")
  set(${name}_entries ${entries} PARENT_SCOPE)
endfunction()

# snt_add_entries_check(name function ...): the entry that fails when test `name` has a function
# or row that none of the named ones runs (cmake/CheckTestEntries.cmake). It only lists the
# test's functions and rows, which needs no display.
function(snt_add_entries_check name)
  string(JOIN "|" named ${ARGN})
  add_test(NAME ${name}_entries_complete
    COMMAND ${CMAKE_COMMAND} "-DTEST=$<TARGET_FILE:${name}>" "-DNAMED=${named}"
      -P ${PROJECT_SOURCE_DIR}/cmake/CheckTestEntries.cmake)
  set_tests_properties(${name}_entries_complete PROPERTIES TIMEOUT 60
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()

# snt_add_release_warnings_test(name library source): a test that `source`, a file of `library`,
# compiles without warnings at the release build's optimisation, whose inlining lets GCC's flow
# analysis see further than in the sanitizer build: the build a user runs prints none.
function(snt_add_release_warnings_test name library source)
  separate_arguments(release_flags UNIX_COMMAND "${CMAKE_CXX_FLAGS_RELEASE}")
  add_test(NAME ${name}
    COMMAND ${CMAKE_CXX_COMPILER} -std=c++20 ${release_flags} -Wall -Wextra -Werror -c -o /dev/null
      "-I$<JOIN:$<TARGET_PROPERTY:${library},INCLUDE_DIRECTORIES>,;-I>" ${source}
    COMMAND_EXPAND_LISTS)
endfunction()

# The launcher that gives a test an X server of its own.
set(SNT_OWN_X_SERVER ${PROJECT_SOURCE_DIR}/tests/support/own_x_server.sh)

# snt_add_bench(name SOURCES ... LIBS ...): a Google Benchmark executable, run by hand.
function(snt_add_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE benchmark::benchmark ${ARG_LIBS})
endfunction()

# snt_add_svg_resources(name PREFIX prefix [SVG_ONLY key ...]): the pictures of the current
# source folder as resources under PREFIX: every SVG as drawn and, beside each (except the
# SVG_ONLY keys), a PNG of the same name rendered from it at twice its size during the build, so
# that the two forms never diverge. Resources only, kept as an object library so that their
# registration is linked into every program and test that links the target directly.
function(snt_add_svg_resources name)
  cmake_parse_arguments(ARG "" "PREFIX" "SVG_ONLY" ${ARGN})
  file(GLOB svg_files RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} CONFIGURE_DEPENDS *.svg)
  set(png_files "")
  foreach(svg ${svg_files})
    get_filename_component(key ${svg} NAME_WE)
    if(key IN_LIST ARG_SVG_ONLY)
      continue()
    endif()
    set(png ${CMAKE_CURRENT_BINARY_DIR}/${key}.png)
    add_custom_command(OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
              $<TARGET_FILE:snt_render_png> ${CMAKE_CURRENT_SOURCE_DIR}/${svg} ${png} 2
      DEPENDS snt_render_png ${CMAKE_CURRENT_SOURCE_DIR}/${svg}
      COMMENT "Rendering ${key}.png")
    list(APPEND png_files ${png})
  endforeach()
  add_library(${name} OBJECT)
  qt_add_resources(${name} ${name}_svg PREFIX ${ARG_PREFIX} FILES ${svg_files})
  qt_add_resources(${name} ${name}_png PREFIX ${ARG_PREFIX} BASE ${CMAKE_CURRENT_BINARY_DIR}
    FILES ${png_files})
  target_link_libraries(${name} PUBLIC Qt6::Core)
endfunction()
