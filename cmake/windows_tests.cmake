# Tests of the Windows cross build (included by tests/CMakeLists.txt when
# cross-compiling for Windows). The tests run under Wine: unit tests through
# CMAKE_CROSSCOMPILING_EMULATOR, end-to-end cases through tests/e2e/wine_pty.sh.

# GoogleTest built for the target from the sources that libgtest-dev ships.
set(TABULON_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
if(NOT EXISTS ${TABULON_GTEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${TABULON_GTEST_SOURCE_DIR} "
                      "(install libgtest-dev, or set TABULON_GTEST_SOURCE_DIR)")
endif()
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${TABULON_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(library gtest gtest_main gmock gmock_main)
  target_compile_options(${library} PRIVATE -w)  # not our code: no warnings of ours apply
  if(NOT TARGET GTest::${library})
    add_library(GTest::${library} ALIAS ${library})
  endif()
endforeach()

# Starts Tabulon.exe with an exact command line (and can hold a file open
# from a second process); wine_pty.sh finds it beside Tabulon.exe.
add_executable(tabulon_spawn ${PROJECT_SOURCE_DIR}/tests/e2e/win_spawn.cpp)
set_target_properties(tabulon_spawn PROPERTIES RUNTIME_OUTPUT_DIRECTORY $<TARGET_FILE_DIR:tabulon>)
add_dependencies(tabulon tabulon_spawn)

set(TABULON_E2E_WRAPPER ${PROJECT_SOURCE_DIR}/tests/e2e/wine_pty.sh
    CACHE STRING "Command that runs the converter (e.g. an emulator)")
