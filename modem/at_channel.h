#pragma once
// The AT command channel: one command out, one answer collected into `resp_buf`.
#include <cstddef>

constexpr size_t RESP_CAPACITY = 4096;

// How long a command may wait for the port to take it, how long one answer is collected, and
// the longest single wait within that collection.
constexpr int SEND_WAIT_MS = 2500;
constexpr int COLLECT_MS = 2500;
constexpr int WAIT_MS = 500;

// The last answer collected, NUL-terminated; cleared by every read_response.
extern char resp_buf[RESP_CAPACITY + 1];

// True when the last read_response's wait was ended by a signal (a stop request) before the
// answer was complete: what it returned is no answer of the modem's, silence included.
extern bool answer_cut_short;

// True once a wait found the port readable with nothing to read: the device hung up (a USB
// modem unplugged, a reset). Cleared by check_link, so it tells of one dialogue.
extern bool port_hung_up;

// Told, when set, of each command as SendCmd finishes with it (its result, and the errno when
// nothing was written) and of each answer as read_response finishes with it (the bytes
// collected, NULs included, and the result). For a tool that shows the dialogue; the supervisor
// leaves it unset, and neither call changes what the channel does or prints.
struct at_tracer {
    void (*sent)(const char* cmd, int result, int err);
    void (*answered)(const char* text, size_t len, int result);
};
extern const at_tracer* at_trace;

// Echoes `cmd` to descriptor 0, then writes it to the modem in one call, once the port takes
// output (at most SEND_WAIT_MS). Returns 0, or -1 with "SendCmd error. errno-text" on stderr when
// nothing was written (ETIMEDOUT when the port took nothing in time).
int SendCmd(int fd, const char* cmd);

// Collects the answer until "OK" or "ERROR" is seen, the buffer is full, a wait is cut short by
// a signal, the port hangs up, or COLLECT_MS have passed; each wait is at most WAIT_MS.
// Returns the byte count (0 for silence) after writing "READ <text>" to stderr,
// or -1 at once when the text holds "ERROR" but no "OK".
int read_response(int fd);
