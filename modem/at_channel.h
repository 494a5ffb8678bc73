#pragma once
// The AT command channel: one command out, one answer collected into `resp_buf`.
#include <cstddef>

constexpr size_t RESP_CAPACITY = 4096;

// The last answer collected, NUL-terminated; cleared by every read_response.
extern char resp_buf[RESP_CAPACITY + 1];

// Echoes `cmd` to descriptor 0, then writes it to the modem in one call.
// Returns 0, or -1 with "SendCmd error. errno-text" on stderr when the write writes nothing.
int SendCmd(int fd, const char* cmd);

// Collects the answer in at most 5 half-second waits, ending early on "OK".
// Returns the byte count (0 for silence) after writing "READ <text>" to stderr,
// or -1 at once when the text holds "ERROR" but no "OK".
int read_response(int fd);
