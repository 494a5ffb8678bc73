#pragma once
// One cellwatch per modem port: a second one for the same port would run every DHCP script and
// failover twice, and leave one DHCP client behind the teardowns.

// Claims `port` for this process for as long as it runs: an abstract socket named after the
// port's device (after its path where it has none now), which the kernel drops with the process,
// so that nothing is left behind, and which processes in other PID and mount namespaces of the
// same network namespace see too. Returns 0, or -1 when another process holds the claim, with
// one line on stderr naming the port and that process's id where it can be known.
int claim_port(const char* port);
