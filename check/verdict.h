#pragma once
// The first line of the report: the verdict word and, in words, what made it.
#include "check/text_out.h"
#include "supervisor/link_info.h"

// The verdicts, each its own exit status.
enum : int {
    VERDICT_HEALTHY = 0,
    VERDICT_USAGE = 1,
    VERDICT_NOT_ATTACHED = 2,
    VERDICT_LOST = 3,
    VERDICT_MODEM_FAILED = 4,
    VERDICT_NO_PORT = 5,
    VERDICT_LOCK_BUSY = 6,
};

// For a check that ran: `result` is check_link's, `info` the record after it, and the modem
// code's `last_check` and the recorded dialogue say why. Writes the line, returns the verdict.
int report_check(text_out& out, int result, const link_info& info);

// A line of its own for a TYPE or an IP_FAMILY that cellwatch would not take as written: what it
// was checked as instead (a generic modem, IPv4), as cellwatch would.
void report_arguments(text_out& out, const char* type, const char* family);

// For a port that did not open with `err`.
int report_no_port(text_out& out, const char* port, int err);

// For a lock held by someone else through `waited` seconds (`stopped` when a stop signal ended
// the wait before the bound), or one that could not be created with `err` (0: none).
int report_lock_busy(text_out& out, const char* lock, long waited, bool stopped, int err);
