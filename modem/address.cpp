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
    // Only a converter that says it succeeded is believed: some C libraries leave the bytes they
    // parsed before rejecting a token, and 10.64.2.999 must not become 10.64.2.0.
    struct in_addr scratch = {};
    uint32_t addr = inet_aton(token, &scratch) != 0 ? scratch.s_addr : 0;
    printf(" IPv4 - %s = %u\n", token, addr);
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
    printf(" IPv6 - %s\n", token);
    return 0;
}
