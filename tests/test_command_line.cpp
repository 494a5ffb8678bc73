// The command line: families, address family, the IFACE check, usage and signals.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>

#include "supervisor/command_line.h"
#include "supervisor/signals.h"
#include "support.h"

namespace {

struct family_case {
    const char* type;
    uint32_t code;
};

TEST(CommandLine, FamilyTableIsExactAndCaseSensitive)
{
    const family_case cases[] = {
        {"altair", MODEM_ALTAIR}, {"ericsson", MODEM_ERICSSON}, {"marvell", MODEM_MARVELL},
        {"Marvell", MODEM_GENERIC}, {"MARVELL", MODEM_GENERIC}, {"marvell ", MODEM_GENERIC},
        {"generic", MODEM_GENERIC}, {"", MODEM_GENERIC}, {"altai", MODEM_GENERIC},
    };
    for (const family_case& c : cases)
        EXPECT_EQ(modem_type_of(c.type), c.code) << "TYPE \"" << c.type << "\"";
}

link_info filled(std::vector<const char*> args)
{
    std::vector<char*> argv;
    for (const char* a : args)
        argv.push_back(const_cast<char*>(a));
    argv.push_back(nullptr);
    link_info info;
    memset(&info, 0xA5, sizeof info);
    EXPECT_EQ(fill_link_info(info, static_cast<int>(args.size()), argv.data()), 0);
    return info;
}

TEST(CommandLine, OnlyExactIp6SelectsIpv6)
{
    EXPECT_EQ(filled({"cw", "/dev/x", "marvell", "wwan0"}).use_ipv6, 0u);
    EXPECT_EQ(filled({"cw", "/dev/x", "marvell", "wwan0", "ip6"}).use_ipv6, 1u);
    EXPECT_EQ(filled({"cw", "/dev/x", "marvell", "wwan0", "ip6", "extra"}).use_ipv6, 1u);
    for (const char* family : {"IP6", "ipv6", "ip4", "ip6 ", ""})
        EXPECT_EQ(filled({"cw", "/dev/x", "marvell", "wwan0", family}).use_ipv6, 0u) << family;
}

TEST(CommandLine, RecordIsZeroFilledAndHoldsTheWholeName)
{
    link_info info = filled({"cw", "/dev/x", "ericsson", "abcdefghijklmno"});
    EXPECT_EQ(info.modem_type, MODEM_ERICSSON);
    EXPECT_EQ(info.attached, 0);
    EXPECT_EQ(info.ipv4_addr, 0u);
    for (uint8_t b : info.ipv6_addr)
        EXPECT_EQ(b, 0);
    EXPECT_STREQ(info.ifname, "abcdefghijklmno");
    EXPECT_EQ(info.ifname[15], '\0');
}

TEST(CommandLine, IfaceCheckRefusesUnsafeOrOverlongNames)
{
    const char* refused[] = {"", "abcdefghijklmnop", "wwan0;touch X", "wwan 0", "wwan0`id`",
                             "$(reboot)", "w\xc3\xa9", "a/b", "wwan0\n", "-a", "-", "-wwan0"};
    for (const char* name : refused) {
        fd_capture err(2);
        EXPECT_EQ(check_ifname(name), -1) << name;
        std::string text = err.text();
        EXPECT_NE(text.find("IFACE"), std::string::npos) << text;
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
    }
    for (const char* name : {"wwan0", "eth0.100", "usb_1-a", "abcdefghijklmno", "wwan-"})
        EXPECT_EQ(check_ifname(name), 0) << name;
}

run_result run_cellwatch(const std::vector<std::string>& args, const std::string& cwd = "")
{
    std::vector<std::string> argv = {CELLWATCH};
    argv.insert(argv.end(), args.begin(), args.end());
    if (!cwd.empty()) {
        argv = {"/bin/sh", "-c", "cd \"$0\" && exec \"$@\"", cwd, CELLWATCH};
        argv.insert(argv.end(), args.begin(), args.end());
    }
    child c(argv);
    run_result r;
    EXPECT_TRUE(c.wait(r, std::chrono::seconds(10)));
    return r;
}

TEST(CommandLine, TooFewArgumentsPrintBothUsageLinesAndExitOne)
{
    for (size_t n : {0u, 1u, 2u}) {
        std::vector<std::string> args = {"/dev/ttyUSB1", "marvell", "wwan0"};
        args.resize(n);
        run_result r = run_cellwatch(args);
        EXPECT_EQ(r.status, 1);
        std::string p = CELLWATCH;
        EXPECT_EQ(r.err, "usage: " + p + " PORT TYPE IFACE [IP_FAMILY]\nexamples:\t" + p +
                             " /dev/ttyUSB1 marvell wwan0 ip6\n");
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.fd0, "");
    }
}

TEST(CommandLine, ProgramRefusesShellMetacharactersInIface)
{
    temp_dir cwd;
    for (const char* name : {"wwan0;touch X", "abcdefghijklmnop", "", "-a"}) {
        run_result r = run_cellwatch({"/nonexistent/port", "generic", name}, cwd.path);
        EXPECT_EQ(r.status, 1) << name;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.err.rfind("IFACE", 0), 0u) << r.err;
        EXPECT_EQ(r.fd0, "");
    }
    EXPECT_FALSE(file_exists(cwd.path + "/X"));
}

TEST(Signals, StopHandlerSetsTheFlagAndRestartsSystemCalls)
{
    EXPECT_EQ(install_signal(SIGTERM, on_stop_signal), SIG_DFL);
    EXPECT_EQ(install_signal(SIGINT, on_stop_signal), SIG_DFL);
    EXPECT_EQ(install_signal(SIGINT, on_stop_signal), on_stop_signal);
    struct sigaction current;
    sigaction(SIGTERM, nullptr, &current);
    EXPECT_TRUE(current.sa_flags & SA_RESTART);
    EXPECT_EQ(stop_requested, 0);
    raise(SIGTERM);
    EXPECT_EQ(stop_requested, 1);
    EXPECT_EQ(install_signal(SIGKILL, on_stop_signal), SIG_ERR);
}

} // namespace
