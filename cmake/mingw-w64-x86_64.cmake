# Cross-compiling Tabulon.exe for 64-bit Windows with MinGW-w64 on Linux.
# The tests run under Wine (tests/e2e/wine_pty.sh starts it).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TABULON_MINGW_PREFIX x86_64-w64-mingw32)
# The POSIX thread model: GoogleTest needs std::mutex, which the win32 model
# of this compiler lacks. The program itself starts no thread.
set(CMAKE_C_COMPILER ${TABULON_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TABULON_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TABULON_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TABULON_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained executable: no MinGW runtime DLLs to ship beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run under Wine, without a console and with their output
# passed on byte for byte.
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_CURRENT_LIST_DIR}/../tests/e2e/wine_pty.sh --no-console)
