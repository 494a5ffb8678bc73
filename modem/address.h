#pragma once
// Cutting the address token out of a modem answer and converting it.
#include <cstdint>

// The first decimal digit in `text`, or nullptr when the text ends first.
const char* skip_to_digit(const char* text);

// The IPv4 address in the first token of `text` (four bytes in network order), or 0 when there
// is no token or the converter rejects it. Prints " IPv4 - <token> = <value>" on stdout for
// every token found.
uint32_t parse_ipv4(const char* text);

// 0 with the IPv6 address of the first token stored in `out`; -1 when there is no token or the
// converter rejects it, with `out` left as it was. The token starts where the run of hex digits
// and colons holding the first decimal digit starts, so fe80::1 is read whole. Prints
// " IPv6 - <token>" on success.
int parse_ipv6(const char* text, uint8_t out[16]);
