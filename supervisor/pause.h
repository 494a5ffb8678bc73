#pragma once
// The cycle's only source of waiting. The program sleeps; the test build links its own version
// so that the cycle's rules run without real time passing.

// Pauses for `seconds`, returning early when a signal arrives.
void pause_seconds(unsigned seconds);
