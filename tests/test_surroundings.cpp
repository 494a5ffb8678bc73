// What the program's surroundings may do to it: a parent's odd descriptors and signal state, log
// readers and an event daemon that go away, pid files that name no process, a PORT that is no
// modem, and a modem that stops taking output. Each case runs the real binary in a sandbox of
// its own, so the cases of one test run at once.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <iterator>
#include <memory>
#include <sched.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "support.h"

namespace {

using namespace std::chrono_literals;
using strings = std::vector<std::string>;

using Surroundings = sandboxed_test;

const std::string HEALTHY_TEXT = "ipv4 10.64.2.17\n";
// EBUSY's number and its text, as either C library words it.
bool one_busy_line(const std::string& err)
{
    const std::string busy = std::to_string(EBUSY);
    return err == busy + "(Device or resource busy)\n" || err == busy + "(Resource busy)\n";
}

// A DHCP script that also records the signal state it was started with.
void recording_dhcp_script(sandbox_root& root)
{
    write_file(root.path("bin/4dhcp.sh"),
               "#!/bin/sh\necho \"4dhcp.sh $*\" >> '" + root.path("calls.log") +
                   "'\nexec grep -E '^Sig(Blk|Ign)' /proc/self/status >> '" + root.path("signals.log") +
                   "'\n", 0755);
}

void pipe_without_reader(int fd)
{
    int ends[2];
    if (pipe(ends) != 0)
        _exit(125);
    close(ends[0]);
    dup2(ends[1], fd);
    close(ends[1]);
}

struct inherited_case {
    const char* name;
    std::function<void()> prepare;
    const char* ignored = "0000000000000000"; // the script's SigIgn
};

TEST_F(Surroundings, InheritedStateReachesNeitherTheModemNorTheScripts)
{
    const inherited_case cases[] = {
        {"descriptor 0 closed", [] { close(0); }},
        {"descriptor 1 closed", [] { close(1); }},
        {"descriptor 2 closed", [] { close(2); }},
        {"SIGCHLD ignored", [] { signal(SIGCHLD, SIG_IGN); }},
        {"every signal blocked, some ignored", [] {
             signal(SIGUSR1, SIG_IGN);
             signal(SIGPIPE, SIG_IGN);
             sigset_t all;
             sigfillset(&all);
             sigprocmask(SIG_BLOCK, &all, nullptr);
         }},
        // nohup: the hang-up stays ignored, by the run and by the commands it starts.
        {"SIGHUP ignored", [] { signal(SIGHUP, SIG_IGN); }, "0000000000000001"},
        {"log readers gone", [] {
             pipe_without_reader(1);
             pipe_without_reader(2);
         }},
        {"port above descriptor 1023", [] {
             struct rlimit lim = {2048, 2048};
             setrlimit(RLIMIT_NOFILE, &lim);
             for (int fd = 3; fd < 1100; ++fd)
                 dup2(0, fd);
         }},
    };
    // The second address query comes after the first address line is printed: a stdout that is
    // the port would put that line in front of it.
    const std::string scenario = "family marvell\ncid 5\nipv4 10.77.0.5\n";
    std::vector<std::unique_ptr<one_link>> links;
    for (const inherited_case& c : cases)
        links.push_back(std::make_unique<one_link>(scenario, strings{"marvell", "wwan0"},
                                                   recording_dhcp_script, c.prepare));
    for (size_t i = 0; i < links.size(); ++i) {
        const char* name = cases[i].name;
        one_link& l = *links[i];
        run_result r = l.stop_in_pause(4);
        EXPECT_EQ(r.status, 0) << name << ": " << r.err;
        EXPECT_EQ(l.sim.commands(), (strings{"AT", "AT+CGATT?", "AT*GETIP=1", "AT*GETIP=5"}))
            << name;
        EXPECT_EQ(l.root.calls(), "4dhcp.sh wwan0\n") << name;
        std::string ignored = cases[i].ignored;
        if (emulated() && ignored != "0000000000000000")
            ignored = "0000000000000000"; // QEMU_OWN_DISPOSITIONS
        EXPECT_EQ(read_file(l.root.path("signals.log")),
                  "SigBlk:\t0000000000000000\nSigIgn:\t" + ignored + "\n")
            << name;
        EXPECT_EQ(count_of(r.err, "Fail to system"), 0u) << name;
        EXPECT_FALSE(file_exists(l.root.path("run/lock/failover"))) << name;
    }
}

TEST_F(Surroundings, StopSignalDuringTheDhcpScriptIsKept)
{
    auto slow_script = [](sandbox_root& root) {
        write_file(root.path("bin/4dhcp.sh"),
                   "#!/bin/sh\necho started >> '" + root.path("calls.log") + "'\nsleep 1\n", 0755);
    };
    const int signals[] = {SIGINT, SIGTERM};
    std::vector<std::unique_ptr<one_link>> links;
    for (size_t i = 0; i < std::size(signals); ++i)
        links.push_back(std::make_unique<one_link>("ipv4 10.64.2.17\n",
                                                   strings{"generic", "wwan0"}, slow_script));
    for (size_t i = 0; i < links.size(); ++i) {
        one_link& l = *links[i];
        ASSERT_TRUE(wait_until([&] { return l.root.calls() == "started\n"; }, 10s));
        l.cw->signal(signals[i]);
    }
    for (size_t i = 0; i < links.size(); ++i) {
        run_result r;
        // The script's second, then the cycle's 10-second pause, then the stop.
        EXPECT_TRUE(links[i]->cw->wait(r, 15s)) << strsignal(signals[i]) << " was lost";
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(links[i]->sim.dialogues(), 1) << strsignal(signals[i]);
    }
}

TEST_F(Surroundings, EventDaemonGoneDuringTheWriteGivesEpipeAndStatusZero)
{
    // A pipe that the daemon has let fill up holds the request's write; the daemon then goes
    // away, as one that closes its end between the program's open and its write does.
    sandbox_root root;
    std::string fifo = root.path("run/.neventpipe");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    int daemon = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    int filler = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(daemon, 0);
    ASSERT_GE(filler, 0);
    const std::string block(4096, 'x');
    while (write(filler, block.data(), block.size()) > 0) {
    }
    close(filler);
    modem_sim sim("attach 2\n");
    child cw({CELLWATCH, sim.port(), "generic", "wwan0"}, &root);
    ASSERT_TRUE(wait_until([&] {
        return read_file("/proc/" + std::to_string(cw.pid()) + "/wchan").find("pipe_write") !=
               std::string::npos;
    }, 20s)) << cw.err();
    close(daemon);
    run_result r;
    ASSERT_TRUE(cw.wait(r, 10s));
    EXPECT_EQ(r.status, 0) << "killed by SIGPIPE?";
    const std::string tail = "cm_run_failover Could not write whole message to FIFO! 32 "
                             "(Broken pipe)";
    ASSERT_GE(r.err.size(), tail.size()) << r.err;
    EXPECT_EQ(r.err.substr(r.err.size() - tail.size()), tail);
}

// Runs the program as process 2 of a PID namespace and a session of its own, whose process 1
// records every signal that reaches it in `marker`: there a pid of -1 reaches only the namespace,
// 0 only the session's group, and 1 the recording process.
std::function<void()> in_own_pid_namespace(const std::string& marker)
{
    return [marker] {
        static int marker_fd = -1;
        if (setsid() < 0)
            _exit(123);
        marker_fd = open(marker.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (unshare(CLONE_NEWPID) != 0)
            _exit(124);
        pid_t init = fork();
        if (init > 0) {
            int status = 0;
            waitpid(init, &status, 0);
            _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
        }
        struct sigaction act = {};
        act.sa_handler = [](int) { (void)!write(marker_fd, "signalled\n", 10); };
        for (int signo : {SIGTERM, SIGINT, SIGHUP})
            sigaction(signo, &act, nullptr);
        pid_t program = fork();
        if (program == 0)
            return; // on to the exec, as process 2
        int status = 0;
        while (waitpid(program, &status, 0) < 0 && errno == EINTR) {
        }
        _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    };
}

TEST_F(Surroundings, PidFilesThatHoldNoSingleProcessIdAreNotActedOn)
{
    const strings contents = {"-9 -1\n", "0\n", "1\n", "", "12 34\n", "4294967298\n", "7x\n",
                              " 12\n", "3" + std::string(60, ' ') + "\n"};
    temp_dir markers;
    std::vector<std::unique_ptr<one_link>> links;
    for (size_t i = 0; i < contents.size(); ++i) {
        std::string text = contents[i];
        auto plant = [text](sandbox_root& root) { write_file(root.path("run/dhcp.wwan0.pid"), text); };
        links.push_back(std::make_unique<one_link>(
            "attach 2\n", strings{"generic", "wwan0"}, plant,
            in_own_pid_namespace(markers.path + "/" + std::to_string(i))));
    }
    for (size_t i = 0; i < links.size(); ++i) {
        const std::string& text = contents[i];
        run_result r;
        ASSERT_TRUE(links[i]->cw->wait(r, 20s)) << text;
        EXPECT_EQ(r.status, 0) << "pid file \"" << text << "\": " << r.err;
        EXPECT_EQ(read_file(markers.path + "/" + std::to_string(i)), "") << text;
        EXPECT_EQ(links[i]->root.calls(), "ifconfig wwan0 0.0.0.0 down\n") << text;
        EXPECT_EQ(count_of(r.err, "/var/run/dhcp.wwan0.pid does not hold one process id above 1; "
                                  "its DHCP client is not stopped\n"), 1u) << r.err;
    }
}

// With five descriptors, three standard and one the port's claim, a command's exec report has
// no pair of descriptors: the teardown's command runs all the same, and the DHCP client is
// stopped.
TEST_F(Surroundings, TeardownCommandsRunAtTheLowestDescriptorLimit)
{
    if (emulated())
        GTEST_SKIP() << "qemu-user needs descriptors of its own within the limit; the native and "
                        "musl runs check it";
    pid_t client = fork();
    if (client == 0) {
        pause();
        _exit(0);
    }
    ASSERT_GT(client, 0);
    struct reaper {
        pid_t pid;
        ~reaper()
        {
            if (pid > 0 && kill(pid, SIGKILL) == 0)
                waitpid(pid, nullptr, 0);
        }
    } reap{client};
    // No shell script can stand in for ifconfig here (a shell moves a script's descriptor above
    // 9, which the limit refuses): mkdir does, leaving a directory for each word it is given.
    auto cwd = std::make_shared<std::string>();
    auto plant = [client, cwd](sandbox_root& root) {
        write_file(root.path("run/dhcp.wwan0.pid"), std::to_string(client) + "\n");
        write_file(root.path("ifconfig"), read_file("/bin/mkdir"), 0755);
        *cwd = root.path("cwd");
        mkdir(cwd->c_str(), 0755);
    };
    // Only the standard descriptors are left: a test runner may hand down more.
    auto five_descriptors = [cwd] {
        for (int fd = 3; fd < 1024; ++fd)
            close(fd);
        struct rlimit few = {5, 5};
        if (chdir(cwd->c_str()) != 0 || setrlimit(RLIMIT_NOFILE, &few) != 0)
            _exit(125);
    };
    one_link link(HEALTHY_TEXT, strings{"generic", "wwan0"}, plant, five_descriptors);
    // EMFILE at the port's open: its number, since its text is the C library's.
    const std::string no_port = std::to_string(EMFILE) + "(";
    ASSERT_TRUE(wait_until([&] { return link.cw->err().find(no_port) != std::string::npos; }, 20s))
        << link.cw->err();
    link.cw->signal(SIGTERM);
    run_result r;
    ASSERT_TRUE(link.cw->wait(r, 20s));
    int status = 0;
    bool ended = wait_until([&] { return waitpid(client, &status, WNOHANG) == client; }, 10s);
    if (!ended)
        kill(client, SIGKILL);
    EXPECT_TRUE(ended && WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    if (ended)
        reap.pid = -1;
    for (const char* word : {"wwan0", "0.0.0.0", "down"})
        EXPECT_TRUE(file_exists(*cwd + "/" + word)) << word << ": " << r.err;
}

// Run by hand in a terminal's foreground, with output stopped for background groups (stty
// tostop): the DHCP script writes to the terminal and is not stopped, because its process group
// has the foreground while it runs.
TEST_F(Surroundings, ScriptRunByHandInATerminalIsNotStoppedByIt)
{
    pty_pair terminal;
    auto plant = [](sandbox_root& root) {
        write_file(root.path("bin/4dhcp.sh"),
                   "#!/bin/sh\necho starting the DHCP client > /dev/tty\necho \"4dhcp.sh $*\" >> '" +
                       root.path("calls.log") + "'\n", 0755);
    };
    std::string tty = terminal.slave_path;
    auto in_the_foreground = [tty] {
        setsid();
        int fd = open(tty.c_str(), O_RDWR); // the session's controlling terminal
        struct termios tio;
        if (fd < 0 || tcgetattr(fd, &tio) != 0)
            _exit(125);
        tio.c_lflag |= TOSTOP;
        tcsetattr(fd, TCSANOW, &tio);
        dup2(fd, 0);
        close(fd);
    };
    one_link link(HEALTHY_TEXT, strings{"generic", "wwan0"}, plant, in_the_foreground);
    EXPECT_TRUE(wait_until([&] { return link.root.calls() == "4dhcp.sh wwan0\n"; }, 20s))
        << "the script was stopped: " << link.cw->err();
    link.cw->signal(SIGTERM);
    run_result r;
    ASSERT_TRUE(link.cw->wait(r, 30s));
    EXPECT_EQ(r.status, 0);
}

// A second cellwatch for a port that one supervises, by the same path or another, in the same
// PID namespace or its own, refuses to start: one line, status 1, nothing else done; the first
// goes on. Whose claim it is can be told only where that process can be seen.
TEST_F(Surroundings, ASecondCellwatchForTheSamePortRefusesToStart)
{
    one_link first(HEALTHY_TEXT, strings{"generic", "wwan0"});
    ASSERT_TRUE(wait_until([&] { return first.sim.dialogues() >= 1; }, 20s));
    std::string other_path = first.root.path("modem-link");
    ASSERT_EQ(symlink(first.sim.port().c_str(), other_path.c_str()), 0);
    temp_dir markers;
    struct second_case {
        std::string port;
        std::function<void()> prepare;
        std::string says;
    };
    const std::string seen = " is supervised by cellwatch process " +
                             std::to_string(first.cw->pid()) + "; not started\n";
    const second_case cases[] = {
        {first.sim.port(), nullptr, first.sim.port() + seen},
        {other_path, nullptr, other_path + seen},
        {first.sim.port(), in_own_pid_namespace(markers.path + "/ns"),
         first.sim.port() + " is supervised by another cellwatch; not started\n"},
    };
    for (const second_case& c : cases) {
        sandbox_root root;
        child second({CELLWATCH, c.port, "generic", "wwan0"}, &root, c.prepare);
        run_result r;
        ASSERT_TRUE(second.wait(r, 20s)) << c.port;
        EXPECT_EQ(r.status, 1) << c.port;
        EXPECT_EQ(r.err, c.says);
        EXPECT_EQ(r.fd0, "") << "nothing sent to the modem";
        EXPECT_EQ(root.calls(), "");
    }
    int before = first.sim.dialogues();
    EXPECT_TRUE(wait_until([&] { return first.sim.dialogues() > before; }, 20s)) << "the first stopped";
}

TEST_F(Surroundings, PortThatIsNoTerminalIsNeverWrittenTo)
{
    sandbox_root root;
    std::string file = root.path("not-a-modem"), fifo = root.path("fifo");
    write_file(file, "precious\n");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    int fifo_reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    std::vector<std::unique_ptr<child>> runs;
    for (const std::string& port : {file, fifo, std::string("/dev/null")})
        runs.push_back(std::make_unique<child>(strings{CELLWATCH, port, "generic", "wwan0"}, &root));
    // ENOTTY's number, and its text in the program's own C library, on one line.
    auto one_refusal = [](const std::string& err) {
        return err.rfind("25(", 0) == 0 && err.size() > 5 && err.substr(err.size() - 2) == ")\n" &&
               count_of(err, "\n") == 1;
    };
    for (auto& cw : runs) {
        EXPECT_TRUE(wait_until([&] { return one_refusal(cw->err()) && sleeping(cw->pid()); }, 10s))
            << cw->err();
        cw->signal(SIGTERM);
        run_result r;
        ASSERT_TRUE(cw->wait(r, 5s));
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(one_refusal(r.err)) << r.err;
        EXPECT_EQ(r.fd0, "") << "a command was sent";
    }
    EXPECT_EQ(read_file(file), "precious\n");
    char got[16];
    EXPECT_LE(read(fifo_reader, got, sizeof got), 0) << "the FIFO was written to";
    close(fifo_reader);
}

// A terminal program in which a person types to the modem holds the tty exclusively. cellwatch
// runs as root, which that mode does not stop; it must stay out all the same, and leave the mode.
TEST_F(Surroundings, PortHeldExclusivelyByAnotherProgramIsLeftAlone)
{
    if (emulated())
        GTEST_SKIP() << QEMU_NO_TIOCGEXCL;
    sandbox_root root;
    modem_sim sim(HEALTHY_TEXT);
    int session = open(sim.port().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(session, 0);
    ASSERT_EQ(ioctl(session, TIOCEXCL), 0);
    child cw({CELLWATCH, sim.port(), "generic", "wwan0"}, &root);
    ASSERT_TRUE(wait_until([&] { return one_busy_line(cw.err()) && sleeping(cw.pid()); }, 10s))
        << cw.err();
    EXPECT_TRUE(sim.commands().empty()) << "a command reached the held port";
    int excl = 0;
    EXPECT_EQ(ioctl(session, TIOCGEXCL, &excl), 0);
    EXPECT_EQ(excl, 1) << "the other program's exclusive mode was ended";
    ASSERT_EQ(ioctl(session, TIOCNXCL), 0);
    ASSERT_TRUE(in_pause(sim, 3, root, cw, 20s)) << cw.err();
    cw.signal(SIGTERM);
    run_result r;
    ASSERT_TRUE(cw.wait(r, 5s));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(root.calls(), "4dhcp.sh wwan0\n");
    close(session);
}

// A pid file is someone else's text, and may name a terminal: reading it must not make that
// terminal this program's, as an open without O_NOCTTY by a session leader does.
TEST_F(Surroundings, PidFileThatIsATerminalDoesNotBecomeTheControllingTerminal)
{
    pty_pair tty;
    one_link l("attach 2\n", {"generic", "wwan0"},
               [&](sandbox_root& root) {
                   ASSERT_EQ(symlink(tty.slave_path.c_str(), root.path("run/dhcp.wwan0.pid").c_str()), 0);
                   ASSERT_EQ(mkfifo(root.path("run/.neventpipe").c_str(), 0600), 0);
               },
               [] { setsid(); });
    std::string stat_path = "/proc/" + std::to_string(l.cw->pid()) + "/stat";
    // After the teardown the program waits for the event daemon, which has not come yet.
    ASSERT_TRUE(wait_until([&] { return l.root.calls() == "ifconfig wwan0 0.0.0.0 down\n"; }, 20s))
        << l.cw->err();
    std::string stat = read_file(stat_path);
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string state, ppid, pgrp, session, tty_nr;
    fields >> state >> ppid >> pgrp >> session >> tty_nr;
    EXPECT_EQ(tty_nr, "0") << stat;
    int daemon = open(l.root.path("run/.neventpipe").c_str(), O_RDONLY);
    run_result r;
    EXPECT_TRUE(l.cw->wait(r, 5s));
    close(daemon);
}

TEST_F(Surroundings, ModemThatTakesNoOutputTimesOutAndReleasesTheLock)
{
    // The modem answers the probe, then its firmware stops taking output: the attach query
    // cannot be written.
    auto start = std::chrono::steady_clock::now();
    one_link l("ipv4 10.64.2.17\nafter 0 dialogues\nstall on\n", {"generic", "wwan0"});
    ASSERT_TRUE(in_pause(l.sim, 1, l.root, *l.cw, 20s)) << l.cw->err();
    auto took = std::chrono::steady_clock::now() - start;
    // The 1-second pause, the send's 2.5 s and the silent collection's 2.5 s.
    EXPECT_GE(took, 5800ms);
    EXPECT_LE(took, 8500ms);
    l.cw->signal(SIGTERM);
    run_result r;
    ASSERT_TRUE(l.cw->wait(r, 5s));
    EXPECT_EQ(r.status, 0);
    // ETIMEDOUT's number; its text is the program's C library's.
    const std::string head = "READ AT\r\r\nOK\r\nSendCmd error. " + std::to_string(ETIMEDOUT) + "-";
    EXPECT_EQ(r.err.rfind(head, 0), 0u) << r.err;
    EXPECT_EQ(r.err.substr(r.err.size() - 6), "\nREAD ") << r.err;
    EXPECT_EQ(count_of(r.err, "\n"), 3u) << r.err;
    EXPECT_EQ(r.fd0, "AT\rAT+CGATT?\r");
}

} // namespace
