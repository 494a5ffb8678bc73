#pragma once
// What the supervisor calls in the modem subsystem: the port and the link check.
#include "modem/serial_port.h"
#include "supervisor/link_info.h"

enum : int {
    CHECK_OK = 0,            // dialogue finished; `attached` says whether the link is up
    CHECK_LOST = -1,         // the modem reports the link lost
    CHECK_NEW_ADDRESS = -2,  // the address differs from the recorded one (IPv6: none counts)
    CHECK_MODEM_FAILED = -3, // the modem did not answer as needed
    CHECK_CUT_SHORT = -4,    // a stop signal ended the wait for an answer: the dialogue ended
                             // there, and nothing the modem did is known from it
};

// Why a check came back CHECK_MODEM_FAILED.
enum : int {
    FAULT_NONE = 0,
    FAULT_NOT_SENT,   // no probe could be written to the port
    FAULT_SILENT,     // the answer to `command` was empty
    FAULT_ERROR,      // it held "ERROR" and no "OK"
    FAULT_NO_OK,      // it held no "OK"
    FAULT_NO_TAG,     // it held no `tag` (for an address: no `tag` line with a comma)
};

// What the last check_link saw, for a report in words; the supervisor does not read it.
struct check_report {
    int attach_status;   // the status read, -1 when none was
    int attach_sent;     // 1 when the attach command was written, -1 when it was withheld
    int fault;           // a FAULT_ code, FAULT_NONE unless the check failed
    const char* command; // the command whose answer failed it, with its CR; nullptr when none
    const char* tag;     // the tag looked for in that answer; nullptr for the probe
    const char* attach_command; // the family's, with its CR
};
extern check_report last_check;

// Whether check_link asks a modem that is detached, and known to be, to attach. The supervisor
// always does; a check that only looks leaves it 0, so that a running supervisor still sees the
// detach for itself.
extern bool attach_when_detached;

// One dialogue over the open port `fd`: probe, attach state (asking to attach when detached),
// address. Updates `attached` and the addresses in `info` from what the modem answered, fills
// `last_check`, and returns a CHECK_ code; CHECK_CUT_SHORT at the first answer whose wait a
// signal ended, with no further command sent.
int check_link(int fd, link_info& info);
