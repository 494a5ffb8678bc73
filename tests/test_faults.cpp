// Faults the real program must survive: stop signals at every stage, and a whole life without
// a single heap allocation.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "support.h"

namespace {

using namespace std::chrono_literals;

const std::string REQUEST = "exec /opt/vordane/bin/failover.sh wwan0\n";

class Faults : public ::testing::Test {
protected:
    sandbox_root root;

    void SetUp() override
    {
        std::string why = sandbox_refusal(root);
        if (!why.empty())
            GTEST_SKIP() << why;
    }

    // A stub that marks its start, takes a second, then marks its end.
    void slow_stub(const std::string& relative, const std::string& name)
    {
        write_file(root.path(relative),
                   "#!/bin/sh\necho \"" + name + " started\" >> '" + root.path("calls.log") +
                       "'\nsleep 1\necho \"" + name + " done\" >> '" + root.path("calls.log") +
                       "'\n", 0755);
    }

    int open_pipe_reader()
    {
        std::string fifo = root.path("run/.neventpipe");
        if (!file_exists(fifo))
            mkfifo(fifo.c_str(), 0600);
        return open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    }

    static std::string read_all(int fd)
    {
        std::string got;
        char buf[256];
        for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;)
            got.append(buf, static_cast<size_t>(n));
        return got;
    }

    bool calls_hold(const std::string& text)
    {
        return wait_until([&] { return root.calls().find(text) != std::string::npos; }, 30s);
    }

    // Runs cellwatch on a healthy modem until the calls log holds `marker`, then sends SIGTERM;
    // false when the marker or the end did not come within `limit`.
    bool stopped_at(const std::string& marker, std::chrono::seconds limit, run_result& r)
    {
        modem_sim sim("ipv4 10.64.2.17\n");
        child cw({CELLWATCH, sim.port(), "generic", "wwan0"}, &root);
        if (!calls_hold(marker))
            return false;
        cw.signal(SIGTERM);
        bool ended = cw.wait(r, limit);
        dialogues = sim.dialogues();
        return ended;
    }
    int dialogues = 0;
};

TEST_F(Faults, StopDuringTheDhcpScriptLetsTheCycleFinishThenStops)
{
    slow_stub("bin/4dhcp.sh", "4dhcp.sh");
    int reader = open_pipe_reader();
    run_result r;
    ASSERT_TRUE(stopped_at("4dhcp.sh started", 20s, r)) << "the 10-second pause, then the stop";
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(root.calls(), "4dhcp.sh started\n4dhcp.sh done\n");
    EXPECT_EQ(dialogues, 1) << "the flag is looked at before the next attempt";
    EXPECT_EQ(read_all(reader), "");
    close(reader);
}

// A DHCP script that would run on for minutes, deaf to SIGTERM, with a child of its own: a stop
// still ends the run in order well within a service manager's stop timeout. The script gets 5 s,
// then SIGTERM, then SIGKILL, and its whole group goes.
TEST_F(Faults, StopDuringALongDhcpScriptEndsTheScriptAndTheRunInOrder)
{
    write_file(root.path("bin/4dhcp.sh"),
               "#!/bin/sh\ntrap '' TERM\nsleep 150 &\necho $! > '" + root.path("sleep.pid") +
                   "'\necho started >> '" + root.path("calls.log") + "'\nwait\necho done >> '" +
                   root.path("calls.log") + "'\n", 0755);
    write_file(root.path("run/dhcp.wwan0.pid"), std::to_string(dead_pid()) + "\n");
    int reader = open_pipe_reader();
    run_result r;
    // 5 s, 5 s more, the cycle's 10-second pause and the teardown: procd's 60 s are never needed.
    ASSERT_TRUE(stopped_at("started", 40s, r)) << "the stop waited for the script";
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(root.calls(), "started\nifconfig wwan0 0.0.0.0 down\n");
    int child_pid = std::stoi(read_file(root.path("sleep.pid")));
    std::string stat = read_file("/proc/" + std::to_string(child_pid) + "/stat");
    EXPECT_TRUE(stat.empty() || stat.substr(stat.rfind(')') + 2, 1) == "Z")
        << "the script's child lives: " << stat;
    EXPECT_EQ(read_all(reader), "");
    close(reader);
}

// A script that someone stopped keeps its stop (cellwatch waits on), until a stop of cellwatch
// ends it: after 5 s its group gets SIGTERM and SIGCONT, so its TERM trap runs, and 5 s later
// SIGKILL. Both graces are measured from both sides.
TEST_F(Faults, StoppedScriptGetsItsTermTrapAfterTheGraceAndItsKillAfterTheNext)
{
    const std::string log = root.path("calls.log");
    write_file(root.path("bin/4dhcp.sh"),
               "#!/bin/sh\ntrap 'date +%s%N > \"" + root.path("term") + "\"' TERM\n"
               "echo $$ > '" + root.path("pid") + "'\n"
               "echo started >> '" + log + "'\nwhile :; do sleep 1; done\n", 0755);
    modem_sim sim("ipv4 10.64.2.17\n");
    child cw({CELLWATCH, sim.port(), "generic", "wwan0"}, &root);
    ASSERT_TRUE(calls_hold("started"));
    std::string pid_text = read_file(root.path("pid"));
    pid_t script = static_cast<pid_t>(std::stoi(pid_text));
    std::string proc = "/proc/" + std::to_string(script);
    // Stopped by someone, its whole group, as a terminal's Ctrl-Z would.
    pid_t group = getpgid(script);
    ASSERT_GT(group, 1);
    ASSERT_EQ(kill(-group, SIGSTOP), 0) << strerror(errno);
    ASSERT_TRUE(wait_until([&] {
        std::string stat = read_file(proc + "/stat");
        return stat.size() > stat.rfind(')') + 2 && stat[stat.rfind(')') + 2] == 'T';
    }, 10s)) << "the script did not stop";
    auto now_ns = [] {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::system_clock::now().time_since_epoch()).count();
    };
    long long stop_at = now_ns();
    cw.signal(SIGTERM);
    // The script's end, seen from here: its process is gone (cellwatch reaps it).
    ASSERT_TRUE(wait_until([&] { return !file_exists(proc); }, 30s));
    long long killed_at = now_ns();
    run_result r;
    ASSERT_TRUE(cw.wait(r, 40s));
    EXPECT_EQ(r.status, 0);
    ASSERT_TRUE(file_exists(root.path("term"))) << "the TERM trap never ran";
    long long term_at = std::stoll(read_file(root.path("term")));
    // Each bound leaves a second for a loaded machine to start `date` or to look again.
    EXPECT_GE(term_at - stop_at, 5000000000LL) << "the first grace";
    EXPECT_LE(term_at - stop_at, 7000000000LL) << "the first grace";
    EXPECT_GE(killed_at - term_at, 4000000000LL) << "the second grace";
    EXPECT_LE(killed_at - term_at, 7000000000LL) << "the second grace";
}

TEST_F(Faults, StopDuringTheTeardownStillHandsOverOneWholeRequest)
{
    slow_stub("ifconfig", "ifconfig");
    write_file(root.path("run/dhcp.wwan0.pid"), "999999\n");
    int reader = open_pipe_reader();
    modem_sim sim("attach 2\n");
    child cw({CELLWATCH, sim.port(), "generic", "wwan0"}, &root);
    ASSERT_TRUE(calls_hold("ifconfig started"));
    cw.signal(SIGTERM);
    run_result r;
    ASSERT_TRUE(cw.wait(r, 10s));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(root.calls(), "ifconfig started\nifconfig done\n");
    EXPECT_EQ(read_all(reader), REQUEST);
    close(reader);
}

TEST_F(Faults, StopWhileWaitingForTheDaemonDoesNotCutTheRequest)
{
    mkfifo(root.path("run/.neventpipe").c_str(), 0600);
    modem_sim sim("attach 2\n");
    child cw({CELLWATCH, sim.port(), "generic", "wwan0"}, &root);
    // The open of a pipe without a reader waits in the kernel for its partner.
    ASSERT_TRUE(wait_until([&] {
        return read_file("/proc/" + std::to_string(cw.pid()) + "/wchan").find("wait_for_partner") !=
               std::string::npos;
    }, 20s));
    cw.signal(SIGTERM);
    cw.signal(SIGINT);
    std::this_thread::sleep_for(300ms);
    ASSERT_EQ(waitpid(cw.pid(), nullptr, WNOHANG), 0) << "a stop signal ended the wait";
    int reader = open(root.path("run/.neventpipe").c_str(), O_RDONLY);
    ASSERT_GE(reader, 0);
    run_result r;
    ASSERT_TRUE(cw.wait(r, 10s));
    EXPECT_EQ(read_all(reader), REQUEST);
    EXPECT_EQ(r.status, 0);
    close(reader);
}

TEST_F(Faults, StopDuringADialogueEndsTheRunWithoutFailover)
{
    int reader = open_pipe_reader();
    modem_sim sim("ipv4 10.64.2.17\ndelay 300\n");
    child cw({CELLWATCH, sim.port(), "generic", "wwan0"}, &root);
    ASSERT_TRUE(wait_until([&] { return sim.commands().size() >= 1; }, 20s));
    cw.signal(SIGTERM);
    run_result r;
    ASSERT_TRUE(cw.wait(r, 25s));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(sim.dialogues(), 1);
    EXPECT_EQ(read_all(reader), "") << "neither lost nor at the threshold: no failover";
    EXPECT_EQ(r.fd0.rfind("AT\r", 0), 0u);
    close(reader);
}

TEST_F(Faults, WholeLifeMakesNoHeapAllocation)
{
    std::string refusal = valgrind_refusal();
    if (!refusal.empty())
        GTEST_SKIP() << refusal;
    write_file(root.path("run/dhcp.wwan0.pid"), "999999\n");
    write_file(root.path("run/dhcp6.wwan0.pid"), "999999\n");
    int reader = open_pipe_reader();
    modem_sim sim("family marvell\nipv4 10.64.2.17\nafter 1 dialogues\nipv4 10.64.9.200\n"
                  "after 2 dialogues\nattach 2\n");
    std::string log = root.path("valgrind.log");
    std::vector<std::string> argv = under_valgrind(CELLWATCH, log);
    for (std::string arg : {std::string(CELLWATCH), sim.port(), std::string("marvell"),
                            std::string("wwan0")})
        argv.push_back(arg);
    child cw(argv, &root);
    run_result r;
    ASSERT_TRUE(cw.wait(r, 90s));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(sim.dialogues(), 3);
    EXPECT_EQ(count_of(root.calls(), "4dhcp.sh wwan0\n"), 2u) << "two addresses";
    EXPECT_EQ(read_all(reader), REQUEST);
    EXPECT_TRUE(heap_untouched(read_file(log))) << read_file(log);
    close(reader);
}

} // namespace
