# 32-bit big-endian MIPS with glibc, from Debian's g++-mips-linux-gnu; the tests run under qemu-user.
# usage: cmake -S . -B DIR -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mips-linux-gnu.cmake
set(CELLWATCH_TRIPLE mips-linux-gnu)
set(CELLWATCH_PROCESSOR mips)
set(CELLWATCH_QEMU qemu-mips-static)
include(${CMAKE_CURRENT_LIST_DIR}/cross-glibc.cmake)
