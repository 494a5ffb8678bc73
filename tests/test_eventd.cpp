// cellwatch-eventd against real writers on its real FIFO, in a sandbox over /run and
// /opt/vordane/bin whose failover.sh only records its arguments.
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "support.h"

namespace {

using namespace std::chrono_literals;

using EventDaemon = sandboxed_test;

struct daemon_run {
    sandbox_root root;
    std::unique_ptr<child> d;
    std::string pipe = root.path("run/.neventpipe");

    daemon_run() { d = std::make_unique<child>(std::vector<std::string>{CELLWATCH_EVENTD}, &root); }

    bool serving()
    {
        return wait_until([&] { return d->err().find("serving") != std::string::npos; }, 20s);
    }

    // Writes `text` in one call, as a writer of one request does, and closes.
    void send(const std::string& text) const
    {
        int fd = open(pipe.c_str(), O_WRONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
        close(fd);
    }

    size_t runs() const { return count_of(root.calls(), "failover.sh "); }

    run_result stop()
    {
        run_result r;
        d->signal(SIGTERM);
        d->wait(r, 20s);
        return r;
    }
};

std::string request(const std::string& iface)
{
    return "exec /opt/vordane/bin/failover.sh " + iface + "\n";
}

TEST_F(EventDaemon, RunsTheScriptForEachRequestAndNothingForAnyOtherLine)
{
    daemon_run run;
    ASSERT_TRUE(run.serving()) << run.d->err();
    struct stat st;
    ASSERT_EQ(lstat(run.pipe.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    const std::string bad[] = {
        "exec /bin/sh wwan0\n",                                  // another path
        "reboot\n",                                              // another command
        "exec /opt/vordane/bin/failover.sh wwan0 wwan1\n",       // extra words
        "exec /opt/vordane/bin/failover.sh wwan0;reboot\n",      // a name cellwatch refuses
        "exec /opt/vordane/bin/failover.sh -a\n",
        "exec /opt/vordane/bin/failover.sh wwan0123456789012\n", // 16 characters
        "exec /opt/vordane/bin/failover.sh \n",
        "exec /opt/vordane/bin/failover.sh " + std::string(120, 'w') + "\n", // over 128 bytes
        std::string("exec /opt/vordane/bin/failover.sh ww\0an0\n", 41),      // a NUL byte
        "exec /opt/vordane/bin/failover.sh wwan9",              // no line feed at the close
    };
    run.send(request("wwan0"));
    for (const std::string& line : bad)
        run.send(line);
    run.send(request("wwan1") + request("wwan.2_x-"));
    ASSERT_TRUE(wait_until([&] { return run.runs() == 3; }, 20s)) << run.root.calls() << run.d->err();
    run_result r = run.stop();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(run.root.calls(), "failover.sh wwan0\nfailover.sh wwan1\nfailover.sh wwan.2_x-\n");
    std::string err = run.d->err();
    EXPECT_EQ(count_of(err, "cellwatch-eventd: rejected "), std::size(bad)) << err;
    EXPECT_EQ(count_of(err, "\n"), std::size(bad) + 4) << "serving, three runs, the rejections";
    EXPECT_TRUE(file_exists(run.pipe)) << "the pipe stays for the next start";
}

// 8 writers at once, 1,250 lines each, one write per line: every valid request runs exactly
// once, the rest runs nothing and fills no log, and the daemon keeps serving with the
// descriptors it had.
TEST_F(EventDaemon, FloodFromEightWritersLosesNoRequestAndLeavesNothingBehind)
{
    daemon_run run;
    ASSERT_TRUE(run.serving()) << run.d->err();
    size_t descriptors = open_descriptors(run.d->pid());
    constexpr int WRITERS = 8;
    constexpr int LINES = 1250;
    constexpr int VALID_EVERY = 25;
    std::vector<std::thread> writers;
    for (int w = 0; w < WRITERS; ++w) {
        writers.emplace_back([&run, w] {
            int fd = open(run.pipe.c_str(), O_WRONLY | O_CLOEXEC);
            for (int i = 0; i < LINES; ++i) {
                std::string line = i % VALID_EVERY == 0
                                       ? request("w" + std::to_string(w) + "n" + std::to_string(i))
                                       : "exec /opt/vordane/bin/failover.sh w" + std::to_string(i) +
                                             " junk\n";
                ssize_t n = write(fd, line.data(), line.size());
                (void)n;
            }
            close(fd);
        });
    }
    for (std::thread& t : writers)
        t.join();
    constexpr size_t VALID = WRITERS * LINES / VALID_EVERY;
    ASSERT_TRUE(wait_until([&] { return run.runs() >= VALID; }, 90s)) << run.runs();
    run.send(request("wwan0"));
    ASSERT_TRUE(wait_until([&] { return run.runs() == VALID + 1; }, 20s)) << "still serving";
    // Flat: back to what it had, once a pipe opened again has replaced the one it had open.
    EXPECT_TRUE(wait_until([&] { return open_descriptors(run.d->pid()) == descriptors; }, 10s))
        << open_descriptors(run.d->pid()) << " descriptors, " << descriptors << " before";
    run_result r = run.stop();
    EXPECT_EQ(r.status, 0);
    std::string calls = run.root.calls();
    for (int w = 0; w < WRITERS; ++w)
        for (int i = 0; i < LINES; i += VALID_EVERY) {
            std::string line = "failover.sh w" + std::to_string(w) + "n" + std::to_string(i) + "\n";
            ASSERT_EQ(count_of(calls, line), 1u) << line;
        }
    std::string err = run.d->err();
    EXPECT_EQ(count_of(err, "rejected \""), 10u);
    char untold[64];
    snprintf(untold, sizeof untold, "cellwatch-eventd: %zu more lines rejected\n",
             WRITERS * LINES - VALID - 10);
    EXPECT_EQ(count_of(err, untold), 1u) << err.substr(err.size() > 2000 ? err.size() - 2000 : 0);
}

TEST_F(EventDaemon, AnythingButAFifoAtThePipesPathIsLeftAloneAndEndsTheStart)
{
    struct kind {
        const char* name;
        std::function<void(const std::string&)> make;
    };
    const kind kinds[] = {
        {"a regular file", [](const std::string& p) { write_file(p, "keep\n"); }},
        {"a directory", [](const std::string& p) { mkdir(p.c_str(), 0700); }},
        {"a symbolic link", [](const std::string& p) { ASSERT_EQ(symlink("/dev/null", p.c_str()), 0); }},
    };
    for (const kind& k : kinds) {
        sandbox_root root;
        std::string path = root.path("run/.neventpipe");
        k.make(path);
        child d({CELLWATCH_EVENTD}, &root);
        run_result r;
        ASSERT_TRUE(d.wait(r, 20s)) << k.name;
        EXPECT_EQ(r.status, 1) << k.name;
        EXPECT_EQ(d.err(), std::string("cellwatch-eventd: /var/run/.neventpipe is ") + k.name +
                               ", not a FIFO; left alone\n");
        struct stat st;
        ASSERT_EQ(lstat(path.c_str(), &st), 0);
        EXPECT_FALSE(S_ISFIFO(st.st_mode)) << k.name;
        if (S_ISREG(st.st_mode)) {
            EXPECT_EQ(read_file(path), "keep\n");
        }
    }
}

// The daemon keeps the house rules of cellwatch: a whole life, a request run and a line
// rejected, without a single heap allocation.
TEST_F(EventDaemon, ServesWithoutTheHeap)
{
    std::string refusal = valgrind_refusal();
    if (!refusal.empty())
        GTEST_SKIP() << refusal;
    sandbox_root root;
    std::string log = root.path("valgrind.log");
    std::vector<std::string> argv = under_valgrind(CELLWATCH_EVENTD, log);
    argv.push_back(CELLWATCH_EVENTD);
    child d(argv, &root);
    ASSERT_TRUE(wait_until([&] { return d.err().find("serving") != std::string::npos; }, 60s));
    std::string pipe = root.path("run/.neventpipe");
    for (const std::string& line : {request("wwan0"), std::string("reboot\n")}) {
        int fd = open(pipe.c_str(), O_WRONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(write(fd, line.data(), line.size()), static_cast<ssize_t>(line.size()));
        close(fd);
    }
    ASSERT_TRUE(wait_until([&] { return d.err().find("rejected") != std::string::npos; }, 60s));
    EXPECT_EQ(root.calls(), "failover.sh wwan0\n");
    d.signal(SIGTERM);
    run_result r;
    ASSERT_TRUE(d.wait(r, 60s));
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(heap_untouched(read_file(log))) << read_file(log);
}

} // namespace
