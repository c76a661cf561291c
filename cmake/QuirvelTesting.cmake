# quirvel_library(<name> SOURCES ... [DEPS ...] [PUBLIC_DEPS ...])
#   One static library per layer folder; includes are relative to the repository root.
# quirvel_test(<name> LABEL <label> SOURCES ... [DEPS ...] [ENV ...])
#   One GoogleTest executable per library, each test case registered with CTest under the label.
#   ENV takes NAME=value pairs that the test executable sets for itself at start; every test
#   case has a time limit, so that a hang fails the run instead of stalling it.
if(QUIRVEL_TESTS)
  enable_testing()
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()

function(quirvel_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PUBLIC_DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_DEPS} PRIVATE ${ARG_DEPS})
  quirvel_warnings(${name})
endfunction()

function(quirvel_test name)
  if(NOT QUIRVEL_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "LABEL" "SOURCES;DEPS;ENV" ${ARGN})
  add_executable(${name} ${ARG_SOURCES} ${PROJECT_SOURCE_DIR}/cmake/test_main.cpp)
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  quirvel_warnings(${name})
  # Tests find their fixtures through this definition, independent of the working directory.
  target_compile_definitions(${name} PRIVATE
    QUIRVEL_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/tests/data"
    QUIRVEL_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  if(ARG_ENV)
    string(JOIN "|" env_text ${ARG_ENV})
    target_compile_definitions(${name} PRIVATE "QUIRVEL_TEST_ENV=\"${env_text}\"")
  endif()
  gtest_discover_tests(${name}
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    DISCOVERY_TIMEOUT 120
    PROPERTIES LABELS ${ARG_LABEL} TIMEOUT 600)
endfunction()
