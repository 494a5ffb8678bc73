#pragma once
// What the simulated modem says to one command, in the shapes real firmware uses.
#include <string>
#include <vector>

#include "scenario.h"

// One write to the pty, and the pause after it.
struct piece {
    std::string bytes;
    int delay_ms = 0;
};

// The pieces sent for `command` (without its "\r"): unsolicited lines, the echo, noise and the
// answer, as the state asks. May change the state (ATE0/ATE1, attach commands). Empty when the
// modem stays silent.
std::vector<piece> answer_command(const std::string& command, modem_state& state);
