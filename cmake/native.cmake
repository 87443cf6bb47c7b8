# Native Linux build: the portable core, its unit tests under ASan and UBSan,
# fuzz targets, the device simulator, the Wine end-to-end tests and the
# measuring tools with their benchmarks. With ELQ_BUILD_TESTS=OFF only the
# core and elq770ctl, so that a package build (tools/package-deb.sh, a cross
# build included) needs neither GoogleTest nor Google Benchmark nor Wine.
option(ELQ_SANITIZE "Build the core and its tests with ASan and UBSan" ON)
option(ELQ_BUILD_TESTS "Build the tests, the simulator and the measuring tools" ON)

find_package(Threads REQUIRED)

# One library per product folder (elq_lang ... elq_app, top CMakeLists.txt);
# elqcore is all of them, for the tests and the tools.
elq_folder_libraries(elq "${PORTABLE_SOURCES};${POSIX_SOURCES}")
target_link_libraries(elq_link PUBLIC Threads::Threads)  # the POSIX serial link's threads
if(ELQ_SANITIZE)
  set(SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_compile_options(elq_lang PUBLIC ${SANITIZERS})
  target_link_options(elq_lang PUBLIC ${SANITIZERS})
endif()
add_library(elqcore INTERFACE)
target_link_libraries(elqcore INTERFACE elq_app)

if(NOT ELQ_BUILD_TESTS)
  add_subdirectory(cli)
  return()
endif()

# The Windows build beside this one: the Wine tests run its programs.
set(ELQ_WINDOWS_BUILD_DIR "${CMAKE_BINARY_DIR}/../win" CACHE PATH
    "Windows build folder that holds elq770.exe and the Windows test programs")
get_filename_component(WINDOWS_BUILD_DIR "${ELQ_WINDOWS_BUILD_DIR}" ABSOLUTE BASE_DIR "${CMAKE_BINARY_DIR}")

find_package(GTest REQUIRED)
include(GoogleTest)

add_subdirectory(tests/support)

add_executable(core_tests ${UNIT_TEST_SOURCES})
target_link_libraries(core_tests PRIVATE elq_test_support elqcore GTest::gtest GTest::gtest_main Threads::Threads)
target_compile_options(core_tests PRIVATE ${WARNINGS})
target_compile_definitions(core_tests PRIVATE ELQ_TEST_DATA_DIR="${CMAKE_SOURCE_DIR}/tests/data")
gtest_discover_tests(core_tests DISCOVERY_TIMEOUT 60)

# The same unit tests built for Windows, run under Wine in a prefix of their
# own, and the fuzz targets for a bounded time. The heavy tests share one
# resource lock so that timing-sensitive Wine tests never compete for the CPU.
add_test(NAME wine_core_tests
  COMMAND ${CMAKE_SOURCE_DIR}/tools/wine-run.sh ${CMAKE_BINARY_DIR}/wineprefix-unit
          ${WINDOWS_BUILD_DIR}/core_tests.exe --gtest_brief=1)
set_tests_properties(wine_core_tests PROPERTIES LABELS wine TIMEOUT 600 RESOURCE_LOCK elq_wineprefix)

set(ELQ_FUZZ_SECONDS 30 CACHE STRING "Seconds each fuzz target runs in the test suite")
add_test(NAME fuzz_targets
  COMMAND ${CMAKE_SOURCE_DIR}/tests/fuzz/run.sh ${ELQ_FUZZ_SECONDS} ${CMAKE_BINARY_DIR}/fuzz)
set_tests_properties(fuzz_targets PROPERTIES LABELS fuzz TIMEOUT 600 RESOURCE_LOCK elq_wineprefix)

# The include check itself: the tree passes, a forbidden include is named.
add_test(NAME layer_check COMMAND python3 ${CMAKE_SOURCE_DIR}/tests/tools/check_layers_test.py)

if(EXISTS ${CMAKE_SOURCE_DIR}/tools/CMakeLists.txt)
  add_subdirectory(tools)
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/tests/e2e/CMakeLists.txt)
  add_subdirectory(tests/e2e)
  # The measuring tools use the end-to-end harness.
  add_subdirectory(tools/measure)
endif()

add_subdirectory(cli)

if(EXISTS ${CMAKE_SOURCE_DIR}/tests/cli/CMakeLists.txt)
  add_subdirectory(tests/cli)
endif()
