// Answers as real modems send them, read right by the real program: in many pieces, with other
// lines around the tagged one, and IPv6 addresses that begin with a letter. Each case runs in a
// sandbox of its own, so the cases of one test run at once.
#include <gtest/gtest.h>

#include "support.h"

namespace {

using strings = std::vector<std::string>;

using Answers = sandboxed_test;

std::string shipped(const std::string& name)
{
    std::string text = read_file(std::string(SCENARIOS_DIR) + "/" + name);
    EXPECT_FALSE(text.empty()) << name;
    return text;
}

struct expected_cycle {
    const char* name;
    std::string scenario;
    strings args;
    strings commands;
    std::string out, calls;
};

// Runs every case's first cycle at once and checks what each program did.
void check_first_cycles(const std::vector<expected_cycle>& cases)
{
    std::vector<std::unique_ptr<one_link>> links;
    for (const expected_cycle& c : cases)
        links.push_back(std::make_unique<one_link>(c.scenario, c.args));
    for (size_t i = 0; i < cases.size(); ++i) {
        const expected_cycle& c = cases[i];
        run_result r = links[i]->stop_in_pause(c.commands.size());
        EXPECT_EQ(r.status, 0) << c.name;
        EXPECT_EQ(links[i]->sim.commands(), c.commands) << c.name << ": " << r.err;
        EXPECT_EQ(r.out, c.out) << c.name;
        EXPECT_EQ(links[i]->root.calls(), c.calls) << c.name;
    }
}

const strings GENERIC_IPV4 = {"AT", "AT+CGATT?", "AT+CGPADDR"};
const strings MARVELL_IPV6 = {"AT", "AT+CGATT?", "AT*GETIP=1"};

TEST_F(Answers, AnswersInManyPiecesAreCollectedWhole)
{
    check_first_cycles({
        {"uart pieces", shipped("uart-pieces.scn"), {"generic", "wwan0"}, GENERIC_IPV4,
         ipv4_line("10.64.2.17"), "4dhcp.sh wwan0\n"},
        {"one byte at a time", "family marvell\nipv6 2a00:db8::1\nchunk 1 1\n",
         {"marvell", "wwan0", "ip6"}, MARVELL_IPV6, " IPv6 - 2a00:db8::1\n", "6dhcp.sh wwan0\n"},
    });
}

TEST_F(Answers, ValuesAreReadOnlyFromTheirOwnTaggedLine)
{
    const strings attach_asked = {"AT", "AT+CGATT?", "AT+CGATT=1"};
    check_first_cycles({
        // No qualifying line: the address query failed, nothing is stored or run.
        {"unsolicited line after a context with no address",
         shipped("unsolicited-after-empty-context.scn"), {"generic", "wwan0"}, GENERIC_IPV4, "",
         ""},
        // An empty address is no address, whatever digits the next line holds.
        {"empty address, then a line with digits",
         "ipv4 none\nempty-context quoted\nunsolicited before-ok +CSQ: 17,99\n",
         {"generic", "wwan0"}, GENERIC_IPV4, "", ""},
        // A context with no address is passed over for the next one that has it.
        {"a context with no address, then one with it",
         "ipv4 10.0.0.5\ncid 2\nformat percontext\nunsolicited before-ok +CREG: 1,\"0166\"\n",
         {"generic", "wwan0"}, GENERIC_IPV4, ipv4_line("10.0.0.5"), "4dhcp.sh wwan0\n"},
        // No digit on the attach tag's line: status 0, so the modem is asked to attach.
        {"attach tag without a value, then a line with 1",
         "answer AT+CGATT? \\r\\n+CGATT:\\r\\n+CREG: 1\\r\\n\\r\\nOK\\r\\n\n",
         {"generic", "wwan0"}, attach_asked, "", ""},
    });
}

TEST_F(Answers, Ipv6AddressesThatBeginWithALetterAreReadWhole)
{
    check_first_cycles({
        {"link-local", shipped("ipv6-link-local-marvell.scn"), {"marvell", "wwan0", "ip6"},
         MARVELL_IPV6, " IPv6 - fe80::1\n", "6dhcp.sh wwan0\n"},
        {"unique local", "family marvell\nipv6 fd12:3456::1\n", {"marvell", "wwan0", "ip6"},
         MARVELL_IPV6, " IPv6 - fd12:3456::1\n", "6dhcp.sh wwan0\n"},
    });
}

// Some C libraries leave the bytes they parsed before rejecting a token; such a token must give
// no address (and so no DHCP run), whichever C library the program was built with.
TEST_F(Answers, RejectedAddressesAreNoAddress)
{
    const strings marvell_twice = {"AT", "AT+CGATT?", "AT*GETIP=1", "AT*GETIP=5"};
    check_first_cycles({
        {"last byte too big", "ipv4 10.64.2.999\n", {"generic", "wwan0"}, GENERIC_IPV4,
         ipv4_line("10.64.2.999", nullptr), ""},
        {"middle part too big", "ipv4 10.642.17\n", {"generic", "wwan0"}, GENERIC_IPV4,
         ipv4_line("10.642.17", nullptr), ""},
        {"bad IPv4 tail", "family marvell\nipv6 2a00:db8::1.2.3.999\n",
         {"marvell", "wwan0", "ip6"}, marvell_twice, "", ""},
    });
}

} // namespace
