#pragma once
// Telling rejected lines on stderr without letting a flood of them fill the log.
#include "eventd/request.h"

// At most this many rejections are told in a window of REJECT_WINDOW_MS; the rest are counted
// and told as one line when the window ends.
constexpr unsigned REJECTS_TOLD = 10;
constexpr int REJECT_WINDOW_MS = 60000;

// Tells `line`'s rejection ("cellwatch-eventd: rejected \"TEXT\": WHY"), or counts it when the
// window's share is used up.
void tell_rejected(const judged_line& line);

// Milliseconds until the count of untold rejections is due, -1 when none are waiting.
int untold_due_in();

// Tells "cellwatch-eventd: N more lines rejected" when the window has ended, or `now`, and some
// were untold, and starts the next window.
void tell_untold(bool now = false);
