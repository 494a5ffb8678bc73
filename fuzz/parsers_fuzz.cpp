// Fuzzes the address token rule and both converters with arbitrary text.
#include <arpa/inet.h>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "modem/address.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The parsers print every token; that output is not what is being tested.
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    close(null);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    char text[8192];
    size = size < sizeof text - 1 ? size : sizeof text - 1;
    memcpy(text, data, size);
    text[size] = '\0';
    char copy[sizeof text];
    memcpy(copy, text, size + 1);

    uint32_t v4 = parse_ipv4(text);
    // A text that is one whole token converts as the C library's converter converts it.
    if (size > 0 && size < 128 && text[0] >= '0' && text[0] <= '9' &&
        strcspn(text, " \t\n\v\f\r,\"") == size) {
        struct in_addr libc = {};
        if (v4 != (inet_aton(text, &libc) != 0 ? libc.s_addr : 0))
            __builtin_trap();
    }
    uint8_t addr[16] = {};
    parse_ipv6(text, addr);
    if (memcmp(copy, text, size + 1) != 0)
        __builtin_trap(); // the parsers must leave their text unchanged
    return 0;
}
