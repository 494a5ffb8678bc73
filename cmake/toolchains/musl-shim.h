// Forced into every C++ unit of the musl build. libstdc++'s configuration headers were made for
// glibc and test its version with this macro; musl has no such version, and none of what they
// guard is used here.
#ifndef __GLIBC_PREREQ
#define __GLIBC_PREREQ(major, minor) 0
#endif
