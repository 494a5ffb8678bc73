// Sending AT commands and collecting answers into the process-wide response buffer.
// Completion is a plain substring test over everything collected, echo and unsolicited lines too.
#include "modem/at_channel.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/select.h>
#include <unistd.h>

char resp_buf[RESP_CAPACITY + 1];

namespace {

constexpr int READ_PASSES = 5;
constexpr suseconds_t PASS_WAIT_US = 500000;

// True when the descriptor became readable within one pass; false on time-out or failure,
// with `failed` telling which. A signal during the wait counts as a failure.
bool wait_readable(int fd, bool& failed)
{
    failed = false;
    if (fd < 0 || fd >= FD_SETSIZE) {
        failed = true;
        return false;
    }
    fd_set set;
    FD_ZERO(&set);
    FD_SET(fd, &set);
    struct timeval timeout = {0, PASS_WAIT_US};
    int ready = select(fd + 1, &set, nullptr, nullptr, &timeout);
    failed = ready < 0;
    return ready > 0;
}

} // namespace

int SendCmd(int fd, const char* cmd)
{
    size_t len = strlen(cmd);
    // Descriptor 0 is where the command trail goes; whether it takes it does not matter.
    ssize_t echoed = write(0, cmd, len);
    (void)echoed;
    ssize_t sent = write(fd, cmd, len);
    if (sent < 1) {
        int err = errno;
        fprintf(stderr, "SendCmd error. %d-%s\n", err, strerror(err));
        return -1;
    }
    return 0;
}

int read_response(int fd)
{
    memset(resp_buf, 0, sizeof resp_buf);
    size_t count = 0;
    for (int pass = 0; pass < READ_PASSES; ++pass) {
        bool failed = false;
        if (!wait_readable(fd, failed)) {
            if (failed)
                break;
            continue;
        }
        // Once the buffer is full this asks for nothing, so a flooding modem costs at most
        // five quick passes.
        ssize_t got = read(fd, resp_buf + count, RESP_CAPACITY - count);
        if (got <= 0)
            continue;
        count += static_cast<size_t>(got);
        if (strstr(resp_buf, "OK") != nullptr)
            break;
        if (strstr(resp_buf, "ERROR") != nullptr)
            return -1;
    }
    resp_buf[count] = '\0';
    fprintf(stderr, "READ %s", resp_buf);
    return static_cast<int>(count);
}
