// The real pause: nanosleep, which a stop signal cuts short.
#include "supervisor/pause.h"

#include <ctime>

void pause_seconds(unsigned seconds)
{
    struct timespec length = {static_cast<time_t>(seconds), 0};
    nanosleep(&length, nullptr);
}
