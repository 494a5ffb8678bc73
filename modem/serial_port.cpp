// Owns every termios call of the program and the two settings records.
// The port is opened afresh for each dialogue, so what it had before must come back each time.
#include "modem/serial_port.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "modem/deadline.h"

struct termios saved_tio;
struct termios port_tio;

namespace {

struct line_speed {
    unsigned bps;
    speed_t code;
};

// Whether this process put the open port into exclusive mode, and so may end it.
bool exclusive_ours = false;

constexpr int DRAIN_WAIT_MS = 2500;
constexpr struct timespec DRAIN_POLL = {0, 10000000};

constexpr std::array<line_speed, 8> LINE_SPEEDS = {{
    {9600, B9600},
    {19200, B19200},
    {38400, B38400},
    {57600, B57600},
    {115200, B115200},
    {230400, B230400},
    {460800, B460800},
    {921600, B921600},
}};

// A speed with no table entry leaves the port's own speed in place rather than sending B0,
// which would hang the line up.
void set_speed(struct termios& tio, unsigned bps)
{
    for (const line_speed& s : LINE_SPEEDS)
        if (s.bps == bps)
            cfsetspeed(&tio, s.code);
}

// Leaves `err` in errno, so that a caller can still say why.
void report_open_failure(int err)
{
    fprintf(stderr, "%i(%s)\n", err, strerror(err));
    errno = err;
}

// True once the port has sent what was written to it; false when output still waits after the
// bound, as on a modem whose firmware stopped taking it.
bool drained_in_time(int fd)
{
    deadline d = deadline_in(DRAIN_WAIT_MS);
    for (;;) {
        int queued = 0;
        if (ioctl(fd, TIOCOUTQ, &queued) != 0 || queued <= 0)
            return true;
        if (ms_left(d) == 0)
            return false;
        nanosleep(&DRAIN_POLL, nullptr);
    }
}

enum : int { EXCL_UNKNOWN = -1, EXCL_FREE = 0, EXCL_HELD = 1 };

// Whether another process holds the tty in exclusive mode. Root's open is not refused by it, so
// it must be asked; EXCL_UNKNOWN where the kernel cannot say (before 3.8, some emulators).
int exclusive_state(int fd)
{
    int excl = 0;
    if (ioctl(fd, TIOCGEXCL, &excl) != 0)
        return EXCL_UNKNOWN;
    return excl != 0 ? EXCL_HELD : EXCL_FREE;
}

// Closes a descriptor that was never used, keeping the reason in errno, and reports it.
int refuse(int fd, int err)
{
    close(fd);
    report_open_failure(err);
    return -1;
}

} // namespace

int open_port(const char* path, unsigned speed)
{
    // Non-blocking, so that the open itself never waits: a UART whose modem keeps its carrier
    // line low (as modems do outside a data call) would otherwise hold it for good, with the
    // lock taken. CLOCAL, set below, makes the lines not matter once the port is open.
    int fd = open(path, O_RDWR | O_NOCTTY | O_EXCL | O_NONBLOCK);
    if (fd < 0) {
        report_open_failure(errno);
        return -1;
    }
    // A PORT that names a file, a FIFO or /dev/null is a mistake, not a modem: nothing is
    // written to it, and the cycle counts it as a port that did not open.
    struct termios probe;
    if (tcgetattr(fd, &probe) != 0)
        return refuse(fd, errno);
    // Another program's exclusive session (a terminal program a person is typing in) is left
    // untouched: nothing written, no setting changed.
    int excl = exclusive_state(fd);
    if (excl == EXCL_HELD)
        return refuse(fd, EBUSY);
    // Further opens by other processes are refused while the dialogue runs. Only a mode known to
    // have been free is this process's to end at close: where the kernel cannot say, it may be
    // another program's.
    exclusive_ours = ioctl(fd, TIOCEXCL) == 0 && excl == EXCL_FREE;
    int blocking = 0;
    ioctl(fd, FIONBIO, &blocking);
    tcgetattr(fd, &port_tio);
    saved_tio = port_tio;

    cfmakeraw(&port_tio);
    port_tio.c_iflag = 0;
    port_tio.c_oflag = 0;
    port_tio.c_lflag = 0;
    port_tio.c_cflag = CS8 | CREAD | CLOCAL;
    set_speed(port_tio, speed);
    // Reads return at once with whatever is waiting; the wait is poll's job.
    port_tio.c_cc[VMIN] = 0;
    port_tio.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &port_tio);
    // Whatever waits in the tty belongs to an earlier dialogue, typically the answer to an
    // attach command that is never read. Left there, it would be taken as the answer to this
    // dialogue's first command, and every answer after it would be one behind.
    tcflush(fd, TCIFLUSH);
    return fd;
}

void close_port(int fd)
{
    // Output that a wedged modem will never take is thrown away, so that the close cannot wait.
    if (drained_in_time(fd))
        tcdrain(fd);
    else
        tcflush(fd, TCOFLUSH);
    tcsetattr(fd, TCSANOW, &saved_tio);
    // Exclusive mode belongs to the tty, not to this descriptor: while any other descriptor
    // keeps the tty open it would outlive the close and refuse every later open but root's.
    if (exclusive_ours)
        ioctl(fd, TIOCNXCL);
    exclusive_ours = false;
    close(fd);
}
