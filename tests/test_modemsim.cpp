// The simulator itself: scenarios do what their files say, bad files are refused clearly.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "support.h"

namespace {

bool ends_with(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Writes `command` to the simulated port and collects what comes back until it ends in a final
// result line, or `ms` pass: a test that expects silence gives a short `ms`.
std::string ask(int fd, const std::string& command, int ms = 10000)
{
    EXPECT_EQ(write(fd, command.data(), command.size()), static_cast<ssize_t>(command.size()));
    std::string got;
    char buf[512];
    wait_until([&] {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0)
            got.append(buf, static_cast<size_t>(n));
        return ends_with(got, "OK\r\n") || ends_with(got, "ERROR\r\n");
    }, std::chrono::milliseconds(ms));
    return got;
}

int open_raw(const std::string& path)
{
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    return fd;
}

TEST(Modemsim, BadScenarioNamesFileLineAndProblemWithStatusTwo)
{
    const std::pair<const char*, const char*> cases[] = {
        {"family generic\nfamily nokia\n", ":2: unknown family 'nokia'"},
        {"# fine\nattach\n", ":2: 'attach' needs 1 argument(s)"},
        {"after 3 fortnights\n", ":1: 'after' takes N dialogues, N s or N ms"},
        {"answer AT \\q\n", ":1: unknown escape \\q"},
        {"frobnicate 1\n", ":1: unknown step 'frobnicate'"},
    };
    for (const auto& [text, problem] : cases) {
        temp_dir dir;
        std::string file = dir.path + "/bad.scn";
        write_file(file, text);
        child c({MODEMSIM, file});
        run_result r;
        ASSERT_TRUE(c.wait(r, std::chrono::seconds(5)));
        EXPECT_EQ(r.status, 2) << text;
        EXPECT_EQ(r.err, "modemsim: " + file + problem + "\n");
        EXPECT_EQ(r.out, "");
    }
}

TEST(Modemsim, AnswersInTheFamilysShapesAndFollowsEchoSwitch)
{
    modem_sim sim("family ericsson\nattach 1\nipv4 10.0.0.7\n");
    int fd = open_raw(sim.port());
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ask(fd, "AT*ENAP?\r"), "AT*ENAP?\r\r\n*ENAP: 1\r\n\r\nOK\r\n");
    EXPECT_EQ(ask(fd, "ATE0\r"), "ATE0\r\r\nOK\r\n");
    EXPECT_EQ(ask(fd, "AT+CGPADDR\r"), "\r\n+CGPADDR: 1,\"10.0.0.7\"\r\n\r\nOK\r\n");
    EXPECT_EQ(ask(fd, "AT+CGATT?\r"), "\r\nERROR\r\n") << "not an Ericsson attach query";
    close(fd);
}

TEST(Modemsim, TriggersChangeTheStateAfterDialoguesAndTime)
{
    modem_sim sim("attach 1\necho off\nafter 1 dialogues\nattach 0\nafter 1500 ms\nattach 2\n");
    int fd = open_raw(sim.port());
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ask(fd, "AT+CGATT?\r"), "\r\n+CGATT: 1\r\n\r\nOK\r\n");
    ask(fd, "AT\r");  // a probe after another command starts the next dialogue
    EXPECT_EQ(ask(fd, "AT+CGATT?\r"), "\r\n+CGATT: 0\r\n\r\nOK\r\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(ask(fd, "AT+CGATT?\r"), "\r\n+CGATT: 2\r\n\r\nOK\r\n");
    close(fd);
    EXPECT_EQ(sim.dialogues(), 2);
    EXPECT_EQ(sim.commands(), (std::vector<std::string>{"AT+CGATT?", "AT", "AT+CGATT?",
                                                         "AT+CGATT?"}));
}

TEST(Modemsim, SplitsTheFinalOkAndSurvivesReopening)
{
    modem_sim sim("echo off\nsplit 200\n");
    for (int round = 0; round < 3; ++round) {
        int fd = open_raw(sim.port());
        ASSERT_GE(fd, 0);
        EXPECT_EQ(ask(fd, "AT\r"), "\r\nOK\r\n") << "round " << round;
        close(fd);
    }
    // Written as two pieces each time, the second 200 ms after the first.
    std::string log = sim.log();
    EXPECT_EQ(count_of(log, " -> \\r\\nO\n"), 3u) << log;
    EXPECT_EQ(count_of(log, " -> K\\r\\n\n"), 3u) << log;
}

TEST(Modemsim, ExitStepEndsTheSimulationAndRemovesTheLink)
{
    temp_dir dir;
    std::string link = dir.path + "/modem";
    modem_sim sim("after 200 ms\nexit\n", link);
    EXPECT_TRUE(file_exists(link));
    EXPECT_TRUE(wait_until([&] { return !file_exists(link); }, std::chrono::seconds(3)));
    EXPECT_EQ(sim.stop(), 0);
}

// The far end of a real device (a gadget's serial port in the virtual machine; a pty's slave
// here): served in place, its plug pulled by the scenario's commands instead of an answer, and
// put back, then served again, the given number of seconds later.
TEST(Modemsim, ServesAnExistingTtyAndPullsItsPlugForAWhile)
{
    temp_dir dir;
    pty_pair wire;
    fcntl(wire.master, F_SETFL, O_NONBLOCK);
    std::string scenario = dir.path + "/plug.scn";
    write_file(scenario, "echo off\non-unplug echo out >> " + dir.path + "/plug.log\n"
                         "on-replug echo in >> " + dir.path + "/plug.log\nunplug AT+CGATT? 1\n");
    child sim({MODEMSIM, "--device", wire.slave_path, scenario});
    ASSERT_TRUE(wait_until([&] { return ask(wire.master, "AT\r", 1000) == "\r\nOK\r\n"; },
                           std::chrono::seconds(10))) << sim.err();
    auto pulled = std::chrono::steady_clock::now();
    EXPECT_EQ(ask(wire.master, "AT+CGATT?\r", 300), "") << "answered instead of unplugged";
    ASSERT_TRUE(wait_until([&] { return read_file(dir.path + "/plug.log") == "out\nin\n"; },
                           std::chrono::seconds(10))) << sim.err();
    auto away = std::chrono::steady_clock::now() - pulled;
    EXPECT_GE(away, std::chrono::milliseconds(900)) << "put back before its second had passed";
    EXPECT_TRUE(wait_until([&] { return ask(wire.master, "AT\r", 1000) == "\r\nOK\r\n"; },
                           std::chrono::seconds(10))) << "not served after the replug: " << sim.err();
    sim.signal(SIGTERM);
    run_result r;
    EXPECT_TRUE(sim.wait(r, std::chrono::seconds(5)));
    EXPECT_EQ(r.out, wire.slave_path + "\n");
}

} // namespace
