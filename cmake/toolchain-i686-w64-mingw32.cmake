# Cross build for the i686 Windows target with the posix-thread mingw-w64 compilers.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VELK58_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER ${VELK58_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELK58_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VELK58_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VELK58_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# 32-bit code cannot run on this kernel: built and linked only, never executed.
