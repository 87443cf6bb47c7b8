# Windows build with mingw-w64: the program, and the same unit tests for Wine.
# Everything is linked statically so that the executables need no extra DLLs.
set(STATIC_LINK -static -static-libgcc -static-libstdc++)
set(WIN32_LIBS comctl32 comdlg32 winspool shell32 gdi32 user32 kernel32)

# The program's Win32 front end lives in app/; every other Win32 companion
# goes into its folder's library with the portable sources (elqw_lang ...
# elqw_app, top CMakeLists.txt); elqcore_win is all of them.
set(APP_SOURCES ${WIN32_SOURCES})
list(FILTER APP_SOURCES INCLUDE REGEX "/app/[^/]*_win32\\.cpp$")
list(FILTER WIN32_SOURCES EXCLUDE REGEX "/app/[^/]*_win32\\.cpp$")

elq_folder_libraries(elqw "${PORTABLE_SOURCES};${WIN32_SOURCES}")
target_compile_definitions(elqw_lang PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX)
# The system's libraries after the lowest folder, so that they follow every
# folder on the link line.
target_link_libraries(elqw_lang PUBLIC ${WIN32_LIBS} ws2_32)
add_library(elqcore_win INTERFACE)
target_link_libraries(elqcore_win INTERFACE elqw_app)

file(GLOB RESOURCE_FILES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/resources/*.rc)
# The manifest is made from the project's version, as the version header is
# (top CMakeLists.txt).
set(ELQ_VERSION_FOUR "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0")
configure_file(${CMAKE_SOURCE_DIR}/resources/elq770.manifest.in ${GENERATED_DIR}/elq770.manifest @ONLY)
set_property(SOURCE ${RESOURCE_FILES} APPEND PROPERTY OBJECT_DEPENDS
             ${GENERATED_DIR}/elq_version.h ${GENERATED_DIR}/elq770.manifest)
add_executable(elq770 WIN32 ${APP_SOURCES} ${RESOURCE_FILES})
target_include_directories(elq770 PRIVATE ${GENERATED_DIR})
target_compile_options(elq770 PRIVATE ${WARNINGS})
target_link_libraries(elq770 PRIVATE elqcore_win ${WIN32_LIBS} ${STATIC_LINK})

# GoogleTest from the sources Debian's googletest package installs.
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

add_subdirectory(tests/support)

add_executable(core_tests ${UNIT_TEST_SOURCES})
target_link_libraries(core_tests PRIVATE elq_test_support elqcore_win gtest gtest_main ${WIN32_LIBS} ${STATIC_LINK})
target_compile_options(core_tests PRIVATE ${WARNINGS})
# Run under Wine, whose drive Z: is the Linux root.
target_compile_definitions(core_tests PRIVATE ELQ_TEST_DATA_DIR="Z:${CMAKE_SOURCE_DIR}/tests/data")

if(EXISTS ${CMAKE_SOURCE_DIR}/tests/e2e/win32/CMakeLists.txt)
  add_subdirectory(tests/e2e/win32)
  # The measuring helpers use the end-to-end helpers' link observations.
  add_subdirectory(tools/measure/win32)
endif()

add_subdirectory(cli)
