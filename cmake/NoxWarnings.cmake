# Shared compile settings for every target of the project.
add_library(nox_warnings INTERFACE)
target_compile_options(nox_warnings INTERFACE -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Wformat=2)

# nox_add_library(<name> <sources...>): a static library of one src/ folder.
function(nox_add_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC nox_warnings)
endfunction()

# nox_add_test(<name> SOURCES <sources...> LIBS <libs...> [LABELS <label>]): one test executable
# per tests/ folder. Its tests carry the label "unit" unless another one (for example
# "differential") is given; gtest_discover_tests takes a single label value.
function(nox_add_test name)
  cmake_parse_arguments(arg "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE ${arg_LIBS} GTest::gmock GTest::gtest_main nox_warnings)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  set(labels unit)
  if(arg_LABELS)
    set(labels ${arg_LABELS})
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES LABELS "${labels}")
endfunction()
