# 64-bit ARM with glibc, from Debian's g++-aarch64-linux-gnu; the tests run under qemu-user.
# usage: cmake -S . -B DIR -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/aarch64-linux-gnu.cmake
set(CELLWATCH_TRIPLE aarch64-linux-gnu)
set(CELLWATCH_PROCESSOR aarch64)
set(CELLWATCH_QEMU qemu-aarch64-static)
include(${CMAKE_CURRENT_LIST_DIR}/cross-glibc.cmake)
