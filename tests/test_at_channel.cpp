// The command channel over a pty: the echo, send failures, and how answers are collected.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

#include "modem/at_channel.h"
#include "support.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

void send_to_port(const pty_pair& pty, const std::string& bytes)
{
    ASSERT_EQ(write(pty.master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

TEST(ReadResponse, AnswerInOnePiece)
{
    pty_pair pty;
    send_to_port(pty, "\r\nOK\r\n");
    fd_capture err(2);
    EXPECT_EQ(read_response(pty.slave), 6);
    EXPECT_STREQ(resp_buf, "\r\nOK\r\n");
    EXPECT_EQ(err.text(), "READ \r\nOK\r\n");
}

TEST(ReadResponse, AnswerInTwoPiecesCollectsBoth)
{
    pty_pair pty;
    std::thread modem([&] {
        send_to_port(pty, "\r\n+CGATT: 1\r\n\r\nO");
        std::this_thread::sleep_for(milliseconds(200));
        send_to_port(pty, "K\r\n");
    });
    fd_capture err(2);
    int count = read_response(pty.slave);
    modem.join();
    EXPECT_EQ(count, 19);
    EXPECT_STREQ(resp_buf, "\r\n+CGATT: 1\r\n\r\nOK\r\n");
    EXPECT_EQ(err.text(), std::string("READ ") + resp_buf);
}

TEST(ReadResponse, ErrorAnswersReturnMinusOneWithoutReadLine)
{
    for (const char* answer : {"\r\n+CME ERROR: 10\r\n", "\r\nERROR\r\n"}) {
        pty_pair pty;
        send_to_port(pty, answer);
        fd_capture err(2);
        EXPECT_EQ(read_response(pty.slave), -1) << answer;
        EXPECT_STREQ(resp_buf, answer);
        EXPECT_EQ(err.text(), "");
    }
}

TEST(ReadResponse, OkBeforeErrorCountsAsSuccess)
{
    pty_pair pty;
    send_to_port(pty, "\r\n+CME ERROR: 3\r\n\r\nOK\r\n");
    fd_capture err(2);
    EXPECT_EQ(read_response(pty.slave), 23);
    EXPECT_EQ(err.text(), "READ \r\n+CME ERROR: 3\r\n\r\nOK\r\n");
}

TEST(ReadResponse, SilenceGivesZeroAfterTwoAndAHalfSeconds)
{
    pty_pair pty;
    fd_capture err(2);
    auto start = steady_clock::now();
    EXPECT_EQ(read_response(pty.slave), 0);
    auto waited = steady_clock::now() - start;
    EXPECT_GE(waited, milliseconds(2490)) << "the collection ended early";
    EXPECT_LE(waited, milliseconds(2800)) << "the collection ran on";
    EXPECT_EQ(err.text(), "READ ");
}

TEST(ReadResponse, MoreThanTheBufferFillsItAndStaysTerminated)
{
    pty_pair pty;
    int flags = fcntl(pty.master, F_GETFL);
    fcntl(pty.master, F_SETFL, flags | O_NONBLOCK);
    std::string flood(6000, 'x');
    ssize_t offered = write(pty.master, flood.data(), flood.size());
    ASSERT_GT(offered, static_cast<ssize_t>(RESP_CAPACITY)) << "the pty took too little";
    fd_capture err(2);
    EXPECT_EQ(read_response(pty.slave), static_cast<int>(RESP_CAPACITY));
    EXPECT_EQ(strlen(resp_buf), RESP_CAPACITY);
    EXPECT_EQ(resp_buf[RESP_CAPACITY], '\0');
}

TEST(ReadResponse, NonAsciiBytesAreCollectedAndNulHidesWhatFollows)
{
    pty_pair pty;
    send_to_port(pty, "\xff\xfe\x80 junk\r\nOK\r\n");
    EXPECT_EQ(read_response(pty.slave), 14);
    EXPECT_STREQ(resp_buf, "\xff\xfe\x80 junk\r\nOK\r\n");

    // The searches stop at the first NUL, so an "OK" behind one is not seen: the collection
    // runs its five passes and returns everything it read.
    pty_pair second;
    send_to_port(second, std::string("\r\n\0\r\nOK\r\n", 9));
    fd_capture err(2);
    EXPECT_EQ(read_response(second.slave), 9);
    EXPECT_EQ(memcmp(resp_buf, "\r\n\0\r\nOK\r\n", 9), 0);
    EXPECT_EQ(err.text(), "READ \r\n");
}

TEST(SendCmd, EchoesTheCommandToDescriptorZeroAndSendsItUnchanged)
{
    pty_pair pty;
    fd_capture echo(0);
    const char command[] = "AT%CMATT?\r";
    EXPECT_EQ(SendCmd(pty.slave, command), 0);
    EXPECT_EQ(echo.text(), command);
    char got[64] = {};
    ASSERT_TRUE(wait_until([&] { return read(pty.master, got, sizeof got - 1) > 0; },
                           milliseconds(1000)));
    EXPECT_STREQ(got, command);
}

TEST(SendCmd, FailedWriteReportsErrnoAndReturnsMinusOne)
{
    int read_only = open("/dev/null", O_RDONLY);
    fd_capture err(2);
    EXPECT_EQ(SendCmd(read_only, "AT\r"), -1);
    EXPECT_EQ(err.text(), "SendCmd error. 9-Bad file descriptor\n");
    close(read_only);

    pty_pair unplugged;
    unplugged.close_master();
    fd_capture err2(2);
    EXPECT_EQ(SendCmd(unplugged.slave, "AT\r"), -1);
    EXPECT_EQ(err2.text(), "SendCmd error. 5-Input/output error\n");
}

} // namespace
