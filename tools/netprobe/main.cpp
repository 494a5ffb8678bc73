// netprobe: which of the router's links carries its traffic, probe by probe.
//   netprobe echo PORT
//       answers every UDP datagram on PORT with itself, until killed.
//   netprobe send ADDRESS PORT INTERVAL_MS COUNT
//       sends COUNT numbered datagrams INTERVAL_MS apart from an unbound socket, so that each one
//       takes whatever route the kernel chooses at that moment, and prints a line for each echo:
//       "MS SEQ IFNAME", MS the wall clock in milliseconds when it came back, IFNAME the
//       interface it came in on. Ends INTERVAL_MS * COUNT + 1 s after it began.
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

long long now_ms(clockid_t clock)
{
    struct timespec t;
    clock_gettime(clock, &t);
    return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

int echo(int port)
{
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    struct sockaddr_in me = {};
    me.sin_family = AF_INET;
    me.sin_port = htons(static_cast<uint16_t>(port));
    if (s < 0 || bind(s, reinterpret_cast<sockaddr*>(&me), sizeof me) != 0) {
        perror("netprobe: echo");
        return 1;
    }
    for (;;) {
        char buf[256];
        struct sockaddr_in peer = {};
        socklen_t len = sizeof peer;
        ssize_t n = recvfrom(s, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&peer), &len);
        if (n > 0)
            sendto(s, buf, static_cast<size_t>(n), 0, reinterpret_cast<sockaddr*>(&peer), len);
    }
}

// Reads one echo and prints its line; the interface comes from IP_PKTINFO.
void receive_one(int s)
{
    char buf[64] = {};
    char control[CMSG_SPACE(sizeof(struct in_pktinfo))];
    struct iovec iov = {buf, sizeof buf - 1};
    struct msghdr msg = {};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    if (recvmsg(s, &msg, 0) <= 0)
        return;
    char ifname[IF_NAMESIZE] = "?";
    for (struct cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            struct in_pktinfo info;
            memcpy(&info, CMSG_DATA(c), sizeof info);
            if (if_indextoname(static_cast<unsigned>(info.ipi_ifindex), ifname) == nullptr)
                strcpy(ifname, "?");
        }
    }
    printf("%lld %s %s\n", now_ms(CLOCK_REALTIME), buf, ifname);
    fflush(stdout);
}

int send_probes(const char* address, int port, int interval_ms, long count)
{
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    int on = 1;
    struct sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    if (s < 0 || inet_pton(AF_INET, address, &to.sin_addr) != 1 ||
        setsockopt(s, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0) {
        fprintf(stderr, "netprobe: cannot send to %s\n", address);
        return 1;
    }
    long long start = now_ms(CLOCK_MONOTONIC);
    long long end = start + interval_ms * count + 1000;
    long sent = 0;
    for (;;) {
        long long now = now_ms(CLOCK_MONOTONIC);
        if (now >= end)
            return 0;
        if (sent < count && now >= start + interval_ms * sent) {
            char text[32];
            int len = snprintf(text, sizeof text, "%ld", sent++);
            // A send with no route is a lost probe, nothing more.
            sendto(s, text, static_cast<size_t>(len), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
            continue;
        }
        long long next = sent < count ? start + interval_ms * sent : end;
        struct pollfd p = {s, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(next - now)) > 0)
            receive_one(s);
    }
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc == 3 && strcmp(argv[1], "echo") == 0)
        return echo(atoi(argv[2]));
    if (argc == 6 && strcmp(argv[1], "send") == 0)
        return send_probes(argv[2], atoi(argv[3]), atoi(argv[4]), atol(argv[5]));
    fprintf(stderr, "usage: netprobe echo PORT | netprobe send ADDRESS PORT INTERVAL_MS COUNT\n");
    return 2;
}
