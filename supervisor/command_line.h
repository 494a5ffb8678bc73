#pragma once
// Reading the command line PORT TYPE IFACE [IP_FAMILY] into the link record.
#include <cstddef>
#include <cstdint>

#include "supervisor/link_info.h"

// Family code for a TYPE argument: exact, case-sensitive match, MODEM_GENERIC otherwise.
uint32_t modem_type_of(const char* type);

// The TYPE word for a family code: "generic" for MODEM_GENERIC and any unknown code.
const char* family_name_of(uint32_t code);

// What is wrong with an interface name, if anything.
enum : int { IFNAME_OK = 0, IFNAME_EMPTY, IFNAME_LONG, IFNAME_DASH, IFNAME_CHARACTER };

// IFNAME_OK when IFACE is a name that can safely stand in the shell commands built from it: 1 to
// 15 characters, each an ASCII letter, digit, '.', '-' or '_', the first not '-'; otherwise the
// first fault found. Says nothing.
int ifname_fault(const char* iface);

// 0 when ifname_fault finds nothing. Otherwise -1, with one line on stderr that names the
// argument and says why.
int check_ifname(const char* iface);

// Fills `info` (zero-filling it first) from argv; argc must be at least 4.
// Returns 0, or -1 when IFACE is refused by check_ifname.
int fill_link_info(link_info& info, int argc, char* const argv[]);

// Copies `in` into `out` (`size` bytes, terminator included) as it may be shown in a message:
// control and non-ASCII bytes become '?', so the message stays one line whatever the text holds,
// and a long text is cut.
void make_printable(const char* in, char* out, size_t size);

// The two usage lines on stderr, with the program name.
void print_usage(const char* program);
