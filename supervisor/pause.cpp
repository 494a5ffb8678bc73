// The real pause: sleep, which a stop signal cuts short.
#include "supervisor/pause.h"

#include <unistd.h>

void pause_seconds(unsigned seconds)
{
    sleep(seconds);
}
