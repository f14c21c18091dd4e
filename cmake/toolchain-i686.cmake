# Cross-compiles the 32-bit deliverables with MinGW-w64 (posix threads).
# Used by scripts/build.sh and scripts/test.sh through -DCMAKE_TOOLCHAIN_FILE.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(MINGW_TRIPLET i686-w64-mingw32)
set(MINGW_WINE_LOADER /usr/lib/wine/wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
