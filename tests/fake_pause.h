#pragma once
// The test build's pause: it records every pause and lets a test act at each one, instead of
// waiting. The cycle's rules then run in milliseconds.
#include <functional>
#include <vector>

extern std::vector<unsigned> pauses_taken;

// Called at each pause with its length and its index among all pauses so far.
extern std::function<void(unsigned seconds, size_t index)> on_pause;
