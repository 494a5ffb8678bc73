#pragma once
// What the program makes sure of before anything else: the state a parent hands over is not
// trusted, because the modem, the scripts and the log readers all depend on it.

// Opens /dev/null on each of descriptors 0, 1 and 2 that is not open, so that the port, the lock
// and the event pipe never take their places. Ignores SIGPIPE, so that a log reader or an event
// daemon that has gone away gives EPIPE instead of a death with the lock held. Puts SIGCHLD back
// to its default action, so that the shell commands can be waited for, and unblocks every signal,
// so that a stop signal reaches its handler.
void prepare_process();
