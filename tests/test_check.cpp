// cellwatch-check against the simulator: each verdict with its first line and exit status, the
// lock and the port handled as cellwatch handles them, nothing run or requested, and a capture
// that replays. Each run has a sandbox of its own, so the cases of one test run at once.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <set>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/resource.h>
#include <unistd.h>

#include "support.h"

namespace {

using strings = std::vector<std::string>;
using namespace std::chrono_literals;

using Check = sandboxed_test;

strings lines_of(const std::string& text)
{
    strings lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The report without its timings, which differ from run to run.
strings untimed(const std::string& out)
{
    strings lines = lines_of(out);
    for (std::string& line : lines) {
        size_t at = line.rfind("  (");
        if (line.rfind("< ", 0) == 0 && at != std::string::npos && line.back() == ')')
            line.erase(at);
    }
    return lines;
}

// The commands the report says were sent, without their CR.
strings reported_commands(const std::string& out)
{
    strings commands;
    for (const std::string& line : lines_of(out))
        if (line.rfind("> ", 0) == 0 && line.find("  not sent: the check sends only") == std::string::npos)
            commands.push_back(line.substr(2, line.find("\\r") - 2));
    return commands;
}

std::set<std::string> names_in(const std::string& dir)
{
    std::set<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) {
        ADD_FAILURE() << "cannot list " << dir << ": " << strerror(errno);
        return names;
    }
    errno = 0;
    while (dirent* e = readdir(d))
        names.insert(e->d_name);
    if (errno != 0)
        ADD_FAILURE() << "cannot list " << dir << ": " << strerror(errno);
    closedir(d);
    return names;
}

// One cellwatch-check against a modemsim of its own, in a sandbox with an event pipe and pid
// files that it must leave alone. "PORT" in `args` stands for the simulator's port.
struct check_run {
    sandbox_root root;
    modem_sim sim;
    std::set<std::string> run_before;
    std::unique_ptr<child> proc;

    // `runner` are words to put in front of the program; `arrange` is given the port before the
    // program starts, and `prepare` runs in its process before the exec.
    check_run(const std::string& scenario, strings args, const std::string& lock = "",
              const strings& runner = {},
              const std::function<void(const std::string&)>& arrange = nullptr,
              const std::function<void()>& prepare = nullptr)
        : sim(scenario)
    {
        if (arrange)
            arrange(sim.port());
        mkfifo(root.path("run/.neventpipe").c_str(), 0600);
        write_file(root.path("run/dhcp.wwan0.pid"), "4242\n");
        if (!lock.empty())
            write_file(root.path("run/lock/failover"), lock);
        run_before = names_in(root.path("run"));
        for (std::string& a : args)
            if (a == "PORT")
                a = sim.port();
        args.insert(args.begin(), CELLWATCH_CHECK);
        args.insert(args.begin(), runner.begin(), runner.end());
        proc = std::make_unique<child>(args, &root, prepare);
    }

    // Waits for the end and checks the rule every run keeps: nothing run, nothing requested, no
    // file made or removed beside the lock, and no raw CR in the report.
    run_result finish(std::chrono::milliseconds timeout)
    {
        run_result r;
        EXPECT_TRUE(proc->wait(r, timeout)) << "no end in time";
        EXPECT_EQ(root.calls(), "");
        EXPECT_EQ(names_in(root.path("run")), run_before);
        EXPECT_EQ(read_file(root.path("run/dhcp.wwan0.pid")), "4242\n");
        EXPECT_EQ(r.out.find('\r'), std::string::npos) << r.out;
        return r;
    }
};

struct verdict_case {
    std::string scenario;
    strings args;
    std::string first_line;
    int status;
    strings commands;
    std::string lock = "";
};

TEST_F(Check, EachVerdictHasItsLineAndStatusAndLeavesNothingBehind)
{
    const strings generic = {"AT", "AT+CGATT?", "AT+CGPADDR"};
    const std::vector<verdict_case> cases = {
        {"ipv4 10.64.2.17\n", {"PORT", "generic"}, "healthy: attached, IPv4 10.64.2.17", 0,
         generic},
        {"family marvell\nipv6 2a00:db8::1\n", {"PORT", "marvell", "ip6"},
         "healthy: attached, IPv6 2a00:db8::1", 0, {"AT", "AT+CGATT?", "AT*GETIP=1"}},
        // Only queries unless asked: a supervisor beside it must see the detach itself.
        {"attach 0\n", {"PORT", "generic"},
         "not-attached: attach status 0; cellwatch would ask the modem to attach (AT+CGATT=1, "
         "not sent without --attach)", 2, {"AT", "AT+CGATT?"}},
        {"attach 0\n", {"--attach", "PORT", "generic"},
         "not-attached: attach status 0; asked the modem to attach", 2,
         {"AT", "AT+CGATT?", "AT+CGATT=1"}},
        // A lock whose holder is gone is recovered, as cellwatch recovers it.
        {"ipv4 10.64.2.17\n", {"PORT", "generic"}, "healthy: attached, IPv4 10.64.2.17", 0,
         generic, "    " + std::to_string(dead_pid()) + "\n"},
        {"ipv4 none\n", {"PORT", "generic"}, "not-attached: attach status 1, but no IPv4 address",
         2, generic},
        {"attach 2\n", {"PORT", "generic"}, "lost: attach status 2", 3, {"AT", "AT+CGATT?"}},
        {"answer AT+CGATT? \\r\\nOK\\r\\n\n", {"PORT", "generic"},
         "modem-failed: no \"CGATT:\" in the answer to AT+CGATT?", 4, {"AT", "AT+CGATT?"}},
        // Named by the probe it never answered, not by the command after it.
        {"silent on\n", {"PORT", "generic"}, "modem-failed: no answer to AT (5 tries)", 4,
         {"AT", "AT", "AT", "AT", "AT", "AT+CGATT?"}},
        // One stray byte is an answer, if not a good one: the probes were heard.
        {"echo off\nanswer AT x\nignore AT+CGATT?\n", {"PORT", "generic", "ip4"},
         "modem-failed: no answer to AT+CGATT?", 4, {"AT", "AT", "AT", "AT", "AT", "AT+CGATT?"}},
        {"", {"/dev/ttyUSB9", "generic"}, "no-port: /dev/ttyUSB9: No such file or directory", 5,
         {}},
    };
    std::vector<std::unique_ptr<check_run>> runs;
    for (const verdict_case& c : cases)
        runs.push_back(std::make_unique<check_run>(c.scenario, c.args, c.lock));
    for (size_t i = 0; i < cases.size(); ++i) {
        const verdict_case& c = cases[i];
        run_result r = runs[i]->finish(20s);
        strings lines = lines_of(r.out);
        ASSERT_FALSE(lines.empty()) << c.first_line << ": " << r.err;
        EXPECT_EQ(lines[0], c.first_line);
        // TYPE and IP_FAMILY are words cellwatch takes as written in every case: no note.
        EXPECT_EQ(r.out.find("note: "), std::string::npos) << r.out;
        EXPECT_EQ(r.status, c.status) << c.first_line;
        EXPECT_EQ(runs[i]->sim.commands(), c.commands) << c.first_line;
        EXPECT_EQ(reported_commands(r.out), c.commands) << r.out;
        EXPECT_FALSE(file_exists(runs[i]->root.path("run/lock/failover"))) << c.first_line;
    }
}

TEST_F(Check, TheDialogueShowsEveryCommandAndAnswer)
{
    check_run run("attach 0\n", {"PORT", "generic"});
    run_result r = run.finish(20s);
    EXPECT_EQ(untimed(r.out), (strings{
        "not-attached: attach status 0; cellwatch would ask the modem to attach (AT+CGATT=1, "
        "not sent without --attach)",
        "> AT\\r",
        "< AT\\r\\r\\nOK\\r\\n",
        "> AT+CGATT?\\r",
        "< AT+CGATT?\\r\\r\\n+CGATT: 0\\r\\n\\r\\nOK\\r\\n",
        "> AT+CGATT=1\\r  not sent: the check sends only queries without --attach",
    }));
    check_run asked("attach 0\n", {"--attach", "PORT", "generic"});
    run_result a = asked.finish(20s);
    EXPECT_EQ(lines_of(a.out).back(), "  (answer not read)") << a.out;
}

TEST_F(Check, ALockHeldByAnotherIsWaitedForThirtySecondsAndLeftAlone)
{
    check_run run("", {"PORT", "generic"}, "someone else's\n");
    auto start = std::chrono::steady_clock::now();
    run_result r = run.finish(45s);
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(r.status, 6);
    EXPECT_EQ(r.out, "lock-busy: /var/lock/failover held for 30 s\n");
    EXPECT_GE(waited, 29s);
    EXPECT_LT(waited, 40s);
    EXPECT_EQ(read_file(run.root.path("run/lock/failover")), "someone else's\n");
    EXPECT_TRUE(run.sim.commands().empty());
}

TEST_F(Check, AStopSignalWaitsForTheDialogueInProgress)
{
    check_run run("ipv4 10.64.2.17\ndelay 600\n", {"PORT", "generic"});
    ASSERT_TRUE(wait_until([&] { return !run.sim.commands().empty(); }, 10s));
    run.proc->signal(SIGTERM);
    run_result r = run.finish(10s);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(run.sim.commands(), (strings{"AT", "AT+CGATT?", "AT+CGPADDR"}));
    EXPECT_FALSE(file_exists(run.root.path("run/lock/failover")));
}

TEST_F(Check, ACaptureReplaysTheSameVerdictAndDialogue)
{
    struct field_case {
        const char* scenario;
        strings commands;
    };
    const field_case cases[] = {
        // A modem that wakes on the second probe, echoes, sends an unsolicited line before each
        // answer, writes in pieces, and answers with bytes outside printable ASCII and a leading
        // blank.
        {"answer-once AT none\n"
         "answer AT \\x20\\r\\nOK\\r\\n\n"
         "unsolicited before-answer +CREG: 1,\"0166\",\"8F2A\",7\n"
         "answer AT+CGPADDR \\r\\n+CGPADDR: 1,\"10.64.2.17\"\\r\\n"
         "\\x01\\xff\\t\\\\\\r\\nOK\\r\\n\n"
         "chunk 5 2\n",
         {"AT", "AT", "AT+CGATT?", "AT+CGPADDR"}},
        // One that does not echo and whose first answers are the very words a scenario gives
        // a meaning of its own, then one with a leading blank.
        {"echo off\nipv4 10.64.2.17\nanswer-once AT \\x64efault\nanswer-once AT \\x6eone\n"
         "answer AT \\x20\\r\\nOK\\r\\n\n",
         {"AT", "AT", "AT", "AT+CGATT?", "AT+CGPADDR"}},
    };
    for (const field_case& c : cases) {
        temp_dir files;
        std::string first = files.path + "/first.scn", second = files.path + "/second.scn";
        check_run field(c.scenario, {"--scenario", first, "PORT", "generic"});
        run_result in_field = field.finish(20s);
        EXPECT_EQ(lines_of(in_field.out).at(0), "healthy: attached, IPv4 10.64.2.17");

        check_run replay(read_file(first), {"--scenario", second, "PORT", "generic"});
        run_result replayed = replay.finish(20s);
        EXPECT_EQ(replayed.status, in_field.status);
        EXPECT_EQ(untimed(replayed.out), untimed(in_field.out));
        EXPECT_EQ(replay.sim.commands(), field.sim.commands());
        EXPECT_EQ(field.sim.commands(), c.commands);
        // The replay's own capture has the same steps; only the comment naming the port differs.
        auto steps = [](const std::string& path) {
            strings out;
            for (const std::string& line : lines_of(read_file(path)))
                if (line.rfind("#", 0) != 0)
                    out.push_back(line);
            return out;
        };
        EXPECT_EQ(steps(second), steps(first));
    }
}

TEST_F(Check, ACheckWithACaptureMakesNoHeapAllocation)
{
    std::string refusal = valgrind_refusal();
    if (!refusal.empty())
        GTEST_SKIP() << refusal;
    temp_dir files;
    std::string log = files.path + "/valgrind.log";
    check_run run("family marvell\nipv4 10.64.2.17\n",
                  {"--scenario", files.path + "/capture.scn", "PORT", "marvell"}, "",
                  under_valgrind(CELLWATCH_CHECK, log));
    run_result r = run.finish(60s);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_FALSE(read_file(files.path + "/capture.scn").empty());
    EXPECT_TRUE(heap_untouched(read_file(log))) << read_file(log);
}

TEST_F(Check, UsageErrorsTouchNothing)
{
    const std::string usage = "[--attach] [--scenario FILE] PORT TYPE [IP_FAMILY]";
    temp_dir files;
    std::string target = files.path + "/target", link = files.path + "/link";
    write_file(target, "precious\n");
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    const std::vector<std::pair<strings, std::string>> cases = {
        {{"/dev/ttyUSB1"}, usage},
        {{"/dev/ttyUSB1", "generic", "wwan0", "ip6"}, usage},
        {{"--scenario"}, usage},
        {{"--attach", "--attach", "PORT", "generic"}, usage},
        // A FIFO would wait for a reader, and would take the steps if the event daemon read it.
        {{"--scenario", "/var/run/.neventpipe", "PORT", "generic"}, "not a regular file"},
        // Made as the capture, the lock would keep every cellwatch off its modem.
        {{"--scenario", "/var/lock/failover", "PORT", "generic"}, "the lock file"},
        {{"--scenario", "/run/lock/../lock/failover", "PORT", "generic"}, "the lock file"},
        // Root writing through a link planted in a shared directory could overwrite anything.
        {{"--scenario", link, "PORT", "generic"}, "a symbolic link"},
    };
    for (const auto& c : cases) {
        check_run run("", c.first);
        run_result r = run.finish(10s);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find(c.second), std::string::npos) << r.err;
        EXPECT_TRUE(run.sim.commands().empty());
        EXPECT_FALSE(file_exists(run.root.path("run/lock/failover")));
    }
    EXPECT_EQ(read_file(target), "precious\n");
    EXPECT_EQ(names_in(files.path), (std::set<std::string>{".", "..", "target", "link"}));
}

// A capture is put in place whole or not at all: a disk that fills up half-way leaves the earlier
// capture as it was and no cut file beside it. A small file system plays the full disk.
TEST_F(Check, ACaptureReplacesTheOldOneOnlyWhenWhole)
{
    ASSERT_EQ(unshare(CLONE_NEWNS), 0);
    ASSERT_EQ(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
    temp_dir files;
    ASSERT_EQ(mount("capture", files.path.c_str(), "tmpfs", 0, "size=64k"), 0);
    std::string capture = files.path + "/capture.scn";
    write_file(capture, "the old capture\n", 0640);

    check_run whole("ipv4 10.64.2.17\n", {"--scenario", capture, "PORT", "generic"});
    EXPECT_EQ(whole.finish(20s).status, 0);
    EXPECT_EQ(read_file(capture).rfind("# Recorded by cellwatch-check", 0), 0u);
    struct stat st;
    ASSERT_EQ(stat(capture.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    write_file(capture, "the old capture\n");
    // One page left of sixteen, and a capture of more than a page: a long answer.
    const std::string long_answer = "answer AT+CGPADDR \\r\\n+CGPADDR: 1,\"10.64.2.17\"\\r\\n" +
                                    repeat_text("+CGPADDR: 2,\"10.64.2.18\"\\r\\n", 150) +
                                    "\\r\\nOK\\r\\n\n";
    write_file(files.path + "/filler", std::string(14 * 4096, 'x'));
    check_run cut(long_answer, {"--scenario", capture, "PORT", "generic"});
    run_result r = cut.finish(20s);
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
    EXPECT_EQ(read_file(capture), "the old capture\n");
    EXPECT_EQ(names_in(files.path), (std::set<std::string>{".", "..", "capture.scn", "filler"}));
    umount2(files.path.c_str(), MNT_DETACH);
}

TEST_F(Check, APortHeldExclusivelyByAnotherProgramIsNoPort)
{
    if (emulated())
        GTEST_SKIP() << QEMU_NO_TIOCGEXCL;
    int session = -1;
    check_run run("", {"PORT", "generic"}, "", {}, [&](const std::string& port) {
        session = open(port.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ioctl(session, TIOCEXCL);
    });
    run_result r = run.finish(20s);
    int excl = 0;
    EXPECT_EQ(ioctl(session, TIOCGEXCL, &excl), 0);
    EXPECT_EQ(excl, 1) << "the other program's exclusive mode was ended";
    close(session);
    EXPECT_EQ(r.status, 5);
    const std::string head = "no-port: " + run.sim.port() + ": ";
    EXPECT_TRUE(r.out == head + "Device or resource busy\n" || r.out == head + "Resource busy\n")
        << r.out;
    EXPECT_TRUE(run.sim.commands().empty());
}

// A stop that comes while the lock is awaited ends the wait, even when the lock frees in the same
// second; the modem is never touched.
TEST_F(Check, AStopWhileWaitingForTheLockEndsTheWaitEvenWhenItFrees)
{
    check_run run("ipv4 10.64.2.17\n", {"PORT", "generic"}, std::to_string(getpid()) + "\n");
    ASSERT_TRUE(wait_until([&] { return sleeping(run.proc->pid()); }, 10s));
    ASSERT_EQ(unlink(run.root.path("run/lock/failover").c_str()), 0);
    run.proc->signal(SIGINT);
    run_result r = run.finish(5s);
    EXPECT_EQ(r.status, 6) << r.out;
    EXPECT_EQ(r.out.rfind("lock-busy: /var/lock/failover held for ", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("; stopped by a signal\n"), std::string::npos) << r.out;
    EXPECT_TRUE(run.sim.commands().empty());
}

// Ctrl-Z during the dialogue: the job stops only once the port is put back and the lock removed.
TEST_F(Check, ASuspensionWaitsUntilTheLockIsReleased)
{
    // A group of its own, whose parent is in another: a stop signal to an orphaned group is dropped.
    check_run run("ipv4 10.64.2.17\ndelay 500\n", {"PORT", "generic"}, "", {}, nullptr,
                  [] { setpgid(0, 0); });
    ASSERT_TRUE(wait_until([&] { return !run.sim.commands().empty(); }, 10s));
    run.proc->signal(SIGTSTP);
    std::string stat_path = "/proc/" + std::to_string(run.proc->pid()) + "/stat";
    auto stopped = [&] { return read_file(stat_path).find(") T ") != std::string::npos; };
    ASSERT_TRUE(wait_until(stopped, 10s)) << "the suspension was lost";
    EXPECT_FALSE(file_exists(run.root.path("run/lock/failover"))) << "suspended holding the lock";
    EXPECT_EQ(run.sim.commands(), (strings{"AT", "AT+CGATT?", "AT+CGPADDR"}));
    run.proc->signal(SIGCONT);
    EXPECT_EQ(run.finish(10s).status, 0);
}

// With 5 or 6 descriptors allowed, not every standard descriptor can be saved while the trail
// is muted: the verdict still reaches standard output.
TEST_F(Check, TheVerdictReachesStandardOutputAtLowDescriptorLimits)
{
    if (emulated())
        GTEST_SKIP() << "qemu-user needs descriptors of its own within the limit; the native and "
                        "musl runs check it";
    for (rlim_t limit : {5, 6}) {
        auto few = [limit] {
            for (int fd = 3; fd < 1024; ++fd)
                close(fd);
            struct rlimit r = {limit, limit};
            if (setrlimit(RLIMIT_NOFILE, &r) != 0)
                _exit(125);
        };
        check_run run("ipv4 10.64.2.17\n", {"PORT", "generic"}, "", {}, nullptr, few);
        run_result r = run.finish(20s);
        EXPECT_EQ(r.status, 0) << limit;
        EXPECT_NE(r.out.find("healthy: attached, IPv4 10.64.2.17\n"), std::string::npos)
            << "limit " << limit << ": " << r.out << r.err;
    }
}

TEST_F(Check, ExplainsItselfAndSaysHowItTookItsArguments)
{
    check_run help("", {"--help"});
    run_result h = help.finish(5s);
    EXPECT_EQ(h.status, 0);
    EXPECT_EQ(lines_of(h.out).at(0),
              std::string("usage: ") + CELLWATCH_CHECK + " [--attach] [--scenario FILE] PORT TYPE [IP_FAMILY]");
    EXPECT_EQ(h.err, "");
    check_run version("", {"--version", "PORT", "generic"});
    EXPECT_EQ(version.finish(5s).out, "cellwatch-check 0.1.0\n");
    // What cellwatch would make of a TYPE and an IP_FAMILY that it does not know.
    check_run guessed("ipv4 10.64.2.17\n", {"PORT", "Marvell", "ipv6"});
    run_result g = guessed.finish(20s);
    EXPECT_EQ(g.status, 0);
    strings lines = lines_of(g.out);
    ASSERT_GE(lines.size(), 3u) << g.out;
    EXPECT_EQ(lines[0], "healthy: attached, IPv4 10.64.2.17");
    EXPECT_EQ(lines[1], "note: TYPE \"Marvell\" is none of altair, ericsson, marvell, generic: "
                        "checked as a generic modem, as cellwatch would");
    EXPECT_EQ(lines[2], "note: IP_FAMILY \"ipv6\" is neither ip4 nor ip6: checked for an IPv4 "
                        "address, as cellwatch would");
}

} // namespace
