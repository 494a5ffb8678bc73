#pragma once
// The one link record of a run, the modem family codes and the stop flag: the state that the
// supervisor and the link check share.
#include <csignal>
#include <cstddef>
#include <cstdint>

enum : uint32_t {
    MODEM_GENERIC = 0,
    MODEM_ALTAIR = 1,
    MODEM_ERICSSON = 2,
    MODEM_MARVELL = 3,
};

// Zero-filled before anything is stored in it; after start-up only the link check changes
// `attached` and the addresses, but for the cycle, which forgets the addresses when the port's
// device went away or their DHCP script could not be started.
struct link_info {
    uint32_t modem_type;
    int32_t attached;
    uint32_t use_ipv6;
    uint32_t ipv4_addr;      // four address bytes in network order, 0 means none
    uint8_t ipv6_addr[16];   // network order, all zero means none
    char ifname[16];         // up to 15 characters, NUL-terminated
};

static_assert(offsetof(link_info, modem_type) == 0, "link_info layout");
static_assert(offsetof(link_info, attached) == 4, "link_info layout");
static_assert(offsetof(link_info, use_ipv6) == 8, "link_info layout");
static_assert(offsetof(link_info, ipv4_addr) == 12, "link_info layout");
static_assert(offsetof(link_info, ipv6_addr) == 16, "link_info layout");
static_assert(offsetof(link_info, ifname) == 32, "link_info layout");
static_assert(sizeof(link_info) == 48, "link_info layout");

// Set to 1 by the SIGINT, SIGTERM and SIGHUP handlers, never cleared; read at the top of every
// cycle.
extern volatile sig_atomic_t stop_requested;
