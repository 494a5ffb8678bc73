# x86-64 with musl, fully static and small: the C library of the routers. Builds cellwatch only:
# the simulator, the benchmark and the tests use libstdc++'s run-time code, which is glibc's;
# the test command runs the host's end-to-end suite against this build's program.
# usage: cmake -S . -B DIR -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/x86_64-linux-musl.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER musl-gcc)
set(CMAKE_CXX_COMPILER g++)
set(CELLWATCH_PROGRAM_ONLY ON CACHE BOOL "" FORCE)
set(CELLWATCH_HARDEN OFF CACHE BOOL "" FORCE)
set(CMAKE_BUILD_TYPE MinSizeRel CACHE STRING "")

# The host's g++ with musl's headers in place of glibc's: libstdc++'s own headers first (they
# include the C headers next), then musl's, then the compiler's.
execute_process(COMMAND g++ -dumpversion OUTPUT_VARIABLE GCC_MAJOR OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND g++ -print-file-name=include OUTPUT_VARIABLE GCC_INCLUDE
                OUTPUT_STRIP_TRAILING_WHITESPACE)
set(CMAKE_CXX_FLAGS_INIT "-nostdinc -isystem /usr/include/c++/${GCC_MAJOR} \
-isystem /usr/include/x86_64-linux-gnu/c++/${GCC_MAJOR} -isystem /usr/include/x86_64-linux-musl \
-isystem ${GCC_INCLUDE} -include ${CMAKE_CURRENT_LIST_DIR}/musl-shim.h -fno-threadsafe-statics \
-fno-asynchronous-unwind-tables -ffunction-sections -fdata-sections")

# Linked by musl's C driver, which knows nothing of libstdc++: any use of its run-time code fails
# the link. No RELRO page and a small common page size keep the file free of padding.
set(CMAKE_CXX_LINK_EXECUTABLE
    "musl-gcc <FLAGS> <CMAKE_CXX_LINK_FLAGS> <LINK_FLAGS> <OBJECTS> -o <TARGET> <LINK_LIBRARIES>")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -Wl,--gc-sections -Wl,-z,noseparate-code \
-Wl,-z,norelro -Wl,-z,common-page-size=64 -Wl,--build-id=none")
