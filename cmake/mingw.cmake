# Cross build for Windows with Debian's mingw-w64 (posix threads), for the
# processor that the including toolchain file names.
set(CMAKE_SYSTEM_NAME Windows)
set(prefix "${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32")
set(CMAKE_C_COMPILER ${prefix}-gcc-posix)
set(CMAKE_CXX_COMPILER ${prefix}-g++-posix)
set(CMAKE_RC_COMPILER ${prefix}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
