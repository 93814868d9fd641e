# Shared part of the MinGW-w64 toolchain files: set MINGW_TRIPLE and
# CMAKE_SYSTEM_PROCESSOR, then include this. The posix thread-model compilers
# are the ones GoogleTest builds with. Tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Each build runs its programs with its own Wine loader (WINE_LOADER_NAMES,
# set by the toolchain file): Debian's wine command takes the 32-bit loader
# whenever it is installed, also for 64-bit programs.
find_program(WINE_LOADER NAMES ${WINE_LOADER_NAMES} PATHS /usr/lib/wine)
set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_LOADER})
