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

# nox_header_only(<target> <package> <imported target> <header dir> <probe header>): an
# interface library for a header-only dependency. A cross build cannot use the host's package
# config (it may not search host paths), so it gets a copy of just that library's headers
# instead of all of /usr/include.
function(nox_header_only target package imported dir probe)
  find_package(${package} QUIET)
  add_library(${target} INTERFACE)
  if(${package}_FOUND AND TARGET ${imported})
    target_link_libraries(${target} INTERFACE ${imported})
  else()
    find_path(NOX_${target}_DIR ${dir}/${probe} PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
    file(COPY ${NOX_${target}_DIR}/${dir} DESTINATION ${CMAKE_BINARY_DIR}/third_party/include)
    target_include_directories(${target} SYSTEM INTERFACE ${CMAKE_BINARY_DIR}/third_party/include)
  endif()
endfunction()
