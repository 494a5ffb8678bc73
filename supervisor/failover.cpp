// Teardown and the hand-off to the event daemon through its named pipe.
// The request is one line in one write, so the daemon never reads half of it.
#include "supervisor/failover.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

#include "modem/deadline.h"
#include "supervisor/pid_file.h"
#include "supervisor/shell.h"

namespace {

constexpr size_t COMMAND_CAPACITY = 127;
constexpr size_t REQUEST_CAPACITY = 128;
constexpr const char EVENT_PIPE[] = "/var/run/.neventpipe";

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
                strerror(err));
    }
}

ssize_t write_event(const char* line, size_t len)
{
    // Blocking on purpose: the open waits until the daemon has the pipe open for reading.
    int fd = open(EVENT_PIPE, O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) {
        int err = errno;
        fprintf(stderr, "%s Could not open FIFO for writing! %d (%s)", "write_event", err,
                strerror(err));
        return -1;
    }
    ssize_t written = write(fd, line, len);
    close(fd);
    return written;
}
