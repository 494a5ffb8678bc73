#pragma once
// The modem's AT control port: exclusive, raw 8-bit, and put back as it was found.
#include <termios.h>

// The settings the port had when opened (restored by close_port), and the working copy applied.
extern struct termios saved_tio;
extern struct termios port_tio;

// Opens `path` read-write and exclusively, without waiting for carrier, then makes it blocking,
// raw 8N1 at `speed` bits per second, and discards input left over from an earlier dialogue.
// Returns the descriptor, or -1 with "errno(text)" on stderr and that errno left set when the
// open fails, `path` is not a terminal (ENOTTY) or another process holds the tty in exclusive
// mode (EBUSY); in the last two the descriptor is closed before anything is written to it or
// changed. Failures of the settings calls after that are not reported.
int open_port(const char* path, unsigned speed);

// Waits at most 2.5 s for output to drain (then discards what is left), restores `saved_tio`,
// ends the exclusive mode that open_port set and closes the descriptor.
void close_port(int fd);
