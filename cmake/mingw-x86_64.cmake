# 64-bit cross toolchain for the Wine tests' fallback (tests/wine/run --arch
# win64) on kernels that cannot run Wine's 32-bit loader. Setup.exe ships as a
# 32-bit program (cmake/mingw-i686.cmake); this build runs the same sources in
# a 64-bit prefix.
#   cmake -S . -B build/win64 -DCMAKE_TOOLCHAIN_FILE=$PWD/tests/wine/mingw-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TOOLCHAIN_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
