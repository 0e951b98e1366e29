# 32-bit Windows cross build with MinGW-w64: the deliverables as they ship.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(MK_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
