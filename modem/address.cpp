// The one token rule for addresses: from the first digit up to a blank, comma or quote.
// Tokens start at a digit even for IPv6, so leading hex letters (fe80::1) are skipped.
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

bool ends_token(char c)
{
    return c == '\0' || c == ' ' || (c >= '\t' && c <= '\r') || c == ',' || c == '"';
}

// Copies the token into `token` (zero-filled, at most 127 characters); false when there is none.
bool cut_token(const char* text, char (&token)[TOKEN_CAPACITY])
{
    memset(token, 0, sizeof token);
    const char* start = skip_to_digit(text);
    if (start == nullptr)
        return false;
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
    if (!cut_token(text, token))
        return 0;
    // A rejected token leaves the result untouched, which is 0: no address.
    struct in_addr addr = {};
    inet_aton(token, &addr);
    printf(" IPv4 - %s = %u\n", token, addr.s_addr);
    return addr.s_addr;
}

int parse_ipv6(const char* text, uint8_t out[16])
{
    char token[TOKEN_CAPACITY];
    if (!cut_token(text, token))
        return -1;
    if (inet_pton(AF_INET6, token, out) != 1)
        return -1;
    printf(" IPv6 - %s\n", token);
    return 0;
}
