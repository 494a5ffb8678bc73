// The address token rule and the two converters, table-driven.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstring>
#include <string>
#include <vector>

#include "modem/address.h"
#include "support.h"

namespace {

struct ipv4_case {
    const char* text;
    const char* token;     // the token printed, nullptr for nothing printed
    const char* address;   // dotted address expected, nullptr for 0
};

TEST(ParseIpv4, TokenRuleAndResult)
{
    const ipv4_case cases[] = {
        {"\"10.64.2.17\"\r\n", "10.64.2.17", "10.64.2.17"},
        {"10.64.2.17,255.255.255.0", "10.64.2.17", "10.64.2.17"},
        {"  10.26.255.38\r\n\r\nOK", "10.26.255.38", "10.26.255.38"},
        {"x10.0.0.1\ty", "10.0.0.1", "10.0.0.1"},
        {"\"0.0.0.0\"", "0.0.0.0", nullptr},
        {"\"10.0.0.300\"", "10.0.0.300", nullptr},
        // Rejected after some bytes were parsed: nothing of them may survive.
        {"\"10.64.2.999\"", "10.64.2.999", nullptr},
        {"\"10.642.17\"", "10.642.17", nullptr},
        {"1.2.3.4\x0b" "5", "1.2.3.4", "1.2.3.4"},
        {"no digits here", nullptr, nullptr},
        {"", nullptr, nullptr},
    };
    for (const ipv4_case& c : cases) {
        fd_capture out(1);
        uint32_t got = parse_ipv4(c.text);
        EXPECT_EQ(got, c.address ? inet_addr(c.address) : 0u) << c.text;
        EXPECT_EQ(out.text(), c.token ? ipv4_line(c.token, c.address) : "") << c.text;
    }
}

// The conversion keeps the C library converter's rules (shorthand forms, octal and hex parts,
// every bound): the edges of each form, then tokens drawn from digits, letters and dots.
TEST(ParseIpv4, ConvertsEveryTokenAsTheCLibraryDoes)
{
    std::vector<std::string> tokens = {
        "255.255.255.255", "4294967295", "4294967296", "0xffffffff", "0x100000000",
        "037777777777", "040000000000", "1.16777215", "1.16777216", "1.2.65535", "1.2.65536",
        "1.2.3.255", "1.2.3.256", "256.1.2.3", "0x7f.1", "0X7F.0.0.01", "010.010.010.010",
        "08.1.1.1", "0x", "0x.1", "0xg", "00x1", "1.2.3.4.", "1..2", "1.2.3.4.5",
        "99999999999999999999999999", "0x00000000000000000000001", "1.0xffffff", "1.0x1000000"};
    uint32_t state = 20261209;
    const char alphabet[] = "0123456789.x.Ag.F.0";
    for (int i = 0; i < 20000; ++i) {
        std::string t(1, static_cast<char>('0' + (state >> 16) % 10));
        for (state = state * 1103515245u + 12345u; (state >> 16) % 12 != 0;
             state = state * 1103515245u + 12345u)
            t += alphabet[(state >> 8) % (sizeof alphabet - 1)];
        tokens.push_back(t);
        state = state * 1103515245u + 12345u;
    }
    fd_capture out(1);
    for (const std::string& t : tokens) {
        struct in_addr libc = {};
        uint32_t expected = inet_aton(t.c_str(), &libc) != 0 ? libc.s_addr : 0;
        ASSERT_EQ(parse_ipv4(t.c_str()), expected) << t;
    }
}

TEST(ParseIpv4, LongRunOfDigitsIsCutAt127)
{
    std::string digits(200, '7');
    fd_capture out(1);
    EXPECT_EQ(parse_ipv4(digits.c_str()), 0u);
    EXPECT_EQ(out.text(), " IPv4 - " + std::string(127, '7') + " = 0\n");
}

struct ipv6_case {
    const char* text;
    int result;
    const char* token;     // printed token, and the address expected when result is 0
};

TEST(ParseIpv6, TokenRuleAndResult)
{
    const ipv6_case cases[] = {
        {"\"2a00:db8::1\"\r\n", 0, "2a00:db8::1"},
        {"fe80::1", 0, "fe80::1"},
        {"1,\"fd12:3456::1\"", -1, nullptr},      // the comma's digit comes first: "1"
        {"\"fd12:3456::1\"", 0, "fd12:3456::1"},
        {"GETIP: abcd::1", 0, "abcd::1"},          // going back stops at the blank
        {"x,FE80::a", 0, "FE80::a"},
        {"1,\"2a00:db8::2\"", -1, nullptr},
        {"2001:db8::5 trailing", 0, "2001:db8::5"},
        {"\"1\"", -1, nullptr},
        {"10.64.2.17", -1, nullptr},
        {"abc:def::", -1, nullptr},
        {"\"2a00:db8::1.2.3.999\"", -1, nullptr},  // a bad IPv4 tail, rejected late
    };
    for (const ipv6_case& c : cases) {
        uint8_t out_addr[16];
        memset(out_addr, 0xEE, sizeof out_addr);
        fd_capture out(1);
        EXPECT_EQ(parse_ipv6(c.text, out_addr), c.result) << c.text;
        if (c.result == 0) {
            uint8_t expected[16];
            ASSERT_EQ(inet_pton(AF_INET6, c.token, expected), 1);
            EXPECT_EQ(memcmp(out_addr, expected, 16), 0) << c.text;
            EXPECT_EQ(out.text(), std::string(" IPv6 - ") + c.token + "\n");
        } else {
            EXPECT_EQ(out.text(), "") << c.text;
            for (uint8_t b : out_addr)
                EXPECT_EQ(b, 0xEE) << "output changed for " << c.text;
        }
    }
}

} // namespace
