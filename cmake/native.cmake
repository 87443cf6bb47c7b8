# Native Linux build: the portable core, its unit tests under ASan and UBSan,
# benchmarks, fuzz targets, the device simulator and the Wine end-to-end tests.
option(ELQ_SANITIZE "Build the core and its tests with ASan and UBSan" ON)

add_library(elqcore STATIC ${PORTABLE_SOURCES} ${POSIX_SOURCES})
target_include_directories(elqcore PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(elqcore PRIVATE ${WARNINGS})
if(ELQ_SANITIZE)
  set(SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_compile_options(elqcore PUBLIC ${SANITIZERS})
  target_link_options(elqcore PUBLIC ${SANITIZERS})
endif()

find_package(GTest REQUIRED)
find_package(Threads REQUIRED)
include(GoogleTest)

add_executable(core_tests ${UNIT_TEST_SOURCES})
target_link_libraries(core_tests PRIVATE elqcore GTest::gtest GTest::gtest_main Threads::Threads)
target_compile_options(core_tests PRIVATE ${WARNINGS})
gtest_discover_tests(core_tests DISCOVERY_TIMEOUT 60)

if(EXISTS ${CMAKE_SOURCE_DIR}/tools/CMakeLists.txt)
  add_subdirectory(tools)
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/tests/bench/CMakeLists.txt)
  add_subdirectory(tests/bench)
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/tests/e2e/CMakeLists.txt)
  add_subdirectory(tests/e2e)
endif()
