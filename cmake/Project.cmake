# Shared rules for every library, test, tool and fuzz target of the project.
include(GoogleTest)

if(WIN32)
  set(PROJECT_PLATFORM win32)
else()
  set(PROJECT_PLATFORM posix)
endif()

add_library(project_options INTERFACE)
target_include_directories(project_options INTERFACE ${PROJECT_SOURCE_DIR})
target_compile_options(project_options INTERFACE -Wall -Wextra -Wno-unused-parameter)
if(WERROR)
  target_compile_options(project_options INTERFACE -Werror)
endif()
if(SANITIZE)
  target_compile_options(project_options INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(project_options INTERFACE -fsanitize=address,undefined)
endif()
if(WIN32)
  target_compile_definitions(project_options INTERFACE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
  target_link_options(project_options INTERFACE -static -static-libgcc -static-libstdc++)
endif()

# project_library(name [DEPS lib...] [SYSLIBS lib...])
# Sources: every *.cc of the folder and of its platform sub-folder (posix/ or
# win32/), except tests (*_test.cc), fuzz targets (*_fuzz.cc) and benchmarks
# (*_bench.cc). Tests of the folder and of its platform sub-folder become one
# executable <name>_tests, discovered by ctest.
function(project_library name)
  cmake_parse_arguments(ARG "" "" "DEPS;SYSLIBS;TEST_DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cc
       ${CMAKE_CURRENT_SOURCE_DIR}/${PROJECT_PLATFORM}/*.cc)
  list(FILTER srcs EXCLUDE REGEX "_(test|fuzz|bench)\\.cc$")
  if(srcs)
    add_library(${name} STATIC ${srcs})
    target_link_libraries(${name} PUBLIC project_options ${ARG_DEPS} ${ARG_SYSLIBS})
  else()
    # A layer whose code has not arrived yet still takes part in the graph.
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE project_options ${ARG_DEPS} ${ARG_SYSLIBS})
  endif()

  file(GLOB tests CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cc
       ${CMAKE_CURRENT_SOURCE_DIR}/${PROJECT_PLATFORM}/*_test.cc
       ${CMAKE_CURRENT_SOURCE_DIR}/testing/*.cc)
  if(tests)
    add_executable(${name}_tests ${tests})
    target_link_libraries(${name}_tests PRIVATE ${name} ${ARG_TEST_DEPS} gmock gtest_main)
    target_compile_definitions(${name}_tests PRIVATE
      PROJECT_TESTDATA_DIR="${PROJECT_SOURCE_DIR}/testdata")
    set_target_properties(${name}_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
    if(CMAKE_CROSSCOMPILING)
      gtest_discover_tests(${name}_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                           PROPERTIES TIMEOUT 300)
    else()
      gtest_discover_tests(${name}_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
    endif()
  endif()

  if(FUZZ)
    file(GLOB fuzzers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_fuzz.cc)
    foreach(f ${fuzzers})
      get_filename_component(fname ${f} NAME_WE)
      add_executable(${fname} ${f})
      target_link_libraries(${fname} PRIVATE ${name})
      target_compile_options(${fname} PRIVATE -fsanitize=fuzzer)
      target_link_options(${fname} PRIVATE -fsanitize=fuzzer)
      set_target_properties(${fname} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
    endforeach()
  endif()
endfunction()
