// The claim is a listening abstract socket: its name says which port, and connecting to it tells
// who holds it (SO_PEERCRED), as far as this PID namespace can see that process.
#include "supervisor/one_instance.h"

#include <cstddef>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// Refused starts that connected and went are left queued: a few, then a connect fails and the
// holder is told of without its id.
constexpr int QUEUED_REFUSALS = 8;

// The claim's name: a NUL, then the port's device number, or its path where it has no device.
socklen_t claim_name(const char* port, struct sockaddr_un& addr)
{
    addr = {};
    addr.sun_family = AF_UNIX;
    struct stat st;
    char* name = addr.sun_path + 1;
    size_t room = sizeof addr.sun_path - 1;
    int len = stat(port, &st) == 0 && S_ISCHR(st.st_mode)
                  ? snprintf(name, room, "cellwatch/dev/%lx", static_cast<unsigned long>(st.st_rdev))
                  : snprintf(name, room, "cellwatch/path/%s", port);
    size_t used = len < 0 ? 0 : static_cast<size_t>(len) < room ? static_cast<size_t>(len) : room - 1;
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + used);
}

// The id of the process that holds the claim, as this PID namespace knows it; 0 when unknown.
pid_t holder_of(const struct sockaddr_un& addr, socklen_t len)
{
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    struct ucred cred = {};
    socklen_t size = sizeof cred;
    if (fd < 0 || connect(fd, reinterpret_cast<const struct sockaddr*>(&addr), len) != 0 ||
        getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &size) != 0)
        cred.pid = 0;
    if (fd >= 0)
        close(fd);
    return cred.pid;
}

} // namespace

int claim_port(const char* port)
{
    struct sockaddr_un addr;
    socklen_t len = claim_name(port, addr);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    // Where no socket can be had at all, nobody can be told apart: the run goes on.
    if (fd < 0)
        return 0;
    if (bind(fd, reinterpret_cast<const struct sockaddr*>(&addr), len) == 0 &&
        listen(fd, QUEUED_REFUSALS) == 0)
        return 0;
    close(fd);
    pid_t holder = holder_of(addr, len);
    if (holder > 0)
        fprintf(stderr, "%s is supervised by cellwatch process %d; not started\n", port,
                static_cast<int>(holder));
    else
        fprintf(stderr, "%s is supervised by another cellwatch; not started\n", port);
    return -1;
}
