// The real cellwatch against modemsim, in a private mount namespace: what runs, what reaches
// the event pipe, and what is printed where. These wait on real cycles, so they are few.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <fcntl.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "support.h"

namespace {

using namespace std::chrono_literals;

const std::string HEALTHY = "family generic\nattach 1\nipv4 10.64.2.17\n";
const std::string REQUEST = "exec /opt/vordane/bin/failover.sh wwan0\n";
const std::string LOCK = "run/lock/failover";

class EndToEnd : public ::testing::Test {
protected:
    sandbox_root root;
    int pipe_reader = -1;

    void SetUp() override
    {
        std::string why = sandbox_refusal(root);
        if (!why.empty())
            GTEST_SKIP() << why;
    }

    void TearDown() override
    {
        if (pipe_reader >= 0)
            close(pipe_reader);
    }

    // The stand-in event daemon: holds the read end so the program's open does not wait.
    void open_event_pipe()
    {
        std::string fifo = root.path("run/.neventpipe");
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        pipe_reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
        ASSERT_GE(pipe_reader, 0);
    }

    // Every read the daemon gets, one string each.
    std::vector<std::string> pipe_reads()
    {
        std::vector<std::string> reads;
        char buf[512];
        for (ssize_t n; (n = read(pipe_reader, buf, sizeof buf)) > 0;)
            reads.emplace_back(buf, static_cast<size_t>(n));
        return reads;
    }

    child start(const modem_sim& sim, const std::string& type = "generic",
                const std::string& extra = "")
    {
        std::vector<std::string> argv = {CELLWATCH, sim.port(), type, "wwan0"};
        if (!extra.empty())
            argv.push_back(extra);
        return child(argv, &root);
    }

    bool wait_for_pause(modem_sim& sim, size_t commands, const child& cw)
    {
        return in_pause(sim, commands, root, cw, 30s);
    }
};

std::string dialogue_err(const std::string& address)
{
    return "READ AT\r\r\nOK\r\n"
           "READ AT+CGATT?\r\r\n+CGATT: 1\r\n\r\nOK\r\n"
           "READ AT+CGPADDR\r\r\n+CGPADDR: 1,\"" + address + "\"\r\n\r\nOK\r\n";
}

TEST_F(EndToEnd, NewAddressRunsDhcpOnceAndSigtermInThePauseStopsAtOnce)
{
    open_event_pipe();
    modem_sim sim(HEALTHY);
    child cw = start(sim);
    ASSERT_TRUE(wait_for_pause(sim, 6, cw)) << cw.err();
    cw.signal(SIGTERM);
    run_result r;
    ASSERT_TRUE(cw.wait(r, 5s)) << "SIGTERM did not cut the 10-second pause short";
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(root.calls(), "4dhcp.sh wwan0\n");
    EXPECT_EQ(r.out, repeat_text(ipv4_line("10.64.2.17"), 2));
    EXPECT_EQ(r.err, dialogue_err("10.64.2.17") + "/opt/vordane/bin/4dhcp.sh wwan0" +
                         dialogue_err("10.64.2.17"));
    EXPECT_EQ(r.fd0, repeat_text("AT\rAT+CGATT?\rAT+CGPADDR\r", 2));
    EXPECT_TRUE(pipe_reads().empty()) << "a stop must not ask for failover";
}

struct pid_case {
    const char* name;
    bool ipv4, ipv6;
    const char* calls;
};

TEST_F(EndToEnd, LostLinkTearsDownByPidFilesAndWritesOneWholeRequest)
{
    const pid_case cases[] = {
        {"none", false, false, ""},
        {"ipv4", true, false, "ifconfig wwan0 0.0.0.0 down\n"},
        {"ipv6", false, true, "ifconfig wwan0 down\n"},
        {"both", true, true, "ifconfig wwan0 0.0.0.0 down\nifconfig wwan0 down\n"},
    };
    open_event_pipe();
    for (const pid_case& c : cases) {
        unlink(root.path("calls.log").c_str());
        std::vector<pid_t> clients;
        for (auto [wanted, file] : {std::pair{c.ipv4, "run/dhcp.wwan0.pid"},
                                    std::pair{c.ipv6, "run/dhcp6.wwan0.pid"}}) {
            unlink(root.path(file).c_str());
            if (!wanted)
                continue;
            pid_t client = fork();
            if (client == 0) {
                execl("/bin/sleep", "sleep", "60", (char*)nullptr);
                _exit(127);
            }
            clients.push_back(client);
            write_file(root.path(file), std::to_string(client) + "\n");
        }
        modem_sim sim("attach 2\n");
        child cw = start(sim);
        run_result r;
        ASSERT_TRUE(cw.wait(r, 20s)) << c.name;
        EXPECT_EQ(r.status, 0) << c.name;
        EXPECT_EQ(root.calls(), c.calls) << c.name;
        for (pid_t client : clients) {
            int status = 0;
            EXPECT_TRUE(wait_until([&] { return waitpid(client, &status, WNOHANG) == client; }, 5s));
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << c.name;
        }
        EXPECT_EQ(pipe_reads(), std::vector<std::string>{REQUEST}) << c.name;
        EXPECT_EQ(r.err, "READ AT\r\r\nOK\r\nREAD AT+CGATT?\r\r\n+CGATT: 2\r\n\r\nOK\r\n");
        EXPECT_EQ(r.out, "");
    }
}

TEST_F(EndToEnd, NoEventPipeGivesBothMessagesAndStatusZero)
{
    modem_sim sim("attach 2\n");
    child cw = start(sim);
    run_result r;
    ASSERT_TRUE(cw.wait(r, 20s));
    EXPECT_EQ(r.status, 0);
    const std::string tail =
        "write_event Could not open FIFO for writing! 2 (No such file or directory)"
        "cm_run_failover Could not write whole message to FIFO! 2 (No such file or directory)";
    ASSERT_GE(r.err.size(), tail.size());
    EXPECT_EQ(r.err.substr(r.err.size() - tail.size()), tail);
}

// A request appended to a file that nobody reads would be a failover that never happens: a path
// that holds anything but a FIFO gets nothing written, and both messages say why.
TEST_F(EndToEnd, EventPipeThatIsNoFifoGetsNothingAndBothMessagesSayWhy)
{
    const std::string tail = "write_event Could not open FIFO for writing! 22 (not a FIFO)"
                             "cm_run_failover Could not write whole message to FIFO! 22 (not a FIFO)";
    std::string pipe = root.path("run/.neventpipe");
    std::string target = root.path("run/target");
    for (bool linked : {false, true}) {
        unlink(pipe.c_str());
        write_file(linked ? target : pipe, "");
        if (linked) {
            ASSERT_EQ(symlink(target.c_str(), pipe.c_str()), 0);
        }
        modem_sim sim("attach 2\n");
        child cw = start(sim);
        run_result r;
        ASSERT_TRUE(cw.wait(r, 20s));
        EXPECT_EQ(r.status, 0);
        ASSERT_GE(r.err.size(), tail.size()) << r.err;
        EXPECT_EQ(r.err.substr(r.err.size() - tail.size()), tail) << (linked ? "a link" : "a file");
        EXPECT_EQ(read_file(linked ? target : pipe), "") << "nothing appended";
    }
}

TEST_F(EndToEnd, LockHeldBySomeoneElseKeepsTheProgramOffThePort)
{
    write_file(root.path(LOCK), "");
    modem_sim sim(HEALTHY);
    child cw = start(sim);
    // Watching for something that must not happen takes time: three lock polls' worth.
    std::this_thread::sleep_for(3500ms);
    EXPECT_EQ(sim.dialogues(), 0);
    EXPECT_EQ(waitpid(cw.pid(), nullptr, WNOHANG), 0) << "the program ended";
    unlink(root.path(LOCK).c_str());
    ASSERT_TRUE(wait_for_pause(sim, 3, cw));
    EXPECT_EQ(sim.dialogues(), 1);
    cw.signal(SIGTERM);
    run_result r;
    ASSERT_TRUE(cw.wait(r, 5s));
    EXPECT_EQ(root.calls(), "4dhcp.sh wwan0\n");
}

TEST_F(EndToEnd, LocksThatAreNotProvenStaleAreWaitedForAndLeftAlone)
{
    const std::vector<std::string> contents = {
        "", "someone else's\n", std::to_string(getpid()) + "\n",
        "     " + std::to_string(getpid()) + "\n", std::to_string(dead_pid()) + " 1\n"};
    std::vector<std::unique_ptr<one_link>> links;
    for (const std::string& text : contents)
        links.push_back(std::make_unique<one_link>(HEALTHY, std::vector<std::string>{"generic", "wwan0"},
                                                   [&](sandbox_root& r) { write_file(r.path(LOCK), text); }));
    // Watching for something that must not happen takes time: three lock polls' worth.
    std::this_thread::sleep_for(3500ms);
    for (size_t i = 0; i < links.size(); ++i) {
        one_link& l = *links[i];
        l.cw->signal(SIGTERM);
        run_result r;
        ASSERT_TRUE(l.cw->wait(r, 5s)) << contents[i];
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(l.sim.dialogues(), 0) << contents[i];
        EXPECT_EQ(read_file(l.root.path(LOCK)), contents[i]);
        EXPECT_EQ(r.err, "") << contents[i];
    }
}

// The way a lock is left behind in the field: a service manager's SIGKILL during a dialogue.
TEST_F(EndToEnd, ALockLeftByAKilledHolderIsRecoveredByTheNextRun)
{
    modem_sim sim(HEALTHY + "delay 1000\n");
    child first = start(sim);
    ASSERT_TRUE(wait_until([&] { return !sim.commands().empty(); }, 10s)) << first.err();
    std::string holder = std::to_string(first.pid());
    EXPECT_EQ(read_file(root.path(LOCK)), holder + " flock\n");
    first.signal(SIGKILL);
    run_result killed;
    ASSERT_TRUE(first.wait(killed, 5s));
    ASSERT_EQ(read_file(root.path(LOCK)), holder + " flock\n");
    // The killed holder's exclusive mode outlives it here, because the simulator keeps the tty
    // open; a person ends it as a real port's last close would.
    int tty = open(sim.port().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_EQ(ioctl(tty, TIOCNXCL), 0);
    close(tty);

    size_t heard = sim.commands().size();
    child second = start(sim);
    ASSERT_TRUE(wait_for_pause(sim, heard + 3, second)) << second.err();
    second.signal(SIGTERM);
    run_result r;
    ASSERT_TRUE(second.wait(r, 5s));
    EXPECT_EQ(r.err.rfind("/var/lock/failover was left by process " + holder +
                              ", which no longer exists; removed\n", 0), 0u) << r.err;
    EXPECT_EQ(root.calls(), "4dhcp.sh wwan0\n");
    EXPECT_FALSE(file_exists(root.path(LOCK)));
}

// Someone removed the lock by hand during the dialogue and another process took it: its lock
// must outlive this program's release.
TEST_F(EndToEnd, ReleaseLeavesALockThatIsNoLongerOurs)
{
    modem_sim sim(HEALTHY + "delay 1000\n");
    child cw = start(sim);
    ASSERT_TRUE(wait_until([&] { return !sim.commands().empty(); }, 10s)) << cw.err();
    const std::string taken = std::to_string(getpid()) + "\n";
    ASSERT_EQ(unlink(root.path(LOCK).c_str()), 0);
    write_file(root.path(LOCK), taken);
    ASSERT_TRUE(wait_until([&] { return sim.commands().size() >= 3 && sleeping(cw.pid()); }, 15s));
    ASSERT_TRUE(sim.wait_answered(3));
    // The release came and went: a second's poll of a lock that stays.
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(read_file(root.path(LOCK)), taken);
    cw.signal(SIGTERM);
    run_result r;
    ASSERT_TRUE(cw.wait(r, 15s));
    EXPECT_EQ(read_file(root.path(LOCK)), taken);
    EXPECT_EQ(sim.dialogues(), 1);
}

// Whenever a holder is killed, even the instant its lock appears, the lock names it; and the
// next run recovers it. Each try's holder recovers the lock its predecessor left. The modem is
// silent, so that no holder can have finished and released its lock before the kill.
TEST_F(EndToEnd, AHolderKilledTheInstantItsLockAppearsLeavesItsId)
{
    modem_sim sim("silent on\n");
    int watch = inotify_init1(IN_CLOEXEC);
    ASSERT_GE(inotify_add_watch(watch, root.path("run/lock").c_str(), IN_CREATE), 0);
    auto lock_appears = [&] {
        alignas(inotify_event) char buf[4096];
        for (;;) {
            struct pollfd p = {watch, POLLIN, 0};
            ssize_t n = poll(&p, 1, 10000) == 1 ? read(watch, buf, sizeof buf) : -1;
            for (ssize_t at = 0; at < n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(buf + at);
                if (e->len > 0 && strcmp(e->name, "failover") == 0)
                    return true;
                at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            }
            if (n <= 0)
                return false;
        }
    };
    for (int i = 0; i < 10; ++i) {
        child holder({CELLWATCH_CHECK, sim.port(), "generic"}, &root);
        ASSERT_TRUE(lock_appears()) << holder.err();
        holder.signal(SIGKILL);
        const std::string id = std::to_string(holder.pid());
        run_result r;
        ASSERT_TRUE(holder.wait(r, 5s));
        EXPECT_EQ(read_file(root.path(LOCK)), id + " flock\n") << i;
        // A holder killed during its dialogue leaves the simulator's tty in exclusive mode.
        int tty = open(sim.port().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ioctl(tty, TIOCNXCL);
        close(tty);
    }
    close(watch);
    modem_sim healthy(HEALTHY);
    child last({CELLWATCH_CHECK, healthy.port(), "generic"}, &root);
    run_result r;
    ASSERT_TRUE(last.wait(r, 20s));
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_FALSE(file_exists(root.path(LOCK)));
}

// Ctrl-Z during a dialogue: the program stops only once the lock is released.
TEST_F(EndToEnd, ASuspensionWaitsUntilTheLockIsReleased)
{
    modem_sim sim(HEALTHY + "delay 500\n");
    // A group of its own, whose parent is in another: a stop signal to an orphaned group is dropped.
    child cw({CELLWATCH, sim.port(), "generic", "wwan0"}, &root, [] { setpgid(0, 0); });
    ASSERT_TRUE(wait_until([&] { return !sim.commands().empty(); }, 10s)) << cw.err();
    cw.signal(SIGTSTP);
    std::string stat_path = "/proc/" + std::to_string(cw.pid()) + "/stat";
    auto stopped = [&] { return read_file(stat_path).find(") T ") != std::string::npos; };
    ASSERT_TRUE(wait_until(stopped, 10s)) << "the suspension was lost";
    EXPECT_FALSE(file_exists(root.path(LOCK))) << "suspended holding the lock";
    EXPECT_EQ(sim.commands().size(), 3u) << "the whole dialogue came first";
    cw.signal(SIGCONT);
    ASSERT_TRUE(wait_for_pause(sim, 3, cw));
    cw.signal(SIGTERM);
    run_result r;
    ASSERT_TRUE(cw.wait(r, 15s));
    EXPECT_EQ(r.status, 0);
}

// Started under nohup, the program keeps SIGHUP ignored: a logout does not end it.
TEST_F(EndToEnd, UnderNohupAHangUpIsIgnored)
{
    if (emulated())
        GTEST_SKIP() << QEMU_OWN_DISPOSITIONS;
    modem_sim sim(HEALTHY);
    child cw({CELLWATCH, sim.port(), "generic", "wwan0"}, &root, [] { signal(SIGHUP, SIG_IGN); });
    ASSERT_TRUE(wait_for_pause(sim, 3, cw)) << cw.err();
    std::string status = read_file("/proc/" + std::to_string(cw.pid()) + "/status");
    size_t at = status.find("SigIgn:\t");
    ASSERT_NE(at, std::string::npos);
    unsigned long long ignored = std::stoull(status.substr(at + 8, 16), nullptr, 16);
    EXPECT_EQ(ignored & (1ull << (SIGHUP - 1)), 1ull << (SIGHUP - 1)) << status.substr(at, 26);
    cw.signal(SIGTERM);
    run_result r;
    ASSERT_TRUE(cw.wait(r, 5s));
    EXPECT_EQ(r.status, 0);
}

TEST_F(EndToEnd, HangUpEndsTheRunInTheOrderlyWay)
{
    open_event_pipe();
    write_file(root.path("run/dhcp.wwan0.pid"), std::to_string(dead_pid()) + "\n");
    modem_sim sim(HEALTHY);
    child cw = start(sim);
    ASSERT_TRUE(wait_for_pause(sim, 3, cw)) << cw.err();
    cw.signal(SIGHUP);
    run_result r;
    ASSERT_TRUE(cw.wait(r, 5s));
    EXPECT_EQ(r.status, 0) << "ended by the signal itself";
    EXPECT_EQ(root.calls(), "4dhcp.sh wwan0\nifconfig wwan0 0.0.0.0 down\n");
    EXPECT_TRUE(pipe_reads().empty()) << "a stop must not ask for failover";
}

TEST_F(EndToEnd, ThreeModemFailuresInARowReachTheThreshold)
{
    open_event_pipe();
    modem_sim sim("answer AT+CGATT? \\r\\n+CME ERROR: 100\\r\\n\n");
    child cw = start(sim);
    run_result r;
    ASSERT_TRUE(cw.wait(r, 60s));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(sim.dialogues(), 3);
    EXPECT_EQ(r.err, repeat_text("READ AT\r\r\nOK\r\n", 3)) << "error answers print nothing";
    EXPECT_EQ(pipe_reads(), std::vector<std::string>{REQUEST});
}

int64_t us_of_day(std::chrono::system_clock::time_point when)
{
    time_t t = std::chrono::system_clock::to_time_t(when);
    struct tm tm;
    localtime_r(&t, &tm);
    int64_t us = std::chrono::duration_cast<std::chrono::microseconds>(when.time_since_epoch()).count() %
              1000000;
    return ((tm.tm_hour * int64_t{60} + tm.tm_min) * 60 + tm.tm_sec) * 1000000 + us;
}

// Records when the lock file under `dir` goes away, in microseconds of the day as modemsim logs.
class lock_releases {
public:
    explicit lock_releases(const std::string& dir)
        : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)),
          watch_(inotify_add_watch(fd_, dir.c_str(), IN_DELETE)), thread_([this] { run(); })
    {
    }
    ~lock_releases()
    {
        stop_ = true;
        thread_.join();
        close(fd_);
    }
    bool watching() const { return watch_ >= 0; }
    std::vector<int64_t> times()
    {
        std::lock_guard<std::mutex> hold(mutex_);
        return times_;
    }

private:
    void run()
    {
        alignas(struct inotify_event) char buf[4096];
        while (!stop_) {
            struct pollfd p = {fd_, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0)
                continue;
            int64_t now = us_of_day(std::chrono::system_clock::now());
            ssize_t n = read(fd_, buf, sizeof buf);
            for (ssize_t at = 0; at < n;) {
                auto* e = reinterpret_cast<struct inotify_event*>(buf + at);
                if (e->len > 0 && std::string(e->name) == "failover") {
                    std::lock_guard<std::mutex> hold(mutex_);
                    times_.push_back(now);
                }
                at += static_cast<ssize_t>(sizeof *e + e->len);
            }
        }
    }
    int fd_;
    int watch_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<int64_t> times_;
    std::thread thread_;
};

// Each dialogue's span in microseconds of the day: from the first command received to the
// logging of the next-to-last piece written. The simulator logs a piece only after writing it,
// so the last piece's time may come after the program has read it and let the lock go; with the
// final OK split in two pieces 30 ms apart, the piece before it is surely logged before the
// program has its whole answer.
std::vector<std::pair<int64_t, int64_t>> dialogue_spans(const std::string& log)
{
    std::vector<std::pair<int64_t, int64_t>> spans;
    int64_t previous_piece = -1;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) {
        int h = 0, m = 0, s = 0;
        long us = 0; // below a million: fits any long
        char what[4] = {};
        if (sscanf(line.c_str(), "%d:%d:%d.%ld %3s", &h, &m, &s, &us, what) != 5)
            continue;
        int64_t t = ((h * int64_t{60} + m) * 60 + s) * 1000000 + us;
        if (line.find(" -- dialogue ") != std::string::npos) {
            spans.push_back({-1, -1});
            previous_piece = -1;
        } else if (std::string(what) == "<-" && !spans.empty() && spans.back().first < 0) {
            spans.back().first = t;
        } else if (std::string(what) == "->" && !spans.empty()) {
            spans.back().second = previous_piece;
            previous_piece = t;
        }
    }
    return spans;
}

// Each dialogue's span extended to the lock's release that follows its first command, which must
// come after the span's end: the lock is held for the whole dialogue.
void extend_to_release(std::vector<std::pair<int64_t, int64_t>>& spans, const std::vector<int64_t>& releases)
{
    for (auto& [first, last] : spans) {
        auto release = std::lower_bound(releases.begin(), releases.end(), first);
        ASSERT_NE(release, releases.end()) << "no release after the dialogue at " << first;
        EXPECT_GE(*release, last) << "the lock was released before the last answer";
        last = *release;
    }
}

// They start on a stale lock, which both find: only one may remove it.
TEST_F(EndToEnd, TwoLinksShareTheLockAndNeverTalkAtOnce)
{
    const std::string stale = std::to_string(dead_pid());
    write_file(root.path(LOCK), "  " + stale + "\n");
    lock_releases releases(root.path("run/lock"));
    ASSERT_TRUE(releases.watching());
    modem_sim first(HEALTHY + "split 30\n", root.path("modem1"));
    modem_sim second("family marvell\nattach 1\nipv4 10.99.0.1\nsplit 30\n", root.path("modem2"));
    child a({CELLWATCH, root.path("modem1"), "generic", "wwan0"}, &root);
    child b({CELLWATCH, root.path("modem2"), "marvell", "wwan1"}, &root);
    ASSERT_TRUE(wait_until([&] { return first.dialogues() >= 3 && second.dialogues() >= 3; }, 60s));
    a.signal(SIGTERM);
    b.signal(SIGTERM);
    run_result ra, rb;
    // A signal outside the 10-second pause is acted on after it: at most one more cycle.
    ASSERT_TRUE(a.wait(ra, 20s));
    ASSERT_TRUE(b.wait(rb, 20s));
    auto spans_a = dialogue_spans(first.log());
    auto spans_b = dialogue_spans(second.log());
    // The first removal is the stale lock's: no lock can be taken before it goes. It is no
    // dialogue's release, and as the watcher stamps a removal when it reads it, a late read could
    // put it inside the first dialogue.
    std::vector<int64_t> released = releases.times();
    ASSERT_FALSE(released.empty());
    released.erase(released.begin());
    extend_to_release(spans_a, released);
    extend_to_release(spans_b, released);
    for (auto [a0, a1] : spans_a)
        for (auto [b0, b1] : spans_b)
            EXPECT_FALSE(a0 <= b1 && b0 <= a1)
                << "dialogues overlap: [" << a0 << "," << a1 << "] and [" << b0 << "," << b1 << "]";
    EXPECT_EQ(count_of(ra.err + rb.err, "was left by process " + stale + ","), 1u)
        << ra.err << rb.err;
    std::string calls = root.calls();
    EXPECT_EQ(count_of(calls, "4dhcp.sh wwan0\n"), 1u) << calls;
    EXPECT_EQ(count_of(calls, "4dhcp.sh wwan1\n"), 1u) << calls;
}

} // namespace
