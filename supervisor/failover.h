#pragma once
// The end of supervision: the interface taken out of service, and the failover request.
#include <cstddef>
#include <sys/types.h>

#include "supervisor/link_info.h"

// For each DHCP client pid file that exists (IPv4, then IPv6): send that client SIGTERM, wait at
// most 5 s for it to end, and bring the interface down. A pid file that holds no single process
// id above 1 is reported on stderr and its kill skipped; nothing else is reported, and results
// are not examined.
void teardown_interface(const link_info& info);

// Writes "exec /opt/vordane/bin/failover.sh IFNAME\n" to the event pipe; reports on stderr
// when it could not be written whole.
void cm_run_failover(const char* ifname);

// Opens the event pipe (waiting for a reader), writes `line` in one call and closes it.
// Returns what the write returned, or -1 with a message when the pipe cannot be opened or its
// path holds anything but a FIFO (errno EINVAL, told as "not a FIFO"; nothing is written).
ssize_t write_event(const char* line, size_t len);
