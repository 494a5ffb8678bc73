# 32-bit ARM (hard-float) with glibc, from Debian's g++-arm-linux-gnueabihf; the tests run under qemu-user.
# usage: cmake -S . -B DIR -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/arm-linux-gnueabihf.cmake
set(CELLWATCH_TRIPLE arm-linux-gnueabihf)
set(CELLWATCH_PROCESSOR arm)
set(CELLWATCH_QEMU qemu-arm-static)
include(${CMAKE_CURRENT_LIST_DIR}/cross-glibc.cmake)
