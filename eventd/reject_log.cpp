// A writer that sends garbage gets one line per rejection, up to a share per minute; past that
// the daemon counts and says how many, once a minute, and keeps serving.
#include "eventd/reject_log.h"

#include <cstdio>

#include "modem/deadline.h"
#include "supervisor/command_line.h"

namespace {

struct window {
    deadline end;
    bool open = false;
    unsigned told = 0;
    unsigned long untold = 0;
};
window w;

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
    make_printable(line.text, shown, sizeof shown);
    fprintf(stderr, "cellwatch-eventd: rejected \"%s\": %s\n", shown, line_fault_text(line.verdict));
}
