# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 toolchain (POSIX thread model,
# which std::thread and std::mutex need). Use through scripts/build-windows.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TABULON_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TABULON_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TABULON_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TABULON_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TABULON_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test executables run through Wine when CTest starts them.
find_program(TABULON_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(TABULON_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${TABULON_WINE})
endif()
