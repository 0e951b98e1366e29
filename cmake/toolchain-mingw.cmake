# What both Windows cross builds share; the toolchain file of each architecture sets
# MK_MINGW_PREFIX and CMAKE_SYSTEM_PROCESSOR, then includes this. The -posix compilers are
# needed: GoogleTest does not build with the win32 thread model.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${MK_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MK_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${MK_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${MK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
