// Teardown and the hand-off to the event daemon through its named pipe.
// The request is one line in one write, so the daemon never reads half of it.
#include "supervisor/failover.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "modem/deadline.h"
#include "supervisor/pid_file.h"
#include "supervisor/shell.h"

namespace {

constexpr size_t COMMAND_CAPACITY = 127;
constexpr size_t REQUEST_CAPACITY = 128;
constexpr const char EVENT_PIPE[] = "/var/run/.neventpipe";
// What the messages say in place of EINVAL's words when the pipe's path holds no FIFO: a request
// appended to a file that nobody reads would be a failover that never happens.
constexpr const char NOT_A_FIFO[] = "not a FIFO";
bool pipe_not_fifo = false;

const char* reason(int err)
{
    return pipe_not_fifo && err == EINVAL ? NOT_A_FIFO : strerror(err);
}

// A client has this long to end after its SIGTERM: the interface goes down, and the failover
// request is written, once it is gone, so that no client brings the address back behind them.
constexpr int CLIENT_END_MS = 5000;
constexpr struct timespec CLIENT_LOOK_AGAIN = {0, 20000000};

// True once `pid` has ended: no such process, or one that only waits to be reaped.
bool ended(pid_t pid)
{
    if (kill(pid, 0) != 0)
        return errno == ESRCH;
    char path[32];
    snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    char stat[64] = {};
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    ssize_t n = fd >= 0 ? read(fd, stat, sizeof stat - 1) : -1;
    if (fd >= 0)
        close(fd);
    const char* state = n > 0 ? strrchr(stat, ')') : nullptr;
    return state != nullptr && state[1] == ' ' && state[2] == 'Z';
}

// The client gets the SIGTERM that the shell's kill would send, but only on a pid file that
// names one process; the signal is sent here so that the file is read once, by the code that
// checked it. The interface goes down whatever the file held. Results are not examined.
void stop_client(const char* pid_file, const char* down_command)
{
    if (access(pid_file, F_OK) != 0)
        return;
    pid_t pid = read_pid_file(pid_file);
    if (pid > 1 && kill(pid, SIGTERM) == 0) {
        deadline d = deadline_in(CLIENT_END_MS);
        while (!ended(pid) && ms_left(d) > 0)
            nanosleep(&CLIENT_LOOK_AGAIN, nullptr);
    }
    run_shell(down_command);
}

} // namespace

void teardown_interface(const link_info& info)
{
    char pid_file[COMMAND_CAPACITY];
    char down[COMMAND_CAPACITY];
    snprintf(pid_file, sizeof pid_file, "/var/run/dhcp.%s.pid", info.ifname);
    snprintf(down, sizeof down, "/sbin/ifconfig %s 0.0.0.0 down", info.ifname);
    stop_client(pid_file, down);
    snprintf(pid_file, sizeof pid_file, "/var/run/dhcp6.%s.pid", info.ifname);
    snprintf(down, sizeof down, "/sbin/ifconfig %s down", info.ifname);
    stop_client(pid_file, down);
}

void cm_run_failover(const char* ifname)
{
    char line[REQUEST_CAPACITY];
    int len = snprintf(line, sizeof line, "exec /opt/vordane/bin/failover.sh %s\n", ifname);
    if (len < 0)
        return;
    size_t size = static_cast<size_t>(len) < sizeof line ? static_cast<size_t>(len) : sizeof line - 1;
    if (write_event(line, size) != static_cast<ssize_t>(size)) {
        int err = errno;
        fprintf(stderr, "%s Could not write whole message to FIFO! %d (%s)", "cm_run_failover", err,
                reason(err));
    }
}

ssize_t write_event(const char* line, size_t len)
{
    // Anything but a FIFO is never opened for writing (a device could be changed by the open),
    // nor written once open (it may have been replaced in between).
    struct stat st;
    pipe_not_fifo = stat(EVENT_PIPE, &st) == 0 && !S_ISFIFO(st.st_mode);
    // Blocking on purpose: the open waits until the daemon has the pipe open for reading.
    int fd = pipe_not_fifo ? -1 : open(EVENT_PIPE, O_WRONLY | O_APPEND | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISFIFO(st.st_mode))) {
        close(fd);
        fd = -1;
        pipe_not_fifo = true;
    }
    if (pipe_not_fifo)
        errno = EINVAL;
    if (fd < 0) {
        int err = errno;
        fprintf(stderr, "%s Could not open FIFO for writing! %d (%s)", "write_event", err,
                reason(err));
        errno = err;
        return -1;
    }
    ssize_t written = write(fd, line, len);
    close(fd);
    return written;
}
