#pragma once
// The supervision loop: lock, port, link check, unlock, and acting on the result.
#include "supervisor/link_info.h"

enum : int {
    OUTCOME_STOP = 0,     // a stop signal was seen at the top of a cycle
    OUTCOME_FAILOVER = 1, // the link was lost or the failure score reached the threshold
};

// The speed the port is opened at for every dialogue.
constexpr unsigned PORT_SPEED = 115200;

// The cycle's own mark for a port that did not open; not a link check result.
constexpr int CHECK_NO_PORT = 1;

// Points at which supervision ends in failover, and the points per failed check.
constexpr int FAIL_THRESHOLD = 11;
constexpr int POINTS_NOT_ATTACHED = 1;
constexpr int POINTS_MODEM_FAILED = 4;

// The failure score of the running loop: 0 when run_cycle begins, carried from cycle to cycle.
extern int fail_score;

// Applies one cycle's `result` (a CHECK_ code or CHECK_NO_PORT) to `score`, given the
// record's `attached` after the check. Returns OUTCOME_FAILOVER when supervision must end,
// -1 when the next cycle follows.
int score_result(int result, int attached, int& score);

// Runs the DHCP script for the record's interface and address family, echoing the command on
// stderr, and waits for it. Returns 0 when the shell ran, or the errno, reported as
// "Fail to system(...)", when it could not be started or waited for.
int run_dhcp_script(const link_info& info);

// Clears the record's addresses, so that the next address the modem reports is handled as new
// and its DHCP script runs: for a port whose device went away (an interface that comes back with
// it is down and unconfigured) and for an address whose script never ran.
void forget_address(link_info& info);

// Supervises the link on `port` until a stop signal, a lost link or the threshold.
// Returns OUTCOME_STOP or OUTCOME_FAILOVER. A lock that cannot be created is told on stderr at
// the first failure and when its reason changes, one held by another for over a minute once; a
// dialogue that a stop cut short scores nothing and ends the run at once.
int run_cycle(link_info& info, const char* port);
