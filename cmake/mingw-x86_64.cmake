# 64-bit cross toolchain for the Wine tests' fallback (tests/wine/run --arch
# win64) on kernels that cannot run Wine's 32-bit loader. Setup.exe ships as a
# 32-bit program (cmake/mingw-i686.cmake); this build runs the same sources in
# a 64-bit prefix.
#   cmake -S . -B build/win64 -DCMAKE_TOOLCHAIN_FILE=$PWD/cmake/mingw-x86_64.cmake
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
