// The serial port: exact raw settings while open, settings restored on close, exclusivity.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "modem/serial_port.h"
#include "support.h"

namespace {

// A cooked, slow line, unlike anything open_port sets.
struct termios cooked_settings(int fd)
{
    struct termios tio;
    tcgetattr(fd, &tio);
    tio.c_iflag = ICRNL | IXON;
    tio.c_oflag = OPOST | ONLCR;
    tio.c_lflag = ICANON | ECHO | ISIG;
    tio.c_cflag = CS7 | CREAD | PARENB | HUPCL;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 5;
    cfsetspeed(&tio, B9600);
    tcsetattr(fd, TCSANOW, &tio);
    tcgetattr(fd, &tio);
    return tio;
}

TEST(SerialPort, OpenSetsRawEightBitsAt115200)
{
    pty_pair pty;
    cooked_settings(pty.slave);
    int fd = open_port(pty.slave_path.c_str(), 115200);
    ASSERT_GE(fd, 0);
    struct termios seen;
    ASSERT_EQ(tcgetattr(pty.master, &seen), 0);
    EXPECT_EQ(seen.c_iflag, 0u);
    EXPECT_EQ(seen.c_oflag, 0u);
    EXPECT_EQ(seen.c_lflag, 0u);
    EXPECT_EQ(seen.c_cflag & ~CBAUD, static_cast<tcflag_t>(CS8 | CREAD | CLOCAL));
    EXPECT_EQ(cfgetispeed(&seen), B115200);
    EXPECT_EQ(cfgetospeed(&seen), B115200);
    EXPECT_EQ(seen.c_cc[VMIN], 0);
    EXPECT_EQ(seen.c_cc[VTIME], 0);
    EXPECT_EQ(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
    close_port(fd);
}

TEST(SerialPort, CloseRestoresEverySettingItFound)
{
    pty_pair pty;
    struct termios before = cooked_settings(pty.slave);
    int fd = open_port(pty.slave_path.c_str(), 115200);
    ASSERT_GE(fd, 0);
    close_port(fd);
    struct termios after;
    ASSERT_EQ(tcgetattr(pty.master, &after), 0);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(cfgetispeed(&after), B9600);
    EXPECT_EQ(cfgetospeed(&after), B9600);
    EXPECT_EQ(memcmp(after.c_cc, before.c_cc, sizeof after.c_cc), 0);
    EXPECT_EQ(fcntl(fd, F_GETFD), -1) << "descriptor left open";
}

// Opens `path` as 'nobody' in a child; returns 0 when that open succeeded, else its errno.
int open_as_nobody(const std::string& path)
{
    struct passwd* nobody = getpwnam("nobody");
    if (nobody == nullptr)
        return -1;
    pid_t pid = fork();
    if (pid == 0) {
        if (setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0)
            _exit(100);
        int other = open(path.c_str(), O_RDWR | O_NOCTTY);
        _exit(other < 0 ? errno : 0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(SerialPort, SecondOpenByAnotherUserFailsWithEbusyOnlyWhileOpen)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to drop to 'nobody' (root itself ignores TIOCEXCL)";
    // The pair keeps its own slave descriptor open throughout, as another process holding the
    // port would.
    pty_pair pty;
    ASSERT_EQ(chmod(pty.slave_path.c_str(), 0666), 0);
    int fd = open_port(pty.slave_path.c_str(), 115200);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(open_as_nobody(pty.slave_path), EBUSY);
    close_port(fd);
    int excl = 0;
    if (ioctl(pty.slave, TIOCGEXCL, &excl) == 0)
        EXPECT_EQ(open_as_nobody(pty.slave_path), 0) << "exclusive mode outlived the close";
    else // qemu-user: the mode cannot be asked, so it is never ended (the next test's case)
        EXPECT_EQ(open_as_nobody(pty.slave_path), EBUSY);
}

// Makes this process's TIOCGEXCL fail with EINVAL, as on a kernel that predates it. False where
// no seccomp filter can be had.
bool refuse_tiocgexcl()
{
    constexpr bool little = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
    constexpr unsigned request_low = offsetof(seccomp_data, args[1]) + (little ? 0 : 4);
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_ioctl, 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, request_low),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, TIOCGEXCL, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EINVAL),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program = {static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// Where the tty cannot say whether another program holds it exclusively, the port is used but
// the mode is never ended at close: it may be that program's.
TEST(SerialPort, ExclusiveModeThatCannotBeAskedIsNeverEnded)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to drop to 'nobody' (root itself ignores TIOCEXCL)";
    pty_pair pty;
    ASSERT_EQ(chmod(pty.slave_path.c_str(), 0666), 0);
    ASSERT_EQ(ioctl(pty.slave, TIOCEXCL), 0) << "another program's exclusive session";
    pid_t pid = fork();
    if (pid == 0) {
        int excl = 0;
        if (ioctl(pty.slave, TIOCGEXCL, &excl) == 0 && !refuse_tiocgexcl())
            _exit(125);
        int fd = open_port(pty.slave_path.c_str(), 115200);
        if (fd < 0)
            _exit(1);
        close_port(fd);
        _exit(0);
    }
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 125)
        GTEST_SKIP() << "no seccomp filter here to take TIOCGEXCL away";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the port did not open";
    EXPECT_EQ(open_as_nobody(pty.slave_path), EBUSY) << "the other program's exclusive mode ended";
}

TEST(SerialPort, OpenDiscardsInputLeftFromAnEarlierDialogue)
{
    pty_pair pty;
    ASSERT_EQ(write(pty.master, "\r\nOK\r\n", 6), 6);
    int fd = open_port(pty.slave_path.c_str(), 115200);
    ASSERT_GE(fd, 0);
    char buf[16];
    EXPECT_EQ(read(fd, buf, sizeof buf), 0) << "stale input survived the open";
    ASSERT_EQ(write(pty.master, "fresh", 5), 5);
    EXPECT_TRUE(wait_until([&] { return read(fd, buf, sizeof buf) == 5; },
                           std::chrono::milliseconds(1000)));
    close_port(fd);
}

TEST(SerialPort, MissingPortGivesOneLineWithErrnoAndMinusOne)
{
    fd_capture err(2);
    EXPECT_EQ(open_port("/nonexistent/ttyUSB9", 115200), -1);
    EXPECT_EQ(err.text(), "2(No such file or directory)\n");
}

} // namespace
