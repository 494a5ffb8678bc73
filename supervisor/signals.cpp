// The stop flag and the installation of the stop handlers.
// A handler may only store to a volatile sig_atomic_t, so that is all it does.
#include "supervisor/signals.h"

#include "supervisor/link_info.h"

volatile sig_atomic_t stop_requested = 0;

signal_handler install_signal(int signo, signal_handler handler)
{
    struct sigaction act = {};
    struct sigaction old = {};
    act.sa_handler = handler;
    sigemptyset(&act.sa_mask);
    // Blocking reads, writes and the event pipe's open resume after a stop signal; only the
    // pauses and the answer wait are cut short by it.
    act.sa_flags = signo == SIGALRM ? 0 : SA_RESTART;
    if (sigaction(signo, &act, &old) < 0)
        return SIG_ERR;
    return old.sa_handler;
}

void on_stop_signal(int)
{
    stop_requested = 1;
}

bool is_ignored(int signo)
{
    struct sigaction now = {};
    return sigaction(signo, nullptr, &now) == 0 && now.sa_handler == SIG_IGN;
}

void install_stop_signal(int signo)
{
    if (signo == SIGHUP && is_ignored(signo))
        return;
    install_signal(signo, on_stop_signal);
}

void add_suspend_signals(sigset_t& set)
{
    sigaddset(&set, SIGTSTP);
    sigaddset(&set, SIGTTIN);
    sigaddset(&set, SIGTTOU);
}
