# 64-bit Windows cross build with MinGW-w64: the same tree as a test build, for hosts whose
# Wine can run 64-bit code only. Nothing of it ships.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(MK_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
