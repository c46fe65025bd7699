# Shared helpers: one library per folder, one test program per test folder.

set(VELMORA_WARNINGS -Wall -Wextra -Werror)

# velmora_library(<name> [DEPS <targets>...])
# Collects every .cpp below the calling folder; a folder without sources
# yet becomes an interface library so its dependents still link.
function(velmora_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_compile_options(${name} PRIVATE ${VELMORA_WARNINGS})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# velmora_tests(<folder> [DEPS <targets>...])
# Builds tests/<folder>/**/*Test.cpp (and helpers without a main) into one
# GoogleTest program and registers every test case with CTest.
function(velmora_tests folder)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*.cpp)
  list(FILTER sources EXCLUDE REGEX "Fuzz\\.cpp$")
  if(NOT sources)
    return()
  endif()
  set(exe ${folder}_tests)
  add_executable(${exe} ${sources})
  target_compile_options(${exe} PRIVATE ${VELMORA_WARNINGS})
  target_include_directories(${exe} PRIVATE ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${exe} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main GTest::gmock)
  target_compile_definitions(${exe} PRIVATE
    VELMORA_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    VELMORA_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/${folder}")
  gtest_discover_tests(${exe}
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    DISCOVERY_TIMEOUT 120
    PROPERTIES ENVIRONMENT "VELMORA_SOURCE_DIR=${PROJECT_SOURCE_DIR};VELMORA_BINARY_DIR=${PROJECT_BINARY_DIR}")
endfunction()
