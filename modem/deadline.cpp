// The monotonic clock: the wall clock may be set by NTP or by hand while the router runs.
#include "modem/deadline.h"

namespace {

constexpr long NS_PER_MS = 1000000;
constexpr long NS_PER_S = 1000000000;

} // namespace

deadline deadline_in(int ms)
{
    deadline d;
    clock_gettime(CLOCK_MONOTONIC, &d.end);
    d.end.tv_sec += ms / 1000;
    d.end.tv_nsec += (ms % 1000) * NS_PER_MS;
    if (d.end.tv_nsec >= NS_PER_S) {
        d.end.tv_sec += 1;
        d.end.tv_nsec -= NS_PER_S;
    }
    return d;
}

int ms_left(const deadline& d)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    long long ns = (static_cast<long long>(d.end.tv_sec) - now.tv_sec) * NS_PER_S +
                   (d.end.tv_nsec - now.tv_nsec);
    if (ns <= 0)
        return 0;
    return static_cast<int>((ns + NS_PER_MS - 1) / NS_PER_MS);
}
