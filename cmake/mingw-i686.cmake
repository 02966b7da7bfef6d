# Cross toolchain: 32-bit Windows programs built with Debian's MinGW-w64, the
# build Setup.exe ships from.
#   cmake -S . -B build/win -DCMAKE_TOOLCHAIN_FILE=$PWD/cmake/mingw-i686.cmake
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TOOLCHAIN_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
