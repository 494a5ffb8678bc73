// A writer that sends garbage gets one line per rejection, up to a share per minute; past that
// the daemon counts and says how many, once a minute, and keeps serving.
#include "eventd/reject_log.h"

#include <cstdio>

#include "modem/deadline.h"

namespace {

struct window {
    deadline end;
    bool open = false;
    unsigned told = 0;
    unsigned long untold = 0;
};
window w;

// The rejection's text as it may be shown: one line, printable bytes only.
void printable(const char* in, char (&out)[64])
{
    size_t n = 0;
    for (; n < sizeof out - 1 && in[n] != '\0'; ++n) {
        unsigned char c = static_cast<unsigned char>(in[n]);
        out[n] = c >= 0x20 && c < 0x7f ? static_cast<char>(c) : '?';
    }
    out[n] = '\0';
}

} // namespace

void tell_untold(bool now)
{
    if (!now && w.open && ms_left(w.end) > 0)
        return;
    if (w.untold > 0)
        fprintf(stderr, "cellwatch-eventd: %lu more lines rejected\n", w.untold);
    w = window{};
}

int untold_due_in()
{
    return w.untold > 0 ? ms_left(w.end) : -1;
}

void tell_rejected(const judged_line& line)
{
    tell_untold();
    if (!w.open) {
        w.open = true;
        w.end = deadline_in(REJECT_WINDOW_MS);
    }
    if (w.told == REJECTS_TOLD) {
        ++w.untold;
        return;
    }
    ++w.told;
    char shown[64];
    printable(line.text, shown);
    fprintf(stderr, "cellwatch-eventd: rejected \"%s\": %s\n", shown, line_fault_text(line.verdict));
}
