// A pid file is someone else's text; only a single plausible process id is acted on.
#include "supervisor/pid_file.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// A pid is at most ten digits; a file that fills this is not a pid file.
constexpr size_t PID_FILE_MAX = 40;

bool is_space(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// The number that the whole of `text` holds, or -1 when it holds anything else.
int64_t parse_pid(const char* text, size_t len)
{
    size_t i = 0;
    int64_t value = 0; // wider than int on every target: long is not, on 32-bit ones
    for (; i < len && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > INT_MAX)
            return -1;
    }
    if (i == 0)
        return -1;
    for (; i < len; ++i)
        if (!is_space(text[i]))
            return -1;
    return value;
}

} // namespace

pid_t read_pid_file(const char* path)
{
    // Non-blocking, so that a FIFO planted as the pid file cannot stop the teardown; no
    // controlling terminal, so that a tty planted there cannot become this session's.
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    char text[PID_FILE_MAX];
    ssize_t len = fd >= 0 ? read(fd, text, sizeof text) : -1;
    int err = errno;
    if (fd >= 0)
        close(fd);
    if (len < 0) {
        fprintf(stderr, "%s cannot be read: %d (%s); its DHCP client is not stopped\n", path, err,
                strerror(err));
        return -1;
    }
    int64_t pid = static_cast<size_t>(len) < sizeof text ? parse_pid(text, static_cast<size_t>(len))
                                                      : -1;
    if (pid <= 1) {
        fprintf(stderr, "%s does not hold one process id above 1; its DHCP client is not stopped\n",
                path);
        return -1;
    }
    return static_cast<pid_t>(pid);
}
