// The run: lock, port, check, port, lock, with the stop signals held off while the lock is ours.
#include "check/one_check.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

#include "check/dialogue.h"
#include "check/verdict.h"
#include "modem/modem.h"
#include "supervisor/cycle.h"
#include "supervisor/lock.h"
#include "supervisor/pause.h"
#include "supervisor/signals.h"

namespace {

constexpr long LOCK_WAIT_S = 30;
constexpr int STOP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// The modem code writes its own trail: commands to descriptor 0 (the user's terminal, here),
// answers and address lines to standard output and error, raw CRs and all. The report tells all
// of it, so while a guard lives those descriptors lead to /dev/null.
class muted_trail {
public:
    muted_trail()
    {
        fflush(stdout);
        int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
        // A descriptor that could not be saved (too few descriptors allowed) is left as it is:
        // muted, it could never be given back, and the verdict would go to /dev/null.
        for (int fd = 0; fd <= 2 && null_fd >= 0; ++fd) {
            saved_[fd] = fcntl(fd, F_DUPFD_CLOEXEC, 3);
            if (saved_[fd] >= 0)
                dup2(null_fd, fd);
        }
        if (null_fd >= 0)
            close(null_fd);
    }
    ~muted_trail()
    {
        fflush(stdout);
        fflush(stderr);
        for (int fd = 0; fd <= 2; ++fd) {
            if (saved_[fd] >= 0) {
                dup2(saved_[fd], fd);
                close(saved_[fd]);
            }
        }
    }
    muted_trail(const muted_trail&) = delete;
    muted_trail& operator=(const muted_trail&) = delete;

private:
    int saved_[3] = {-1, -1, -1};
};

// Holding the lock: the port, one check, the port put back.
void check_under_lock(const char* port, link_info& info, outcome& o)
{
    muted_trail muted;
    int fd = open_port(port, PORT_SPEED);
    if (fd < 0) {
        o.err = errno;
        o.stage = outcome::PORT_NOT_OPEN;
        return;
    }
    record_dialogue();
    o.result = check_link(fd, info);
    at_trace = nullptr;
    close_port(fd);
    o.stage = outcome::CHECKED;
}

long seconds_since(const struct timespec& from)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return ((now.tv_sec - from.tv_sec) * 1000L + (now.tv_nsec - from.tv_nsec) / 1000000L) / 1000L;
}

} // namespace

void install_stop_handlers()
{
    for (int signo : STOP_SIGNALS)
        install_stop_signal(signo);
}

outcome run_one_check(const char* port, link_info& info)
{
    sigset_t held_off;
    sigset_t old;
    sigemptyset(&held_off);
    for (int signo : STOP_SIGNALS)
        sigaddset(&held_off, signo);
    add_suspend_signals(held_off);
    struct timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    outcome o;
    for (;;) {
        sigprocmask(SIG_BLOCK, &held_off, &old);
        // A stop that came during the pause is obeyed even when the lock has just been freed.
        if (stop_requested) {
            sigprocmask(SIG_SETMASK, &old, nullptr);
            o.waited = seconds_since(start);
            o.stopped = true;
            return o;
        }
        pid_t holder = -1;
        bool held = take_lock(holder);
        int err = errno;
        if (held) {
            check_under_lock(port, info, o);
            release_lock();
        }
        sigprocmask(SIG_SETMASK, &old, nullptr);
        o.waited = seconds_since(start);
        if (held)
            return o;
        if (err != EEXIST) {
            o.err = err;
            return o;
        }
        if (stop_requested || o.waited >= LOCK_WAIT_S) {
            o.stopped = stop_requested != 0;
            return o;
        }
        pause_seconds(1);
    }
}

int report_outcome(text_out& out, const outcome& o, const char* port, const link_info& info)
{
    switch (o.stage) {
    case outcome::CHECKED:
        return report_check(out, o.result, info);
    case outcome::PORT_NOT_OPEN:
        return report_no_port(out, port, o.err);
    default:
        return report_lock_busy(out, LOCK_PATH, o.waited, o.stopped, o.err);
    }
}

