// The one place that starts processes: fork, then exec of the shell or of a program. The child
// puts every signal back to its default action itself; a C library's own spawn may leave its
// internal signals ignored across the exec. Nothing here allocates.
#include "supervisor/shell.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "modem/deadline.h"
#include "supervisor/link_info.h"
#include "supervisor/signals.h"

extern char** environ;

namespace {

constexpr const char SHELL[] = "/bin/sh";
// Once a stop is asked, a command has this long to end by itself, then its process group gets
// SIGTERM, and this long again later SIGKILL: a service manager's stop timeout (procd's 60 s,
// systemd's 90 s) must find the run ended in order, not kill it with the interface up.
constexpr int STOP_GRACE_MS = 5000;
constexpr int KILL_GRACE_MS = 5000;
// How often the wait looks at the clock when no signal comes.
constexpr struct timespec LOOK_AGAIN = {0, 200000000};
// The standard descriptor on whose terminal this process's group is in the foreground (a run
// by hand), or -1.
int foreground_terminal()
{
    for (int fd = 0; fd < 3; ++fd)
        if (tcgetpgrp(fd) == getpgrp())
            return fd;
    return -1;
}

// Never returns: execs `path`, or reports why it could not on `report` (when it is a descriptor)
// and exits 127.
[[noreturn]] void exec_program(const char* path, char* const argv[], int report, int terminal)
{
    // A group of its own, so that a stop reaches the script's own children too; DHCP clients it
    // starts as daemons leave it, and are the teardown's to stop. Where the run holds a
    // terminal's foreground, the group takes it over, as a shell's job does: a background group
    // that writes to it would be stopped (SIGTTOU) and waited for without end. SIGTTOU is
    // blocked here, so the handover itself stops nobody.
    setpgid(0, 0);
    if (terminal >= 0)
        tcsetpgrp(terminal, getpid());
    reset_signals();
    execve(path, argv, environ);
    int err = errno;
    ssize_t n = report >= 0 ? write(report, &err, sizeof err) : 0;
    (void)n;
    _exit(127);
}

// The errno that the child sent before it exited, or 0 when the exec closed the pipe.
int exec_error(int report)
{
    int err = 0;
    ssize_t n;
    do
        n = read(report, &err, sizeof err);
    while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(sizeof err) ? err : 0;
}

// SIGCHLD and the stop signals that this process handles: while a command runs they are taken
// by the wait itself, so that it notices both the command's end and a stop at once.
void wake_signals(sigset_t& set)
{
    sigemptyset(&set);
    sigaddset(&set, SIGCHLD);
    constexpr int STOP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};
    for (int signo : STOP_SIGNALS) {
        struct sigaction now = {};
        if (sigaction(signo, nullptr, &now) == 0 && now.sa_handler != SIG_DFL &&
            now.sa_handler != SIG_IGN)
            sigaddset(&set, signo);
    }
}

// Waits for `pid` to end. A stop, asked before or meanwhile, is recorded in `stop_requested`
// and bounds the wait: STOP_GRACE_MS, then SIGTERM to the command's group, KILL_GRACE_MS, then
// SIGKILL; `limit_ms`, when not 0, bounds it too, with SIGTERM when it has passed. A shell that
// SIGTERM ended may leave the script it ran, or that script's children, in its group: they get
// the rest of the time, then SIGKILL too. Returns 0, or the errno when the command cannot be
// waited for.
int wait_for(pid_t pid, const sigset_t& wake, int limit_ms)
{
    bool stopping = false;
    bool shell_ended = false;
    int signals_sent = 0;
    deadline d = {};
    deadline limit = deadline_in(limit_ms);
    for (;;) {
        int status = 0;
        pid_t ended = shell_ended ? 0 : waitpid(pid, &status, WNOHANG);
        if (ended == pid && signals_sent != 1)
            return 0;
        shell_ended = shell_ended || ended == pid;
        if (ended < 0 && errno != EINTR)
            return errno;
        // After SIGKILL nothing is left to wait for: whoever reaps the group's orphans does.
        if (shell_ended && (signals_sent == 2 || kill(-pid, 0) != 0))
            return 0;
        if (stop_requested && !stopping) {
            stopping = true;
            d = deadline_in(STOP_GRACE_MS);
        }
        if (limit_ms > 0 && !stopping && ms_left(limit) == 0) {
            stopping = true;
            d = deadline_in(0);
        }
        if (stopping && signals_sent < 2 && ms_left(d) == 0) {
            kill(-pid, signals_sent++ == 0 ? SIGTERM : SIGKILL);
            // A stopped command would keep its SIGTERM pending, and its TERM trap unrun, until
            // the SIGKILL: it is continued, as service managers do.
            kill(-pid, SIGCONT);
            d = deadline_in(KILL_GRACE_MS);
        }
        int signo = sigtimedwait(&wake, nullptr, &LOOK_AGAIN);
        if (signo > 0 && signo != SIGCHLD)
            stop_requested = 1;
    }
}

// Closes `fd` when it is one.
void close_if_open(int fd)
{
    if (fd >= 0)
        close(fd);
}

} // namespace

// SIGRTMAX is the platform's own: 64 on most, 127 on MIPS, whose signals go above 64. An ignored
// SIGHUP is the run's own, kept from its start (nohup): the commands keep it too.
void reset_signals()
{
    struct sigaction act = {};
    act.sa_handler = SIG_DFL;
    sigemptyset(&act.sa_mask);
    for (int signo = 1; signo <= SIGRTMAX; ++signo)
        if (signo != SIGHUP || !is_ignored(signo))
            sigaction(signo, &act, nullptr); // SIGKILL, SIGSTOP and the C library's own refuse
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

int run_shell(const char* command)
{
    char sh[] = "sh";
    char dash_c[] = "-c";
    char* argv[] = {sh, dash_c, const_cast<char*>(command), nullptr};
    return run_program(SHELL, argv, 0);
}

int run_program(const char* path, char* const argv[], int limit_ms)
{
    // Close-on-exec: the child's end closes by itself when the shell starts. Without two
    // descriptors to spare (a low RLIMIT_NOFILE) the command runs all the same, and only why an
    // exec failed goes untold: the teardown's commands must never be skipped for a report.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        if (errno != EMFILE && errno != ENFILE)
            return errno;
        report[0] = -1;
        report[1] = -1;
    }
    sigset_t wake;
    sigset_t old;
    wake_signals(wake);
    sigset_t blocked = wake;
    sigaddset(&blocked, SIGTTOU);
    sigprocmask(SIG_BLOCK, &blocked, &old);
    int terminal = foreground_terminal();
    pid_t pid = fork();
    if (pid < 0) {
        int err = errno;
        sigprocmask(SIG_SETMASK, &old, nullptr);
        close_if_open(report[0]);
        close_if_open(report[1]);
        return err;
    }
    if (pid == 0)
        exec_program(path, argv, report[1], terminal);
    setpgid(pid, pid); // as the child does, whichever of the two comes first
    if (terminal >= 0)
        tcsetpgrp(terminal, pid);
    close_if_open(report[1]);
    int err = report[0] >= 0 ? exec_error(report[0]) : 0;
    close_if_open(report[0]);
    int wait_err = wait_for(pid, wake, limit_ms);
    if (terminal >= 0)
        tcsetpgrp(terminal, getpgrp());
    sigprocmask(SIG_SETMASK, &old, nullptr);
    return err != 0 ? err : wait_err;
}
