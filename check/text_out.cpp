// A small buffered writer: no stdio, so the modem code's own stdout lines can be kept out of it.
#include "check/text_out.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <unistd.h>

void text_out::put(const char* s, size_t n)
{
    while (n > 0) {
        if (used_ == sizeof buf_ && !flush())
            return;
        size_t room = sizeof buf_ - used_;
        size_t take = n < room ? n : room;
        memcpy(buf_ + used_, s, take);
        used_ += take;
        s += take;
        n -= take;
    }
}

void text_out::text(const char* s)
{
    put(s, strlen(s));
}

void text_out::format(const char* fmt, ...)
{
    char line[256];
    va_list args;
    va_start(args, fmt);
    // The analyzer miscounts the format attribute's argument indexes on a member function.
    int n = vsnprintf(line, sizeof line, fmt, args); // NOLINT(clang-analyzer-valist.Uninitialized)
    va_end(args);
    if (n > 0)
        put(line, static_cast<size_t>(n) < sizeof line ? static_cast<size_t>(n) : sizeof line - 1);
}

void text_out::visible(const char* bytes, size_t n, bool blank_first)
{
    for (size_t i = 0; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        char shown[5];
        if (c == '\r') strcpy(shown, "\\r");
        else if (c == '\n') strcpy(shown, "\\n");
        else if (c == '\t') strcpy(shown, "\\t");
        else if (c == '\\') strcpy(shown, "\\\\");
        else if (c == '\0') strcpy(shown, "\\0");
        else if (c < 0x20 || c > 0x7e || (c == ' ' && i == 0 && blank_first))
            snprintf(shown, sizeof shown, "\\x%02x", c);
        else {
            shown[0] = static_cast<char>(c);
            shown[1] = '\0';
        }
        text(shown);
    }
}

bool text_out::flush()
{
    size_t done = 0;
    while (!failed_ && done < used_) {
        ssize_t n = write(fd_, buf_ + done, used_ - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            failed_ = true;
            err_ = n < 0 ? errno : EIO;
        } else {
            done += static_cast<size_t>(n);
        }
    }
    used_ = 0;
    if (failed_)
        errno = err_;
    return !failed_;
}
