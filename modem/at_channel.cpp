// Sending AT commands and collecting answers into the process-wide response buffer.
// Completion is a plain substring test over everything collected, echo and unsolicited lines too.
// Every wait on the port is bounded: a wedged modem must never keep the lock held for good.
#include "modem/at_channel.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "modem/deadline.h"
#include "modem/find_text.h"

char resp_buf[RESP_CAPACITY + 1];
bool answer_cut_short = false;
bool port_hung_up = false;
const at_tracer* at_trace = nullptr;

namespace {

// poll, not select: the port may land on any descriptor number, 1024 and above included.
int wait_for(int fd, short events, int timeout_ms)
{
    struct pollfd p = {fd, events, 0};
    return poll(&p, 1, timeout_ms);
}

// 0 once the port can take output; -1 with errno ETIMEDOUT when it took none for the whole
// bound. A signal does not end this wait: the command is sent or given up whole.
int wait_writable(int fd)
{
    deadline d = deadline_in(SEND_WAIT_MS);
    for (;;) {
        int ready = wait_for(fd, POLLOUT, ms_left(d));
        if (ready > 0)
            return 0;
        if (ready < 0 && errno != EINTR)
            return -1;
        if (ms_left(d) == 0) {
            errno = ETIMEDOUT;
            return -1;
        }
    }
}

// One write that takes what the port has room for and never waits for more: a port that is
// writable may still have less room than the command needs. The port is blocking otherwise, as
// open_port leaves it.
ssize_t write_without_waiting(int fd, const char* text, size_t len)
{
    int on = 1;
    int off = 0;
    bool switched = ioctl(fd, FIONBIO, &on) == 0;
    ssize_t sent = write(fd, text, len);
    int err = errno;
    if (switched)
        ioctl(fd, FIONBIO, &off);
    errno = err;
    return sent;
}

// Hands the collected answer to the tracer, if any, and returns `result`.
int answered(size_t count, int result)
{
    if (at_trace != nullptr)
        at_trace->answered(resp_buf, count, result);
    return result;
}

} // namespace

int SendCmd(int fd, const char* cmd)
{
    size_t len = strlen(cmd);
    // Descriptor 0 is where the command trail goes; whether it takes it does not matter.
    ssize_t echoed = write(0, cmd, len);
    (void)echoed;
    ssize_t sent = wait_writable(fd) == 0 ? write_without_waiting(fd, cmd, len) : -1;
    int err = errno;
    int result = sent < 1 ? -1 : 0;
    if (result < 0)
        fprintf(stderr, "SendCmd error. %d-%s\n", err, strerror(err));
    if (at_trace != nullptr)
        at_trace->sent(cmd, result, result < 0 ? err : 0);
    return result;
}

int read_response(int fd)
{
    memset(resp_buf, 0, sizeof resp_buf);
    answer_cut_short = false;
    size_t count = 0;
    // A UART hands the tty a FIFO's worth at a time, so an answer may come in many pieces:
    // what bounds the collection is time, not the number of reads.
    deadline d = deadline_in(COLLECT_MS);
    while (count < RESP_CAPACITY) {
        int left = ms_left(d);
        if (left == 0)
            break;
        int ready = wait_for(fd, POLLIN, left < WAIT_MS ? left : WAIT_MS);
        // A signal during the wait ends the collection; the answer it cut short is told apart.
        if (ready < 0) {
            answer_cut_short = errno == EINTR;
            break;
        }
        if (ready == 0)
            continue;
        ssize_t got = read(fd, resp_buf + count, RESP_CAPACITY - count);
        // Readable with nothing to read is a port that hung up: waiting on would only spin.
        if (got <= 0) {
            port_hung_up = true;
            break;
        }
        count += static_cast<size_t>(got);
        if (find_text(resp_buf, "OK") != nullptr)
            break;
        if (find_text(resp_buf, "ERROR") != nullptr)
            return answered(count, -1);
    }
    resp_buf[count] = '\0';
    fprintf(stderr, "READ %s", resp_buf);
    return answered(count, static_cast<int>(count));
}
