// The one token rule for addresses: from the first digit up to a blank, comma or quote.
// An IPv6 address may begin with hex letters (fe80::1, fd12:3456::1), so for IPv6 the token
// starts where the run of hex digits and colons around that first digit starts.
#include "modem/address.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>

namespace {

constexpr size_t TOKEN_CAPACITY = 128;
constexpr uint64_t PART_OVERFLOW = 1ull << 32; // larger than any part may be
constexpr int MAX_PARTS = 4;

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

bool is_hex_or_colon(char c)
{
    return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':';
}

bool ends_token(char c)
{
    return c == '\0' || c == ' ' || (c >= '\t' && c <= '\r') || c == ',' || c == '"';
}

enum class family { ipv4, ipv6 };

// Copies the token into `token` (zero-filled, at most 127 characters); false when there is none.
bool cut_token(const char* text, family f, char (&token)[TOKEN_CAPACITY])
{
    memset(token, 0, sizeof token);
    const char* start = skip_to_digit(text);
    if (start == nullptr)
        return false;
    if (f == family::ipv6)
        while (start > text && is_hex_or_colon(start[-1]))
            --start;
    for (size_t n = 0; n < TOKEN_CAPACITY - 1 && !ends_token(start[n]); ++n)
        token[n] = start[n];
    return true;
}

unsigned digit_value(char c)
{
    if (is_digit(c))
        return static_cast<unsigned>(c - '0');
    if (c >= 'a' && c <= 'f')
        return static_cast<unsigned>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F')
        return static_cast<unsigned>(c - 'A' + 10);
    return 16;
}

// One part, written as a C integer constant: 0x or 0X and hex digits, 0 and octal digits, or
// decimal digits; `s` starts at a digit. Stores its value, held at PART_OVERFLOW when larger,
// and returns what follows it.
const char* read_part(const char* s, uint64_t& value)
{
    unsigned base = 10;
    if (s[0] == '0') {
        base = 8;
        if ((s[1] == 'x' || s[1] == 'X') && digit_value(s[2]) < 16) {
            base = 16;
            s += 2;
        }
    }
    value = 0;
    for (; digit_value(*s) < base; ++s) {
        value = value * base + digit_value(*s);
        if (value > PART_OVERFLOW)
            value = PART_OVERFLOW;
    }
    return s;
}

// The classic converter's rule: one to four parts between dots, each beginning with a digit;
// every part but the last is one byte, and the last fills the bytes that are left (10.1 is
// 10.0.0.1). True with the address in network order in `addr`; false for anything else. The C
// library's converter does the same, with a general number scanner that is most of its size.
bool dotted_ipv4(const char* token, uint32_t& addr)
{
    uint64_t parts[MAX_PARTS];
    int n = 0;
    for (const char* s = token;; ++s) {
        if (n == MAX_PARTS || !is_digit(*s))
            return false;
        s = read_part(s, parts[n++]);
        if (*s == '\0')
            break;
        if (*s != '.')
            return false;
    }
    uint64_t value = parts[n - 1];
    if (value >> (8 * (MAX_PARTS + 1 - n)) != 0)
        return false;
    for (int i = 0; i < n - 1; ++i) {
        if (parts[i] > 0xff)
            return false;
        value |= parts[i] << (24 - 8 * i);
    }
    const uint8_t bytes[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                              static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    memcpy(&addr, bytes, sizeof addr);
    return true;
}

} // namespace

const char* skip_to_digit(const char* text)
{
    while (*text != '\0' && !is_digit(*text))
        ++text;
    return *text != '\0' ? text : nullptr;
}

uint32_t parse_ipv4(const char* text)
{
    char token[TOKEN_CAPACITY];
    if (!cut_token(text, family::ipv4, token))
        return 0;
    // A rejected token is no address: 10.64.2.999 must not become 10.64.2.0.
    uint32_t converted = 0;
    uint32_t addr = dotted_ipv4(token, converted) ? converted : 0;
    fprintf(stdout, " IPv4 - %s = %u\n", token, addr);
    return addr;
}

int parse_ipv6(const char* text, uint8_t out[16])
{
    char token[TOKEN_CAPACITY];
    if (!cut_token(text, family::ipv6, token))
        return -1;
    // Into scratch first, for the same reason: `out` is written only with an address.
    uint8_t scratch[16];
    if (inet_pton(AF_INET6, token, scratch) != 1)
        return -1;
    memcpy(out, scratch, sizeof scratch);
    fprintf(stdout, " IPv6 - %s\n", token);
    return 0;
}
