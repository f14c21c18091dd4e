# Cross-compiles the 64-bit build, the one that runs under wine64 for the tests.
# Used by scripts/build.sh and scripts/test.sh through -DCMAKE_TOOLCHAIN_FILE.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_TRIPLET x86_64-w64-mingw32)
set(MINGW_WINE_LOADER /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
