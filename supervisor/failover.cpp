// Teardown and the hand-off to the event daemon through its named pipe.
// The request is one line in one write, so the daemon never reads half of it.
#include "supervisor/failover.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "supervisor/pid_file.h"
#include "supervisor/shell.h"

namespace {

constexpr size_t COMMAND_CAPACITY = 127;
constexpr size_t REQUEST_CAPACITY = 128;
constexpr const char EVENT_PIPE[] = "/var/run/.neventpipe";

// The client gets the SIGTERM that the shell's kill would send, but only on a pid file that
// names one process; the signal is sent here so that the file is read once, by the code that
// checked it. The interface goes down whatever the file held. Results are not examined.
void stop_client(const char* pid_file, const char* down_command)
{
    if (access(pid_file, F_OK) != 0)
        return;
    pid_t pid = read_pid_file(pid_file);
    if (pid > 1)
        kill(pid, SIGTERM);
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
