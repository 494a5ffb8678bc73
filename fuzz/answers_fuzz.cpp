// Fuzzes check_link's handling of modem answers. The first byte picks the family and the
// address family; the rest, split at 0x01 bytes, are the answers to successive commands, sent
// by a peer thread over a socketpair as each command arrives. When the answers run out the
// peer hangs up (an empty answer does the same), and so it does when no command follows an
// answer within 5 ms (the check is still collecting): no collection waits its full time.
#include <cstddef>
#include <cstdint>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "modem/modem.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    close(null);
    // Commands sent after the peer hung up must fail as writes, not end the process.
    signal(SIGPIPE, SIG_IGN);
    return 0;
}

namespace {

void answer_commands(int fd, const uint8_t* data, size_t size)
{
    size_t at = 0;
    char c;
    while (at <= size) {
        // One answer per command: wait for the command's carriage return.
        struct pollfd p = {fd, POLLIN, 0};
        if (at > 0 && poll(&p, 1, 5) != 1)
            break;
        ssize_t n;
        while ((n = read(fd, &c, 1)) == 1 && c != '\r') {
        }
        if (n != 1)
            break;
        const uint8_t* end = static_cast<const uint8_t*>(memchr(data + at, 1, size - at));
        size_t len = (end ? static_cast<size_t>(end - data) : size) - at;
        if (len == 0 || write(fd, data + at, len) < 0)
            break;
        at += len + 1;
    }
    shutdown(fd, SHUT_RDWR);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0)
        return 0;
    link_info info{};
    info.modem_type = data[0] & 3;
    info.use_ipv6 = (data[0] >> 2) & 1;
    info.attached = (data[0] >> 3) & 1;
    strcpy(info.ifname, "wwan0");
    std::thread peer(answer_commands, pair[1], data + 1, size - 1);
    int result = check_link(pair[0], info);
    close(pair[0]);
    peer.join();
    close(pair[1]);
    if (result < CHECK_MODEM_FAILED || result > CHECK_OK || info.attached < 0 || info.attached > 1)
        __builtin_trap();
    return 0;
}
