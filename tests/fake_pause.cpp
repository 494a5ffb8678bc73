// Stands in for the program's sleep in the unit tests.
#include "fake_pause.h"

#include "supervisor/pause.h"

std::vector<unsigned> pauses_taken;
std::function<void(unsigned, size_t)> on_pause;

void pause_seconds(unsigned seconds)
{
    pauses_taken.push_back(seconds);
    if (on_pause)
        on_pause(seconds, pauses_taken.size() - 1);
}
