// A request line is someone else's text on its way to a root shell script's argument: only the
// one exact form, with a name that cellwatch itself would take, is ever acted on.
#include "eventd/request.h"

#include <cstring>

#include "supervisor/command_line.h"

namespace {

constexpr size_t PREFIX_LEN = sizeof FAILOVER_REQUEST - 1;

} // namespace

void judge_line(const char* line, size_t len, bool has_nul, judged_line& out)
{
    size_t kept = len < sizeof out.text - 1 ? len : sizeof out.text - 1;
    for (size_t i = 0; i < kept; ++i)
        out.text[i] = line[i] == '\0' ? '?' : line[i];
    out.text[kept] = '\0';
    out.iface = nullptr;
    if (len + 1 > LINE_MAX_BYTES)
        out.verdict = LINE_TOO_LONG;
    else if (has_nul)
        out.verdict = LINE_NUL;
    else if (len < PREFIX_LEN || memcmp(line, FAILOVER_REQUEST, PREFIX_LEN) != 0 ||
             memchr(line + PREFIX_LEN, ' ', len - PREFIX_LEN) != nullptr)
        out.verdict = LINE_OTHER;
    else if (ifname_fault(out.text + PREFIX_LEN) != IFNAME_OK)
        out.verdict = LINE_BAD_IFACE;
    else
        out.verdict = LINE_OK;
    if (out.verdict == LINE_OK)
        out.iface = out.text + PREFIX_LEN;
}

const char* line_fault_text(int verdict)
{
    switch (verdict) {
    case LINE_TOO_LONG: return "longer than 128 bytes";
    case LINE_NUL: return "holds a NUL byte";
    case LINE_PARTIAL: return "its write ended without a line feed";
    case LINE_OTHER: return "not \"exec /opt/vordane/bin/failover.sh IFACE\"";
    case LINE_BAD_IFACE: return "not an interface name cellwatch would take";
    default: return "accepted";
    }
}

size_t line_splitter::feed(const char* data, size_t len, finished_lines& out)
{
    out.count = 0;
    const void* lf = memchr(data, '\n', len);
    size_t take = lf != nullptr ? static_cast<size_t>(static_cast<const char*>(lf) - data) + 1 : len;
    size_t body = lf != nullptr ? take - 1 : take;
    size_t room = sizeof buf_ - len_;
    size_t copied = body < room ? body : room;
    memcpy(buf_ + len_, data, copied);
    nul_ = nul_ || memchr(data, '\0', body) != nullptr;
    len_ += copied;
    total_ += body;
    if (lf != nullptr)
        finish(out, true);
    return take;
}

void line_splitter::end_of_data(finished_lines& out)
{
    out.count = 0;
    if (total_ > 0)
        finish(out, false);
}

void line_splitter::finish(finished_lines& out, bool ended)
{
    out.count = 0;
    size_t from = 0;
    // Each place after the line's start where a request's text starts, within what was kept,
    // ends a beginning that its writer left unfinished.
    for (size_t at = 1; total_ == len_ && at + PREFIX_LEN <= len_; ++at) {
        if (memcmp(buf_ + at, FAILOVER_REQUEST, PREFIX_LEN) != 0)
            continue;
        judged_line& head = out.line[out.count++];
        judge_line(buf_ + from, at - from, memchr(buf_ + from, '\0', at - from) != nullptr, head);
        head.verdict = LINE_PARTIAL;
        head.iface = nullptr;
        from = at;
    }
    const char* start = buf_ + from;
    size_t len = total_ - from;
    bool nul = from == 0 ? nul_ : memchr(start, '\0', len_ - from) != nullptr;
    judged_line& line = out.line[out.count++];
    judge_line(start, len, nul, line);
    // A line whose writer stopped before its end is never run, whatever it holds so far.
    if (!ended && line.verdict != LINE_TOO_LONG) {
        line.verdict = LINE_PARTIAL;
        line.iface = nullptr;
    }
    len_ = 0;
    total_ = 0;
    nul_ = false;
}
