#pragma once
// The event pipe as the daemon holds it: made where nothing is there, never anything else.

constexpr const char EVENT_PIPE_PATH[] = "/var/run/.neventpipe";

// Makes the FIFO at `path` (mode 0600) where nothing is there, or takes the FIFO that is, and
// opens it for reading without waiting for a writer; an existing FIFO is made root's and 0600
// again. Returns the descriptor, or -1 with one line on stderr when the path holds anything but
// a FIFO (a regular file, a directory, a symbolic link: all left alone) or a call failed.
int open_event_pipe(const char* path);

// Opens `path` for reading again onto descriptor `fd`, once every writer has closed: the old
// descriptor would report the hang-up for good. The next one is open before the old one closes,
// so a writer never finds the pipe without a reader. Returns 0, or -1 with one line on stderr.
int reopen_event_pipe(const char* path, int fd);
