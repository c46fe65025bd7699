# Shared helpers: one library per folder, one test program per test folder.

# Warnings are errors only where we ask for it (./test.sh, CI): a user's or a
# packager's compiler may warn where ours does not, and must still build.
option(VELMORA_WERROR "Treat compiler warnings as errors" OFF)
set(VELMORA_WARNINGS -Wall -Wextra)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  # GCC 12 reports -Wrestrict inside libstdc++'s own string code at -O2 and
  # above (GCC bug 105329): nothing of ours to mend.
  list(APPEND VELMORA_WARNINGS -Wno-restrict)
endif()
if(VELMORA_WERROR)
  list(APPEND VELMORA_WARNINGS -Werror)
endif()

# The shared libraries loaded by name at run time (Dizuvo, the CAPI library)
# sit here; programs and tests find them through their run path.
set(VELMORA_LIBRARY_DIR ${PROJECT_BINARY_DIR}/lib)
set(CMAKE_BUILD_RPATH ${VELMORA_LIBRARY_DIR})

# velmora_library(<name> [DEPS <targets>...] [EXCLUDE <regex>...])
# Collects every .cpp below the calling folder (but those matching EXCLUDE);
# a folder without sources yet becomes an interface library so its
# dependents still link.
function(velmora_library name)
  cmake_parse_arguments(ARG "" "" "DEPS;EXCLUDE" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  foreach(pattern ${ARG_EXCLUDE})
    list(FILTER sources EXCLUDE REGEX "${pattern}")
  endforeach()
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

# The cases spend their time in the product code they call, which keeps the
# build type's optimisation and debug information; their own code builds in
# less than half the time with less of both (line tables still name the place
# of a failure). The headers nearly every case includes are parsed once per program.
set(VELMORA_TEST_CODE_OPTIMISATION "$<$<NOT:$<CONFIG:Debug>>:-Og;-g1>")
set(VELMORA_TEST_HEADERS <gtest/gtest.h> <algorithm> <chrono> <cmath> <cstdint> <cstring> <filesystem>
    <fstream> <random> <string> <thread> <vector>)

# velmora_tests(<folder> [DEPS <targets>...] [LAUNCHER <script>] [RESOURCE_LOCK <name>] [PROCESSORS <n>])
# Builds tests/<folder>/**/*Test.cpp (and helpers without a main) into one
# GoogleTest program and registers every test case with CTest; LAUNCHER runs
# each case (and the listing of cases) through a script.
function(velmora_tests folder)
  cmake_parse_arguments(ARG "" "RESOURCE_LOCK;LAUNCHER;PROCESSORS;COST;RESOURCE_GROUPS" "DEPS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*.cpp)
  set(fuzzers ${sources})
  list(FILTER fuzzers INCLUDE REGEX "Fuzz\\.cpp$")
  list(FILTER sources EXCLUDE REGEX "Fuzz\\.cpp$")
  # tests/<folder>/.../XFuzz.cpp becomes fuzz target XFuzz; its seeds live in
  # corpus/XFuzz/ beside it.
  foreach(f ${fuzzers})
    get_filename_component(fname ${f} NAME_WE)
    get_filename_component(fdir ${f} DIRECTORY)
    velmora_fuzz(${fname} SOURCE ${f} DEPS ${ARG_DEPS} CORPUS ${fdir}/corpus/${fname})
  endforeach()
  if(NOT sources)
    return()
  endif()
  set(exe ${folder}_tests)
  set(lock "")
  if(ARG_RESOURCE_LOCK)
    set(lock RESOURCE_LOCK ${ARG_RESOURCE_LOCK})
  endif()
  if(ARG_PROCESSORS)
    list(APPEND lock PROCESSORS ${ARG_PROCESSORS})
  endif()
  # CTest starts the costliest first; without timings of an earlier run
  # (a fresh build) it goes by this estimate.
  if(ARG_COST)
    list(APPEND lock COST ${ARG_COST})
  endif()
  if(ARG_RESOURCE_GROUPS)
    list(APPEND lock RESOURCE_GROUPS ${ARG_RESOURCE_GROUPS})
  endif()
  add_executable(${exe} ${sources})
  if(ARG_LAUNCHER)
    set_target_properties(${exe} PROPERTIES CROSSCOMPILING_EMULATOR ${ARG_LAUNCHER})
  endif()
  target_compile_options(${exe} PRIVATE ${VELMORA_WARNINGS} ${VELMORA_TEST_CODE_OPTIMISATION})
  target_precompile_headers(${exe} PRIVATE ${VELMORA_TEST_HEADERS})
  target_include_directories(${exe} PRIVATE ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${exe} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main GTest::gmock)
  target_compile_definitions(${exe} PRIVATE
    VELMORA_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    VELMORA_BINARY_DIR="${PROJECT_BINARY_DIR}"
    VELMORA_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/${folder}")
  gtest_discover_tests(${exe}
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    DISCOVERY_TIMEOUT 120
    # The registry stand-in would otherwise live in ~/.velmora: tests keep theirs in the build tree.
    # One variable per property: a ';' inside a value does not survive discovery.
    PROPERTIES ENVIRONMENT "VELMORA_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
               ENVIRONMENT_MODIFICATION "VELMORA_REGISTRY_FILE=set:${CMAKE_CURRENT_BINARY_DIR}/${folder}-registry"
               ${lock})
endfunction()

# velmora_fuzz(<name> SOURCE <tests/.../XFuzz.cpp> DEPS <targets>... [CORPUS <dir>])
# A fuzz target defines LLVMFuzzerTestOneInput. Every build replays its seed
# corpus (and any regression inputs) as a CTest; a clang build with
# VELMORA_FUZZ=ON also runs libFuzzer on it for VELMORA_FUZZ_SECONDS.
option(VELMORA_FUZZ "Build libFuzzer targets (clang only)" OFF)
set(VELMORA_FUZZ_SECONDS 20 CACHE STRING "Seconds each fuzz target runs in CTest")
function(velmora_fuzz name)
  cmake_parse_arguments(ARG "" "SOURCE;CORPUS" "DEPS" ${ARGN})
  add_executable(${name}_replay ${ARG_SOURCE} ${PROJECT_SOURCE_DIR}/tests/FuzzReplayMain.cpp)
  target_compile_options(${name}_replay PRIVATE ${VELMORA_WARNINGS})
  target_include_directories(${name}_replay PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name}_replay PRIVATE ${ARG_DEPS})
  if(ARG_CORPUS AND NOT EXISTS ${ARG_CORPUS})
    set(ARG_CORPUS "")
  endif()
  add_test(NAME ${name}.replay COMMAND ${name}_replay ${ARG_CORPUS})
  if(VELMORA_FUZZ AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    add_executable(${name} ${ARG_SOURCE})
    target_compile_options(${name} PRIVATE ${VELMORA_WARNINGS} -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
    target_link_libraries(${name} PRIVATE ${ARG_DEPS})
    # libFuzzer writes what it finds into the first folder it is given. Made here rather than by a
    # set-up test: CTest would start all such tests first, ahead of the long program tests.
    set(work ${CMAKE_CURRENT_BINARY_DIR}/${name}.corpus)
    file(MAKE_DIRECTORY ${work})
    add_test(NAME ${name}.fuzz
             COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=1
                     $<TARGET_FILE:${name}> -max_total_time=${VELMORA_FUZZ_SECONDS}
                     -rss_limit_mb=2048 -print_final_stats=1 ${work} ${ARG_CORPUS})
    set_tests_properties(${name}.fuzz PROPERTIES COST ${VELMORA_FUZZ_SECONDS})
  endif()
endfunction()
