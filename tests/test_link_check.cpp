// The link check against modemsim: what each family is asked, each result code, and what the
// record holds afterwards.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstring>

#include "modem/at_channel.h"
#include "modem/modem.h"
#include "supervisor/command_line.h"
#include "support.h"

namespace {

using strings = std::vector<std::string>;

struct dialogue {
    int result = 99;
    strings commands;
    std::string out;   // what the address parsers printed
};

// One check_link against a simulator running `scenario`, on `info` as it stands.
dialogue run_check(const std::string& scenario, link_info& info)
{
    modem_sim sim(scenario);
    dialogue d;
    std::string sent, err_text;
    int fd = -1;
    {
        fd_capture echo(0);
        fd_capture out(1);
        fd_capture err(2);
        fd = open_port(sim.port().c_str(), 115200);
        if (fd >= 0) {
            d.result = check_link(fd, info);
            close_port(fd);
        }
        d.out = out.text();
        sent = echo.text();
        err_text = err.text();
    }
    EXPECT_GE(fd, 0) << err_text;
    // The last command (an attach command, say) may still be on its way to the simulator.
    EXPECT_TRUE(sim.wait_answered(count_of(sent, "\r"))) << sim.log().substr(0, 2000);
    sim.stop();
    d.commands = sim.commands();
    return d;
}

link_info record(uint32_t type, bool ipv6 = false)
{
    link_info info{};
    info.modem_type = type;
    info.use_ipv6 = ipv6 ? 1 : 0;
    strcpy(info.ifname, "wwan0");
    return info;
}

struct family_case {
    const char* name;
    uint32_t type;
    strings ipv4_commands;
};

const family_case FAMILIES[] = {
    {"generic", MODEM_GENERIC, {"AT", "AT+CGATT?", "AT+CGPADDR"}},
    {"altair", MODEM_ALTAIR, {"AT", "AT%CMATT?", "AT+CGPADDR"}},
    {"ericsson", MODEM_ERICSSON, {"AT", "AT*ENAP?", "AT+CGPADDR"}},
    {"marvell", MODEM_MARVELL, {"AT", "AT+CGATT?", "AT*GETIP=1"}},
};

std::string healthy(const char* family, const char* extra = "")
{
    return std::string("family ") + family + "\nattach 1\nipv4 10.64.2.17\n" + extra;
}

TEST(CheckLink, EachFamilyAsksItsOwnCommandsAndStoresTheAddress)
{
    for (const family_case& f : FAMILIES) {
        for (const char* echo : {"echo on\n", "echo off\n"}) {
            link_info info = record(f.type);
            dialogue d = run_check(healthy(f.name, echo), info);
            EXPECT_EQ(d.result, CHECK_NEW_ADDRESS) << f.name << " " << echo;
            EXPECT_EQ(d.commands, f.ipv4_commands) << f.name;
            EXPECT_EQ(info.attached, 1);
            EXPECT_EQ(info.ipv4_addr, inet_addr("10.64.2.17")) << f.name;
            EXPECT_EQ(d.out, ipv4_line("10.64.2.17"));

            dialogue again = run_check(healthy(f.name, echo), info);
            EXPECT_EQ(again.result, CHECK_OK) << "same address, " << f.name;
            EXPECT_EQ(info.attached, 1);
        }
    }
}

TEST(CheckLink, Ipv6ModeReadsAnAddressOnlyOnMarvell)
{
    for (const family_case& f : FAMILIES) {
        link_info info = record(f.type, true);
        dialogue d = run_check(std::string("family ") + f.name + "\nipv6 2a00:db8::1\n", info);
        EXPECT_EQ(info.attached, 1) << f.name;
        if (f.type != MODEM_MARVELL) {
            EXPECT_EQ(d.result, CHECK_OK) << f.name;
            EXPECT_EQ(d.commands, strings(f.ipv4_commands.begin(), f.ipv4_commands.end() - 1));
            continue;
        }
        EXPECT_EQ(d.result, CHECK_NEW_ADDRESS);
        EXPECT_EQ(d.commands, (strings{"AT", "AT+CGATT?", "AT*GETIP=1"}));
        uint8_t expected[16];
        inet_pton(AF_INET6, "2a00:db8::1", expected);
        EXPECT_EQ(memcmp(info.ipv6_addr, expected, 16), 0);
        EXPECT_EQ(d.out, " IPv6 - 2a00:db8::1\n");
        EXPECT_EQ(run_check("family marvell\nipv6 2a00:db8::1\n", info).result, CHECK_OK);
    }
}

TEST(CheckLink, DetachedModemIsAskedToAttachWithoutReadingTheAnswer)
{
    const std::pair<const char*, const char*> cases[] = {
        {"generic", "AT+CGATT=1"}, {"altair", "AT%CMATT=1"},
        {"ericsson", "AT*ENAP=1,1"}, {"marvell", "AT+CGATT=1"},
    };
    for (const auto& [family, attach] : cases) {
        link_info info = record(modem_type_of(family));
        dialogue d = run_check(std::string("family ") + family + "\nattach 0\nipv4 10.1.1.1\n", info);
        EXPECT_EQ(d.result, CHECK_OK) << family;
        EXPECT_EQ(info.attached, 0);
        ASSERT_EQ(d.commands.size(), 3u) << family;
        EXPECT_EQ(d.commands[2], attach);
    }
}

TEST(CheckLink, AttachCommandsUnreadAnswerDoesNotShiftTheNextDialogue)
{
    // The attach command's answer is never read; it arrives while the port is closed and must
    // not be taken for the next dialogue's probe answer. The modem's delay makes that answer
    // the only thing waiting when the probe reads.
    modem_sim sim("attach 0\nattach-command attaches\nipv4 10.64.2.17\necho off\ndelay 100\n");
    link_info info = record(MODEM_GENERIC);
    int results[2] = {99, 99};
    std::string err_text;
    for (int& result : results) {
        {
            fd_capture out(1);
            fd_capture err(2);
            int fd = open_port(sim.port().c_str(), 115200);
            result = check_link(fd, info);
            close_port(fd);
            err_text += err.text();
        }
        ASSERT_TRUE(sim.wait_answered());
    }
    EXPECT_EQ(results[0], CHECK_OK);
    EXPECT_EQ(results[1], CHECK_NEW_ADDRESS) << err_text;
    EXPECT_EQ(info.attached, 1);
    EXPECT_EQ(info.ipv4_addr, inet_addr("10.64.2.17"));
}

struct status_case {
    const char* scenario;
    int32_t attached_before;
    int result;
    int32_t attached_after;
};

TEST(CheckLink, AttachStatusDecidesLostOrAttached)
{
    const status_case cases[] = {
        {"attach 2\n", 0, CHECK_LOST, 0},
        {"attach 2\n", 1, CHECK_LOST, 0},
        {"attach 0\n", 1, CHECK_LOST, 0},
        {"attach 99999999999999999999999\n", 1, CHECK_LOST, 0},
        {"attach 4294967297\n", 0, CHECK_LOST, 0},
        {"attach 0000000001\n", 0, CHECK_NEW_ADDRESS, 1},
        {"attach \"1\"\n", 0, CHECK_NEW_ADDRESS, 1},
        {"answer AT+CGATT? \\r\\n+CGATT: \\r\\n\\r\\nOK\\r\\n\n", 0, CHECK_OK, 0},
    };
    for (const status_case& c : cases) {
        link_info info = record(MODEM_GENERIC);
        info.attached = c.attached_before;
        info.ipv4_addr = inet_addr("10.9.9.9");
        dialogue d = run_check(std::string("ipv4 10.64.2.17\n") + c.scenario, info);
        EXPECT_EQ(d.result, c.result) << c.scenario;
        EXPECT_EQ(info.attached, c.attached_after) << c.scenario;
        if (c.result == CHECK_LOST) {
            EXPECT_EQ(info.ipv4_addr, 0u) << c.scenario;
        }
    }
}

struct failing_answer {
    const char* scenario;
    int fault;           // what the report says the answer lacked
    const char* command; // and to which command
};

TEST(CheckLink, MissingOrUnusableAnswersFailTheModem)
{
    const failing_answer cases[] = {
        {"answer AT+CGATT? \\r\\nERROR\\r\\n\n", FAULT_ERROR, "AT+CGATT?\r"},
        {"answer AT+CGATT? \\r\\n+CGATT: 1\\r\\n\n", FAULT_NO_OK, "AT+CGATT?\r"},
        {"answer AT+CGATT? \\r\\nOK\\r\\n\n", FAULT_NO_TAG, "AT+CGATT?\r"},
        {"ignore AT+CGATT?\n", FAULT_SILENT, "AT+CGATT?\r"},
        {"answer AT+CGPADDR \\r\\n+CME ERROR: 30\\r\\n\n", FAULT_ERROR, "AT+CGPADDR\r"},
        // No comma behind the tag; then a comma, but no tag.
        {"answer AT+CGPADDR \\r\\n+CGPADDR: 1\\r\\n\\r\\nOK\\r\\n\n", FAULT_NO_TAG,
         "AT+CGPADDR\r"},
        {"answer AT+CGPADDR \\r\\n+CREG: 1,2\\r\\n\\r\\nOK\\r\\n\n", FAULT_NO_TAG,
         "AT+CGPADDR\r"},
    };
    for (const failing_answer& c : cases) {
        link_info info = record(MODEM_GENERIC);
        info.attached = 1;
        info.ipv4_addr = inet_addr("10.9.9.9");
        dialogue d = run_check(std::string("ipv4 10.64.2.17\n") + c.scenario, info);
        EXPECT_EQ(d.result, CHECK_MODEM_FAILED) << c.scenario;
        EXPECT_EQ(info.ipv4_addr, inet_addr("10.9.9.9")) << c.scenario;
        EXPECT_EQ(last_check.fault, c.fault) << c.scenario;
        EXPECT_STREQ(last_check.command, c.command) << c.scenario;
    }
}

TEST(CheckLink, SilentAddressQueryFailsAndKeepsTheRecord)
{
    link_info info = record(MODEM_GENERIC);
    info.ipv4_addr = inet_addr("10.9.9.9");
    dialogue d = run_check(healthy("generic", "ignore AT+CGPADDR\n"), info);
    EXPECT_EQ(d.result, CHECK_MODEM_FAILED);
    EXPECT_EQ(info.attached, 1);
    EXPECT_EQ(info.ipv4_addr, inet_addr("10.9.9.9"));
}

TEST(CheckLink, ZeroAddressClearsAttachedAndReportsOk)
{
    for (const char* addr : {"ipv4 none\n", "ipv4 999.1.1.1\n"}) {
        link_info info = record(MODEM_GENERIC);
        info.ipv4_addr = inet_addr("10.9.9.9");
        dialogue d = run_check(std::string("attach 1\n") + addr, info);
        EXPECT_EQ(d.result, CHECK_OK) << addr;
        EXPECT_EQ(info.ipv4_addr, 0u);
        EXPECT_EQ(info.attached, 0);
    }
}

TEST(CheckLink, MarvellAsksTheSecondContextWhenTheFirstHasNoAddress)
{
    link_info info = record(MODEM_MARVELL);
    dialogue d = run_check("family marvell\ncid 5\nipv4 10.77.0.5\n", info);
    EXPECT_EQ(d.result, CHECK_NEW_ADDRESS);
    EXPECT_EQ(d.commands, (strings{"AT", "AT+CGATT?", "AT*GETIP=1", "AT*GETIP=5"}));
    EXPECT_EQ(info.ipv4_addr, inet_addr("10.77.0.5"));

    // Other families have no second query: a zero address is just that.
    link_info generic = record(MODEM_GENERIC);
    dialogue g = run_check("ipv4 none\n", generic);
    EXPECT_EQ(g.commands.size(), 3u);
}

TEST(CheckLink, Ipv6OnMarvellFallsBackToTheSecondQuery)
{
    link_info info = record(MODEM_MARVELL, true);
    dialogue d = run_check("family marvell\nipv4 10.1.1.1\nipv6 2a00:db8::9\n", info);
    EXPECT_EQ(d.result, CHECK_NEW_ADDRESS);
    EXPECT_EQ(d.commands, (strings{"AT", "AT+CGATT?", "AT*GETIP=1", "AT*GETIP=5"}));
    uint8_t expected[16];
    inet_pton(AF_INET6, "2a00:db8::9", expected);
    EXPECT_EQ(memcmp(info.ipv6_addr, expected, 16), 0);
    EXPECT_EQ(info.attached, 1);
}

TEST(CheckLink, Ipv6WithoutAnyAddressClearsAttached)
{
    link_info info = record(MODEM_MARVELL, true);
    inet_pton(AF_INET6, "2a00:db8::1", info.ipv6_addr);
    dialogue gone = run_check("family marvell\nipv6 none\n", info);
    EXPECT_EQ(gone.result, CHECK_NEW_ADDRESS) << "the stored address gave way to none";
    EXPECT_EQ(info.attached, 0);
    for (uint8_t b : info.ipv6_addr)
        EXPECT_EQ(b, 0);
    // Sixteen dotted decimals are no IPv6 text the converter takes: still no address.
    dialogue still = run_check("family marvell\nformat dotted-ipv6\nipv6 2a00:db8::1\n", info);
    EXPECT_EQ(still.result, CHECK_OK);
    EXPECT_EQ(info.attached, 0);
}

TEST(CheckLink, FirmwareShapesAllYieldTheAddress)
{
    const char* shapes[] = {
        "format nospace\ncid 0\n",
        "format unquoted\n",
        "format percontext\n",
        "split 100\n",
        "unsolicited before-echo +CREG: 1,\"0166\",\"8F2A\",7\n",
        "unsolicited before-answer +CDSI: \"SR\",90\n",
        "noise 64\n",
    };
    for (const char* shape : shapes) {
        link_info info = record(MODEM_GENERIC);
        dialogue d = run_check(healthy("generic", shape), info);
        EXPECT_EQ(d.result, CHECK_NEW_ADDRESS) << shape;
        EXPECT_EQ(info.ipv4_addr, inet_addr("10.64.2.17")) << shape;
    }
}

TEST(CheckLink, UnsolicitedCommaBeforeTheAnswerDoesNotPlantAnAddress)
{
    // Behind the first comma anywhere stands "0166", which the converter would take as
    // 0.0.0.118; the address is taken behind the tag's comma instead.
    link_info info = record(MODEM_MARVELL);
    dialogue d = run_check(
        healthy("marvell", "unsolicited before-answer +CREG: 1,\"0166\",\"8F2A\",7\n"), info);
    EXPECT_EQ(d.result, CHECK_NEW_ADDRESS);
    EXPECT_EQ(info.ipv4_addr, inet_addr("10.64.2.17"));
    EXPECT_EQ(d.out, ipv4_line("10.64.2.17"));
}

TEST(CheckLink, SilentProbeGoesOnToTheAttachQueryAfterFiveAttempts)
{
    link_info info = record(MODEM_GENERIC);
    dialogue d = run_check(healthy("generic", "ignore AT\n"), info);
    EXPECT_EQ(d.result, CHECK_NEW_ADDRESS);
    EXPECT_EQ(d.commands, (strings{"AT", "AT", "AT", "AT", "AT", "AT+CGATT?", "AT+CGPADDR"}));
}

TEST(CheckLink, ProbeSendsFailingFiveTimesFailTheModem)
{
    pty_pair unplugged;
    unplugged.close_master();
    link_info info = record(MODEM_GENERIC);
    fd_capture err(2);
    EXPECT_EQ(check_link(unplugged.slave, info), CHECK_MODEM_FAILED);
    EXPECT_EQ(last_check.fault, FAULT_NOT_SENT);
    std::string line = "SendCmd error. 5-Input/output error\n";
    std::string expected;
    for (int i = 0; i < 5; ++i)
        expected += line;
    EXPECT_EQ(err.text(), expected);
}

struct bounded_case {
    const char* scenario;
    std::chrono::milliseconds at_least, at_most;
};

TEST(CheckLink, FloodingOrGarbageModemGivesABoundedFailure)
{
    using ms = std::chrono::milliseconds;
    const bounded_case cases[] = {
        // A 10 kB line before every answer: each collection ends when the buffer is full.
        {"flood 10000\n", ms(0), ms(2500)},
        // NUL and non-ASCII bytes before every answer: the same.
        {"noise 6000\n", ms(0), ms(2500)},
        // A NUL hides every "OK": five probe collections and the attach query's, each ending
        // after 2.5 s.
        {"answer AT \\xff\\xfe\\x00OK\\r\\n\nanswer AT+CGATT? \\x80\\x81CGATT:\\xff1\n", ms(14900),
         ms(16000)},
    };
    for (const bounded_case& c : cases) {
        link_info info = record(MODEM_GENERIC);
        auto start = std::chrono::steady_clock::now();
        dialogue d = run_check(healthy("generic", c.scenario), info);
        auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(d.result, CHECK_MODEM_FAILED) << c.scenario;
        EXPECT_EQ(info.ipv4_addr, 0u) << c.scenario;
        EXPECT_GE(took, c.at_least) << c.scenario;
        EXPECT_LE(took, c.at_most) << c.scenario;
    }
}

} // namespace
