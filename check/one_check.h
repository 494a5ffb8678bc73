#pragma once
// One run of the check: the lock waited for, the port, one link check, and its verdict.
#include "check/text_out.h"
#include "supervisor/link_info.h"

// How far a run got, and what it found there.
struct outcome {
    enum { LOCK_NOT_HAD, PORT_NOT_OPEN, CHECKED } stage = LOCK_NOT_HAD;
    int result = 0;    // check_link's, once CHECKED
    int err = 0;       // why the port did not open, or why the lock could not be created
    long waited = 0;   // seconds waited for the lock
    bool stopped = false;
};

// Makes SIGINT, SIGTERM, SIGHUP and SIGQUIT stop requests (a SIGHUP ignored from the start
// stays so). An interactive tool is also ended by a closed terminal or a quit key: none of them
// may leave the lock behind, which would keep every cellwatch off its modem.
void install_stop_handlers();

// Polls for the lock once a second, as cellwatch does (recovering a stale one), for at most 30
// seconds, then checks `port` once under it on `info`, recording the dialogue. Stop and
// suspension signals wait while the lock is held, so the dialogue in progress ends whole, the
// port is put back and the lock removed; before that, a stop ends the wait, even when the lock
// frees in the same second. The modem code's own trail goes to /dev/null meanwhile.
outcome run_one_check(const char* port, link_info& info);

// Writes the verdict line for `o` and returns the verdict.
int report_outcome(text_out& out, const outcome& o, const char* port, const link_info& info);
