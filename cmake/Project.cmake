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
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  # GCC 12 at -O2 reports bogus -Wrestrict overlaps inside libstdc++'s std::string insert and
  # replace (GCC bug 105651); the release builds would otherwise fail on correct code.
  target_compile_options(project_options INTERFACE -Wno-restrict)
endif()
if(SANITIZE)
  target_compile_options(project_options INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(project_options INTERFACE -fsanitize=address,undefined)
endif()
if(FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "FUZZ=ON needs Clang (libFuzzer): configure with CXX=clang++")
  endif()
  # Every library is instrumented for coverage feedback; only the fuzz targets link the driver.
  target_compile_options(project_options INTERFACE -fsanitize=fuzzer-no-link)
endif()
if(WIN32)
  target_compile_definitions(project_options INTERFACE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
  target_link_options(project_options INTERFACE -static -static-libgcc -static-libstdc++)
endif()

# project_release_program(target): the optimised Linux build links the program fully static,
# without the sections nothing refers to. Its peak memory then holds only the library code it
# uses (the shared C++ and C libraries mapped whole cost about 1.6 MB of resident pages, the
# unused sections of the static ones 0.4 MB more), and it needs nothing from the system but
# the kernel. Test builds and the Windows builds (static already) are left as they are.
function(project_release_program target)
  if(NOT WIN32 AND CMAKE_BUILD_TYPE STREQUAL "Release" AND NOT SANITIZE AND NOT FUZZ)
    target_link_options(${target} PRIVATE -static -Wl,--gc-sections)
  endif()
endfunction()

# Test data, as a path the test program can open: under Wine the Unix root is drive Z:.
if(WIN32 AND CMAKE_CROSSCOMPILING)
  set(PROJECT_TESTDATA_PATH "Z:${PROJECT_SOURCE_DIR}/testdata")
else()
  set(PROJECT_TESTDATA_PATH "${PROJECT_SOURCE_DIR}/testdata")
endif()

# Header-only libraries from Debian packages, usable by every build as nlohmann_json::nlohmann_json
# and CLI11::CLI11. The cross builds must not search /usr/include (it holds the glibc headers), so
# they get a private copy of just these headers.
if(CMAKE_CROSSCOMPILING)
  set(project_third_party ${CMAKE_BINARY_DIR}/third_party/include)
  foreach(dir nlohmann CLI)
    if(EXISTS /usr/include/${dir})
      file(COPY /usr/include/${dir} DESTINATION ${project_third_party})
    endif()
  endforeach()
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED GLOBAL)
  add_library(CLI11::CLI11 INTERFACE IMPORTED GLOBAL)
  set_target_properties(nlohmann_json::nlohmann_json CLI11::CLI11 PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${project_third_party})
else()
  find_package(nlohmann_json 3 CONFIG REQUIRED)
  find_package(CLI11 CONFIG REQUIRED)
endif()
if(BENCH AND NOT CMAKE_CROSSCOMPILING)
  find_package(benchmark CONFIG REQUIRED)
endif()

# project_library(name [DEPS lib...] [SYSLIBS lib...] [TEST_DEPS lib...]
#                 [WINDOW_TESTS gtest-pattern...] [TESTING_LIBRARY])
# Sources: every *.cc of the folder and of its platform sub-folder (posix/ or
# win32/), except tests (*_test.cc), fuzz targets (*_fuzz.cc) and benchmarks
# (*_bench.cc). Tests of the folder and of its platform sub-folder become one
# executable <name>_tests, discovered by ctest. With BENCH (native builds) each
# *_bench.cc becomes the tool <name of the file> in bin/, linked with Google
# Benchmark (it provides its own main, e.g. BENCHMARK_MAIN()). With FUZZ each
# *_fuzz.cc becomes a libFuzzer target in fuzz/. WINDOW_TESTS names (as gtest filter
# patterns) the tests that show windows in the Windows builds: they hold the ctest resource
# lock "display". The test helpers of the folder (testing/ and its platform sub-folder) go into
# <name>_tests; with TESTING_LIBRARY they become the library <name>_testing instead, which
# <name>_tests and the tests of other folders (through their TEST_DEPS) link.
function(project_library name)
  cmake_parse_arguments(ARG "TESTING_LIBRARY" "" "DEPS;SYSLIBS;TEST_DEPS;WINDOW_TESTS" ${ARGN})
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
       ${CMAKE_CURRENT_SOURCE_DIR}/${PROJECT_PLATFORM}/*_test.cc)
  file(GLOB helpers CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/testing/*.cc
       ${CMAKE_CURRENT_SOURCE_DIR}/testing/${PROJECT_PLATFORM}/*.cc)
  if(ARG_TESTING_LIBRARY AND helpers)
    add_library(${name}_testing STATIC ${helpers})
    target_link_libraries(${name}_testing PUBLIC ${name} ${ARG_TEST_DEPS} project_testing gmock
                          nlohmann_json::nlohmann_json)
    target_compile_definitions(${name}_testing PRIVATE
      PROJECT_TESTDATA_DIR="${PROJECT_TESTDATA_PATH}")
    list(APPEND ARG_TEST_DEPS ${name}_testing)
  else()
    list(APPEND tests ${helpers})
  endif()
  if(tests)
    add_executable(${name}_tests ${tests})
    # Tests read the JSON dumps beside their fixtures; the cross builds find the header only
    # through this target.
    target_link_libraries(${name}_tests PRIVATE ${name} ${ARG_TEST_DEPS} project_testing gmock
                          gtest_main nlohmann_json::nlohmann_json)
    target_compile_definitions(${name}_tests PRIVATE
      PROJECT_TESTDATA_DIR="${PROJECT_TESTDATA_PATH}")
    set_target_properties(${name}_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
    if(CMAKE_CROSSCOMPILING)
      set(discovery DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120)
    else()
      set(discovery DISCOVERY_TIMEOUT 60)
    endif()
    if(WIN32 AND ARG_WINDOW_TESTS)
      # Tests that show windows look for them on the one display: ctest runs them one at a
      # time, so no test meets another's window; a box nobody answers fails within seconds
      # (the watchers give up), the timeout is only the last resort.
      string(JOIN ":" window_filter ${ARG_WINDOW_TESTS})
      gtest_discover_tests(${name}_tests ${discovery} TEST_FILTER "-${window_filter}"
                           PROPERTIES TIMEOUT 300)
      gtest_discover_tests(${name}_tests ${discovery} TEST_FILTER "${window_filter}"
                           PROPERTIES TIMEOUT 120 RESOURCE_LOCK display)
    else()
      gtest_discover_tests(${name}_tests ${discovery} PROPERTIES TIMEOUT 300)
    endif()
  endif()

  if(BENCH AND NOT CMAKE_CROSSCOMPILING)
    file(GLOB benches CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_bench.cc)
    foreach(b ${benches})
      get_filename_component(bname ${b} NAME_WE)
      add_executable(${bname} ${b})
      target_link_libraries(${bname} PRIVATE ${name} ${ARG_TEST_DEPS} benchmark::benchmark)
      set_target_properties(${bname} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
    endforeach()
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
