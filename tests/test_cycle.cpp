// The supervision cycle with the pauses replaced: score rules, lock polling, stop signals and
// the DHCP script, all without real waiting. Runs in a private mount namespace, so the fixed
// paths are the test's own.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <csignal>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <algorithm>
#include <atomic>
#include <pthread.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

#include "fake_pause.h"
#include "modem/modem.h"
#include "supervisor/cycle.h"
#include "supervisor/shell.h"
#include "supervisor/signals.h"
#include "support.h"

namespace {

using namespace std::chrono_literals;
using pauses = std::vector<unsigned>;

struct step_case {
    const char* name;
    std::vector<std::pair<int, int>> results; // (result, attached) per check
    size_t ends_after;                        // checks until failover; 0: never
};

TEST(ScoreResult, ThresholdExamples)
{
    const int NA = 0, AT = 1;
    const step_case cases[] = {
        {"three modem failures", {{CHECK_MODEM_FAILED, AT}, {CHECK_MODEM_FAILED, AT},
                                  {CHECK_MODEM_FAILED, AT}}, 3},
        {"eleven not attached", std::vector<std::pair<int, int>>(11, {CHECK_OK, NA}), 11},
        {"ten not attached", std::vector<std::pair<int, int>>(10, {CHECK_OK, NA}), 0},
        {"two failures then three not attached",
         {{CHECK_MODEM_FAILED, AT}, {CHECK_MODEM_FAILED, AT}, {CHECK_OK, NA}, {CHECK_OK, NA},
          {CHECK_OK, NA}}, 5},
        {"healthy check starts again",
         {{CHECK_MODEM_FAILED, AT}, {CHECK_MODEM_FAILED, AT}, {CHECK_OK, AT},
          {CHECK_MODEM_FAILED, AT}, {CHECK_MODEM_FAILED, AT}}, 0},
        {"address change starts again",
         {{CHECK_MODEM_FAILED, AT}, {CHECK_MODEM_FAILED, AT}, {CHECK_NEW_ADDRESS, AT},
          {CHECK_MODEM_FAILED, AT}, {CHECK_MODEM_FAILED, AT}}, 0},
        {"lost at once", {{CHECK_LOST, NA}}, 1},
        {"ports that never open", std::vector<std::pair<int, int>>(100, {CHECK_NO_PORT, NA}), 0},
        {"no port does not reset", {{CHECK_MODEM_FAILED, AT}, {CHECK_MODEM_FAILED, AT},
                                    {CHECK_NO_PORT, NA}, {CHECK_MODEM_FAILED, AT}}, 4},
    };
    for (const step_case& c : cases) {
        int score = 0;
        size_t ended = 0;
        for (size_t i = 0; i < c.results.size() && ended == 0; ++i)
            if (score_result(c.results[i].first, c.results[i].second, score) == OUTCOME_FAILOVER)
                ended = i + 1;
        EXPECT_EQ(ended, c.ends_after) << c.name << " (score " << score << ")";
    }
}

class Cycle : public ::testing::Test {
public:
    sandbox_root root;
    link_info info{};

    void SetUp() override
    {
        std::string why = enter_sandbox(root);
        if (!why.empty())
            GTEST_SKIP() << "no private mount namespace: " << why;
        strcpy(info.ifname, "wwan0");
        pauses_taken.clear();
        on_pause = nullptr;
        stop_requested = 0;
    }

    modem_sim* sim_ = nullptr;
    fd_capture* echo_ = nullptr;
    std::function<void(unsigned, size_t)> test_hook;

    // The real pauses give the modem time to answer what was left unread (the attach
    // command); without them, each pause waits for the simulator instead.
    void watch(modem_sim& sim)
    {
        sim_ = &sim;
    }

    void install_hook()
    {
        on_pause = [this](unsigned seconds, size_t index) {
            if (sim_ != nullptr) {
                std::string sent = echo_->text();
                EXPECT_TRUE(sim_->wait_answered(count_of(sent, "\r")));
            }
            if (test_hook)
                test_hook(seconds, index);
        };
    }

    // Raises the stop flag at the pause with index `at`.
    void stop_at(size_t at)
    {
        test_hook = [at](unsigned, size_t index) {
            if (index == at)
                stop_requested = 1;
        };
    }

    int run(const std::string& port, std::string* err_text = nullptr)
    {
        fd_capture echo(0);
        echo_ = &echo;
        install_hook();
        fd_capture out(1);
        fd_capture err(2);
        int outcome = run_cycle(info, port.c_str());
        if (err_text != nullptr)
            *err_text = err.text();
        on_pause = nullptr;
        echo_ = nullptr;
        return outcome;
    }
};

pauses repeat(pauses unit, size_t times, pauses tail)
{
    pauses out;
    for (size_t i = 0; i < times; ++i)
        out.insert(out.end(), unit.begin(), unit.end());
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

TEST_F(Cycle, ThreeModemFailuresEndInFailoverAfterTheThird)
{
    modem_sim sim("answer AT+CGATT? \\r\\nERROR\\r\\n\n");
    EXPECT_EQ(run(sim.port()), OUTCOME_FAILOVER);
    EXPECT_EQ(pauses_taken, (pauses{1, 10, 1, 10, 1}));
    EXPECT_EQ(sim.dialogues(), 3);
    EXPECT_FALSE(file_exists("/var/lock/failover"));
}

TEST_F(Cycle, ElevenNotAttachedChecksEndInFailover)
{
    modem_sim sim("attach 0\nattach-command ignored\n");
    watch(sim);
    EXPECT_EQ(run(sim.port()), OUTCOME_FAILOVER);
    EXPECT_EQ(pauses_taken, repeat({1, 10}, 10, {1}));
    EXPECT_EQ(sim.dialogues(), 11);
}

TEST_F(Cycle, TwoFailuresThenThreeNotAttachedEndInFailover)
{
    modem_sim sim("answer AT+CGATT? \\r\\nERROR\\r\\n\nafter 2 dialogues\n"
                  "answer AT+CGATT? default\nattach 0\nattach-command ignored\n");
    watch(sim);
    EXPECT_EQ(run(sim.port()), OUTCOME_FAILOVER);
    EXPECT_EQ(sim.dialogues(), 5);
}

TEST_F(Cycle, HealthyCheckInBetweenStartsTheCountAgain)
{
    modem_sim sim("answer AT+CGATT? \\r\\nERROR\\r\\n\n"
                  "after 2 dialogues\nanswer AT+CGATT? default\nipv4 10.1.1.1\n"
                  "after 3 dialogues\nanswer AT+CGATT? \\r\\nERROR\\r\\n\n");
    EXPECT_EQ(run(sim.port()), OUTCOME_FAILOVER);
    EXPECT_EQ(sim.dialogues(), 6) << "2 failures, a healthy check, then 3 failures";
    EXPECT_EQ(root.calls(), "4dhcp.sh wwan0\n");
}

TEST_F(Cycle, LostLinkEndsAtOnceWithoutTheTenSecondPause)
{
    modem_sim sim("attach 2\n");
    EXPECT_EQ(run(sim.port()), OUTCOME_FAILOVER);
    EXPECT_EQ(pauses_taken, (pauses{1}));
}

TEST_F(Cycle, StopDuringTheTenSecondPauseEndsBeforeTheNextAttempt)
{
    modem_sim sim("ipv4 10.64.2.17\n");
    stop_at(1);
    EXPECT_EQ(run(sim.port()), OUTCOME_STOP);
    EXPECT_EQ(pauses_taken, (pauses{1, 10}));
}

TEST_F(Cycle, StopDuringTheOneSecondPauseLetsTheCycleFinish)
{
    modem_sim healthy("ipv4 10.64.2.17\n");
    stop_at(0);
    EXPECT_EQ(run(healthy.port()), OUTCOME_STOP);
    EXPECT_EQ(pauses_taken, (pauses{1, 10}));
    EXPECT_EQ(healthy.dialogues(), 1);

    pauses_taken.clear();
    stop_requested = 0;
    modem_sim lost("attach 2\n");
    stop_at(0);
    EXPECT_EQ(run(lost.port()), OUTCOME_FAILOVER) << "the cycle's own end comes first";
}

TEST_F(Cycle, HeldLockKeepsTheCycleOffThePortUntilItGoes)
{
    modem_sim sim("ipv4 10.64.2.17\n");
    write_file("/var/lock/failover", "");
    test_hook = [&](unsigned, size_t index) {
        if (index == 3) {
            EXPECT_EQ(sim.dialogues(), 0) << "port touched while the lock was held";
            unlink("/var/lock/failover");
        }
        if (index == 4)
            stop_requested = 1;
    };
    EXPECT_EQ(run(sim.port()), OUTCOME_STOP);
    EXPECT_EQ(pauses_taken, (pauses{1, 1, 1, 1, 10}));
    EXPECT_EQ(sim.dialogues(), 1);
}

TEST_F(Cycle, StopIsHonouredWhileTheLockIsHeld)
{
    write_file("/var/lock/failover", "");
    stop_at(5);
    EXPECT_EQ(run("/nonexistent"), OUTCOME_STOP);
    EXPECT_EQ(pauses_taken, pauses(6, 1));
    EXPECT_TRUE(file_exists("/var/lock/failover")) << "someone else's lock is left alone";
}

// Polling goes on, one line for each reason the lock cannot be created, and none for each poll.
TEST_F(Cycle, LockThatCannotBeCreatedIsToldOnceForEachReason)
{
    ASSERT_EQ(rmdir("/run/lock"), 0);
    test_hook = [&](unsigned, size_t index) {
        if (index == 3) {
            ASSERT_EQ(mkdir("/run/lock", 0755), 0);
            ASSERT_EQ(mount("/run/lock", "/run/lock", nullptr, MS_BIND, nullptr), 0);
            ASSERT_EQ(mount(nullptr, "/run/lock", nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY,
                            nullptr), 0);
        }
        if (index == 6)
            stop_requested = 1;
    };
    std::string err;
    EXPECT_EQ(run("/nonexistent", &err), OUTCOME_STOP);
    EXPECT_EQ(pauses_taken, pauses(7, 1)) << "no port was tried";
    EXPECT_EQ(err, "/var/lock/failover cannot be created: 2 (No such file or directory)\n"
                   "/var/lock/failover cannot be created: " + std::to_string(EROFS) + " (" +
                   strerror(EROFS) + ")\n");
    umount("/run/lock");

    // A planted symlink is a lock that stands: it is waited for, and never followed.
    ASSERT_EQ(symlink("/run/planted", "/run/lock/failover"), 0);
    pauses_taken.clear();
    stop_requested = 0;
    stop_at(2);
    EXPECT_EQ(run("/nonexistent", &err), OUTCOME_STOP);
    EXPECT_EQ(err, "");
    EXPECT_FALSE(file_exists("/run/planted")) << "the lock followed a symlink";
}

// Told once, after a minute of polls, with the holder's pid where the lock names one.
TEST_F(Cycle, LockHeldForOverAMinuteIsToldOnce)
{
    const std::string parent = std::to_string(getppid());
    write_file("/var/lock/failover", parent + "\n");
    stop_at(59);
    std::string err;
    EXPECT_EQ(run("/nonexistent", &err), OUTCOME_STOP);
    EXPECT_EQ(pauses_taken, pauses(60, 1));
    EXPECT_EQ(err, "") << "told before a minute had passed";

    pauses_taken.clear();
    stop_requested = 0;
    stop_at(300);
    EXPECT_EQ(run("/nonexistent", &err), OUTCOME_STOP);
    EXPECT_EQ(err, "/var/lock/failover held by process " + parent + " for over a minute\n");

    write_file("/var/lock/failover", "");
    pauses_taken.clear();
    stop_requested = 0;
    stop_at(100);
    EXPECT_EQ(run("/nonexistent", &err), OUTCOME_STOP);
    EXPECT_EQ(err, "/var/lock/failover held for over a minute\n");
}

// A full RAM disk under /var/lock takes the lock's file but not its text: the empty lock still
// serves, and the link is still supervised.
TEST_F(Cycle, LockDirectoryOnAFullFileSystemStillServes)
{
    ASSERT_EQ(mount("cellwatch-full", "/run/lock", "tmpfs", 0, "size=4k"), 0);
    std::string filler(8192, 'x');
    int fd = open("/run/lock/filler", O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    while (write(fd, filler.data(), filler.size()) > 0) {
    }
    close(fd);
    modem_sim sim("ipv4 10.64.2.17\n");
    stop_at(3);
    std::string err;
    int outcome = run(sim.port(), &err);
    bool lock_left = file_exists("/run/lock/failover");
    umount("/run/lock");
    EXPECT_EQ(outcome, OUTCOME_STOP);
    EXPECT_EQ(sim.dialogues(), 2) << err;
    EXPECT_EQ(count_of(err, "cannot be created"), 0u) << err;
    EXPECT_FALSE(lock_left);
}

TEST_F(Cycle, PortThatNeverOpensCostsNothing)
{
    stop_at(59);
    std::string err;
    EXPECT_EQ(run("/nonexistent/ttyUSB1", &err), OUTCOME_STOP);
    EXPECT_EQ(pauses_taken, repeat({1, 10}, 30, {}));
    EXPECT_EQ(err, repeat_text("2(No such file or directory)\n", 30));
    EXPECT_FALSE(file_exists("/var/lock/failover"));
}

TEST_F(Cycle, AddressChangeRunsTheDhcpScriptOncePerChange)
{
    modem_sim sim("ipv4 10.64.2.17\nafter 2 dialogues\nipv4 10.64.9.200\n");
    stop_at(7);
    std::string err;
    EXPECT_EQ(run(sim.port(), &err), OUTCOME_STOP);
    EXPECT_EQ(sim.dialogues(), 4);
    EXPECT_EQ(root.calls(), "4dhcp.sh wwan0\n4dhcp.sh wwan0\n");
    EXPECT_EQ(count_of(err, "/opt/vordane/bin/4dhcp.sh wwan0READ "), 2u) << err;
    EXPECT_EQ(info.ipv4_addr, inet_addr("10.64.9.200"));
}

TEST_F(Cycle, Ipv6AddressChangeRunsTheIpv6Script)
{
    info.modem_type = MODEM_MARVELL;
    info.use_ipv6 = 1;
    modem_sim sim("family marvell\nipv6 2a00:db8::1\nafter 1 dialogues\nipv6 none\n");
    stop_at(5);
    EXPECT_EQ(run(sim.port()), OUTCOME_STOP);
    EXPECT_EQ(root.calls(), "6dhcp.sh wwan0\n6dhcp.sh wwan0\n")
        << "the address, then its loss to none";
}

TEST_F(Cycle, UnpluggedModemCostsOneFailureAndTheReturnedPortIsCheckedAgain)
{
    // Unplugged at the attach query of the second dialogue; put back by the test once three
    // cycles have found no port.
    modem_sim sim("ipv4 10.64.2.17\nafter 1 dialogues\nunplug AT+CGATT?\n", root.path("modem"));
    watch(sim);
    size_t missing = 0;
    std::vector<int> scores;
    test_hook = [&](unsigned seconds, size_t) {
        if (seconds != 10)
            return;
        scores.push_back(fail_score);
        if (!file_exists(root.path("modem")) && ++missing == 4) {
            EXPECT_TRUE(sim.replug());
        }
        if (sim.dialogues() == 3)
            stop_requested = 1;
    };
    std::string err;
    EXPECT_EQ(run(root.path("modem"), &err), OUTCOME_STOP) << err;
    EXPECT_EQ(missing, 4u) << "the failed dialogue's cycle and three without a port";
    EXPECT_EQ(count_of(err, "2(No such file or directory)\n"), 3u) << err;
    // The attach query went out; its collection read nothing (EIO) and the modem failed.
    EXPECT_EQ(count_of(err, "READ 2(No such file or directory)\n"), 1u) << err;
    // The device went away: its interface comes back down and unconfigured, so the same
    // address is handled as new and its script runs again.
    EXPECT_EQ(root.calls(), "4dhcp.sh wwan0\n4dhcp.sh wwan0\n");
    EXPECT_EQ(info.attached, 1);
    // Healthy, then one modem failure, then portless cycles that cost nothing, then healthy.
    EXPECT_EQ(scores, (std::vector<int>{0, 4, 4, 4, 4, 0}));
}

// Runs the cycle on `sim` and sends SIGTERM once the simulator has received `command` for the
// `nth` time and the cycle's thread sleeps in poll, waiting for its answer.
int run_stopped_in_wait(Cycle& test, modem_sim& sim, const std::string& command, long nth,
                        std::string& err)
{
    install_signal(SIGTERM, on_stop_signal);
    pthread_t main_thread = pthread_self();
    pid_t main_tid = static_cast<pid_t>(syscall(SYS_gettid));
    std::atomic<bool> done{false};
    std::thread stopper([&] {
        std::string wchan = "/proc/self/task/" + std::to_string(main_tid) + "/wchan";
        bool waiting = wait_until([&] {
            std::vector<std::string> heard = sim.commands();
            return done || (std::count(heard.begin(), heard.end(), command) >= nth &&
                            read_file(wchan).find("poll") != std::string::npos);
        }, 60s);
        if (waiting && !done)
            pthread_kill(main_thread, SIGTERM);
    });
    int outcome = test.run(sim.port(), &err);
    done = true;
    stopper.join();
    return outcome;
}

// A stop during the wait for an answer is no silence of the modem's: two failures (8 points)
// and a cut third answer end in a stop, not in failover, and no command follows the cut one.
TEST_F(Cycle, StopThatCutsAnAnswerShortScoresNothingAndEndsTheRun)
{
    modem_sim sim("answer AT+CGATT? \\r\\nERROR\\r\\n\nafter 2 dialogues\n"
                  "answer AT+CGATT? default\nignore AT+CGATT?\n");
    std::string err;
    int outcome = run_stopped_in_wait(*this, sim, "AT+CGATT?", 3, err);
    EXPECT_EQ(outcome, OUTCOME_STOP) << err;
    EXPECT_EQ(fail_score, 8);
    EXPECT_EQ(pauses_taken, (pauses{1, 10, 1, 10, 1})) << "no pause after the cut dialogue";
    EXPECT_EQ(sim.commands(), (std::vector<std::string>{"AT", "AT+CGATT?", "AT", "AT+CGATT?", "AT",
                                                        "AT+CGATT?"}));
    EXPECT_FALSE(file_exists("/var/lock/failover"));
}

// The same for the address's answers, the first query's and Marvell's second: a cut answer is
// no missing address (1 point) and no failed modem (4).
TEST_F(Cycle, StopThatCutsAnAddressAnswerShortScoresNothing)
{
    struct cut_case {
        uint32_t family;
        const char* scenario;
        const char* command;
        std::vector<std::string> heard;
    };
    const cut_case cases[] = {
        {MODEM_GENERIC, "ignore AT+CGPADDR\n", "AT+CGPADDR", {"AT", "AT+CGATT?", "AT+CGPADDR"}},
        {MODEM_MARVELL, "family marvell\nignore AT*GETIP=5\n", "AT*GETIP=5",
         {"AT", "AT+CGATT?", "AT*GETIP=1", "AT*GETIP=5"}},
    };
    for (const cut_case& c : cases) {
        info = link_info{};
        strcpy(info.ifname, "wwan0");
        info.modem_type = c.family;
        pauses_taken.clear();
        stop_requested = 0;
        modem_sim sim(c.scenario);
        std::string err;
        EXPECT_EQ(run_stopped_in_wait(*this, sim, c.command, 1, err), OUTCOME_STOP) << c.command;
        EXPECT_EQ(fail_score, 0) << c.command;
        EXPECT_EQ(pauses_taken, (pauses{1})) << c.command;
        EXPECT_EQ(sim.commands(), c.heard) << c.command;
    }
}

TEST_F(Cycle, MissingDhcpScriptIsIgnoredAndTheScoreStillResets)
{
    ASSERT_EQ(unlink(root.path("bin/4dhcp.sh").c_str()), 0);
    modem_sim sim("answer AT+CGATT? \\r\\nERROR\\r\\n\n"
                  "after 2 dialogues\nanswer AT+CGATT? default\nipv4 10.1.1.1\n"
                  "after 3 dialogues\nanswer AT+CGATT? \\r\\nERROR\\r\\n\n");
    std::string err;
    EXPECT_EQ(run(sim.port(), &err), OUTCOME_FAILOVER);
    EXPECT_EQ(sim.dialogues(), 6) << "the address change reset the score";
    EXPECT_EQ(count_of(err, "Fail to system"), 0u) << "the shell started; the script's own failure is not looked at";
}

TEST_F(Cycle, ShellThatCannotBeStartedIsReported)
{
    // A shell that is not executable, over /bin/sh in this test's own mount namespace.
    write_file(root.path("sh"), "", 0644);
    ASSERT_EQ(mount(root.path("sh").c_str(), "/bin/sh", nullptr, MS_BIND, nullptr), 0);
    std::string text;
    {
        fd_capture err(2);
        run_dhcp_script(info);
        text = err.text();
    }
    umount("/bin/sh");
    EXPECT_EQ(text, "/opt/vordane/bin/4dhcp.sh wwan0"
                    "Fail to system(\"/opt/vordane/bin/4dhcp.sh wwan0\"), errno: 13 "
                    "(Permission denied)");
    EXPECT_EQ(root.calls(), "");
}

TEST_F(Cycle, AddressWhoseScriptCouldNotStartIsHandledAsNewInTheNextCycle)
{
    write_file(root.path("sh"), "", 0644);
    ASSERT_EQ(mount(root.path("sh").c_str(), "/bin/sh", nullptr, MS_BIND, nullptr), 0);
    modem_sim sim("ipv4 10.64.2.17\n");
    test_hook = [&](unsigned seconds, size_t index) {
        if (seconds == 10 && index == 1)
            umount("/bin/sh");
        if (index == 3)
            stop_requested = 1;
    };
    std::string err;
    EXPECT_EQ(run(sim.port(), &err), OUTCOME_STOP);
    umount("/bin/sh");
    EXPECT_EQ(count_of(err, "Fail to system"), 1u) << err;
    EXPECT_EQ(root.calls(), "4dhcp.sh wwan0\n") << "run in the second cycle, once";
    EXPECT_EQ(info.ipv4_addr, inet_addr("10.64.2.17"));
}

// A command starts with every signal at its default, up to the platform's highest: above 64 on
// MIPS, where this runs under emulation too; but a SIGHUP ignored (nohup) stays ignored. Exits
// with the first signal left otherwise.
// A fork that fails (no process left to the user, say) is reported, and leaves none of the
// exec report's descriptors behind: one a cycle would run a router out of them in days.
TEST(Shell, AFailedForkLeavesNoDescriptorBehind)
{
    if (emulated())
        GTEST_SKIP() << "a seccomp filter names the host's system calls, which qemu-user makes";
    pid_t pid = fork();
    if (pid == 0) {
        // Every way to make a process fails with EAGAIN.
        sock_filter filter[] = {
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_clone, 3, 0),
#ifdef __NR_clone3
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_clone3, 2, 0),
#else
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_clone, 2, 0),
#endif
#ifdef __NR_fork
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_fork, 1, 0),
#else
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_clone, 1, 0),
#endif
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EAGAIN),
        };
        sock_fprog program = {static_cast<unsigned short>(sizeof filter / sizeof filter[0]),
                              filter};
        if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
            prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
            _exit(125);
        size_t before = open_descriptors(getpid());
        for (int i = 0; i < 3; ++i)
            if (run_shell("true") != EAGAIN)
                _exit(2);
        _exit(open_descriptors(getpid()) == before ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 125)
        GTEST_SKIP() << "no seccomp filter can be had here";
    EXPECT_NE(WEXITSTATUS(status), 2) << "the failed fork was not reported as EAGAIN";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "descriptors were left behind";
}

TEST(Shell, ResetPutsEverySignalBackToItsDefaultUpToTheHighest)
{
    pid_t pid = fork();
    if (pid == 0) {
        struct sigaction ignore = {};
        ignore.sa_handler = SIG_IGN;
        for (int signo = 1; signo <= SIGRTMAX; ++signo)
            sigaction(signo, &ignore, nullptr);
        install_signal(SIGHUP, on_stop_signal);
        reset_signals();
        for (int signo = 1; signo <= SIGRTMAX; ++signo) {
            struct sigaction now = {};
            if (sigaction(signo, nullptr, &now) == 0 && now.sa_handler != SIG_DFL)
                _exit(signo);
        }
        sigaction(SIGHUP, &ignore, nullptr);
        reset_signals();
        struct sigaction hup = {};
        _exit(sigaction(SIGHUP, nullptr, &hup) == 0 && hup.sa_handler == SIG_IGN ? 0 : 100);
    }
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "signal " << WEXITSTATUS(status) << " left as it was (100: "
                                      << "an ignored SIGHUP reset), of "
                                      << SIGRTMAX;
}

} // namespace
