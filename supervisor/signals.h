#pragma once
// The stop handlers: they only raise `stop_requested`, which the cycle looks at.

using signal_handler = void (*)(int);

// Installs `handler` for `signo` with an empty mask (SA_RESTART except for SIGALRM).
// Returns the previous handler, or SIG_ERR when sigaction fails.
signal_handler install_signal(int signo, signal_handler handler);

// The handler for SIGINT, SIGTERM and SIGHUP: stores 1 into `stop_requested`.
void on_stop_signal(int signo);
