#pragma once
// Bounded waits on the port: a point on the monotonic clock and the time left until it.
#include <ctime>

struct deadline {
    struct timespec end;
};

// The point `ms` milliseconds from now.
deadline deadline_in(int ms);

// Whole milliseconds left until `d` (rounded up, so a wait never ends early); 0 once it passed.
int ms_left(const deadline& d);
