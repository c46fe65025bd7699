# Builds the program as a user or packager would: a Release configuration
# with GCC, default options, in a clean folder. Fails when the build fails or
# the compiler warns. The test programs are left out: their own code builds
# with the same flags in every optimised build type, and the run around this
# built them.
#   cmake -DSOURCE=<checkout> -DBINARY=<scratch folder> [-DLAUNCHER=ccache] -P ReleaseBuild.cmake
foreach(var SOURCE BINARY)
  if(NOT ${var})
    message(FATAL_ERROR "${var} not given")
  endif()
endforeach()
find_program(GCC gcc REQUIRED)
find_program(GXX g++ REQUIRED)
set(launcher "")
if(LAUNCHER)
  set(launcher -DCMAKE_C_COMPILER_LAUNCHER=${LAUNCHER} -DCMAKE_CXX_COMPILER_LAUNCHER=${LAUNCHER})
endif()
file(REMOVE_RECURSE "${BINARY}")
execute_process(
  COMMAND ${CMAKE_COMMAND} -S "${SOURCE}" -B "${BINARY}" -G Ninja -DCMAKE_BUILD_TYPE=Release
          -DCMAKE_C_COMPILER=${GCC} -DCMAKE_CXX_COMPILER=${GXX} -DVELMORA_TESTS=OFF ${launcher}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "configure failed:\n${out}")
endif()
# Every core: the build runs at the lowest priority, so it only fills idle time.
cmake_host_system_information(RESULT cores QUERY NUMBER_OF_LOGICAL_CORES)
execute_process(COMMAND ${CMAKE_COMMAND} --build "${BINARY}" -j ${cores}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "Release build failed:\n${out}")
endif()
string(REGEX MATCHALL "[^\n]*warning:[^\n]*" warnings "${out}")
if(warnings)
  string(REPLACE ";" "\n" warnings "${warnings}")
  message(FATAL_ERROR "Release build warns:\n${warnings}")
endif()
file(REMOVE_RECURSE "${BINARY}")
message(STATUS "Release build with GCC: clean")
