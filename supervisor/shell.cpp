// The one place that starts processes: fork, then exec of the shell. The child puts every signal
// back to its default action itself; a C library's own spawn may leave its internal signals
// ignored across the exec. Nothing here allocates.
#include "supervisor/shell.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr const char SHELL[] = "/bin/sh";
// Never returns: execs the shell, or reports why it could not on `report` and exits 127.
[[noreturn]] void exec_shell(const char* command, int report)
{
    reset_signals();
    char sh[] = "sh";
    char dash_c[] = "-c";
    char* argv[] = {sh, dash_c, const_cast<char*>(command), nullptr};
    execve(SHELL, argv, environ);
    int err = errno;
    ssize_t n = write(report, &err, sizeof err);
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

} // namespace

// SIGRTMAX is the platform's own: 64 on most, 127 on MIPS, whose signals go above 64. An ignored
// SIGHUP is the run's own, kept from its start (nohup): the commands keep it too.
void reset_signals()
{
    struct sigaction act = {};
    act.sa_handler = SIG_DFL;
    sigemptyset(&act.sa_mask);
    for (int signo = 1; signo <= SIGRTMAX; ++signo) {
        struct sigaction now = {};
        if (signo == SIGHUP && sigaction(signo, nullptr, &now) == 0 && now.sa_handler == SIG_IGN)
            continue;
        sigaction(signo, &act, nullptr); // SIGKILL, SIGSTOP and the C library's own refuse
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

int run_shell(const char* command)
{
    // Close-on-exec: the child's end closes by itself when the shell starts.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0)
        return errno;
    pid_t pid = fork();
    if (pid < 0) {
        int err = errno;
        close(report[0]);
        close(report[1]);
        return err;
    }
    if (pid == 0)
        exec_shell(command, report[1]);
    close(report[1]);
    int err = exec_error(report[0]);
    close(report[0]);
    // The stop handlers restart the wait; a stop signal is kept and acted on at the next cycle.
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return err != 0 ? err : errno;
    }
    return err;
}
