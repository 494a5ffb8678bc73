#pragma once
// What the supervisor calls in the modem subsystem: the port and the link check.
#include "modem/serial_port.h"
#include "supervisor/link_info.h"

enum : int {
    CHECK_OK = 0,            // dialogue finished; `attached` says whether the link is up
    CHECK_LOST = -1,         // the modem reports the link lost
    CHECK_NEW_ADDRESS = -2,  // the address differs from the recorded one (IPv6: none counts)
    CHECK_MODEM_FAILED = -3, // the modem did not answer as needed
};

// One dialogue over the open port `fd`: probe, attach state (asking to attach when detached),
// address. Updates `attached` and the addresses in `info` and returns a CHECK_ code.
int check_link(int fd, link_info& info);
