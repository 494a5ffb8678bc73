#pragma once
// The stop handlers: they only raise `stop_requested`, which the cycle looks at.
#include <csignal>

using signal_handler = void (*)(int);

// Installs `handler` for `signo` with an empty mask (SA_RESTART except for SIGALRM).
// Returns the previous handler, or SIG_ERR when sigaction fails.
signal_handler install_signal(int signo, signal_handler handler);

// The handler for the stop signals: stores 1 into `stop_requested`.
void on_stop_signal(int signo);

// True when `signo` is ignored now (the run was started so, for SIGHUP under nohup).
bool is_ignored(int signo);

// Makes `signo` a stop request, except a SIGHUP that the run was started with ignored (under
// nohup, say): that one stays ignored, for the run and for the commands it starts.
void install_stop_signal(int signo);

// Adds SIGTSTP, SIGTTIN and SIGTTOU to `set`: the signals that would suspend the process, and
// that wait, blocked, while it holds the lock, which a suspended holder would keep from every
// other link for as long as it stays stopped.
void add_suspend_signals(sigset_t& set);
