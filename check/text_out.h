#pragma once
// Text for a person or a scenario file, written to a descriptor through a fixed buffer.
#include <cstddef>

class text_out {
public:
    explicit text_out(int fd) : fd_(fd) {}
    text_out(const text_out&) = delete;
    text_out& operator=(const text_out&) = delete;

    void text(const char* s);
    void format(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
    // `n` bytes of a modem answer or command with nothing raw left: "\r", "\n", "\t", "\\",
    // "\0" and "\xHH" for the other bytes outside printable ASCII, as scenario files write them.
    // With `blank_first`, a leading blank is written "\x20", which a scenario step would drop.
    void visible(const char* bytes, size_t n, bool blank_first = false);
    // Writes out what is buffered; false when any write so far failed (errno is kept from it).
    bool flush();

private:
    void put(const char* s, size_t n);
    int fd_;
    bool failed_ = false;
    int err_ = 0;
    size_t used_ = 0;
    char buf_[1024] = {};
};
