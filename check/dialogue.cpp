// Recording the dialogue through the modem code's tracer, and showing or replaying it.
// Everything is kept in fixed records: a check has a known, small number of exchanges.
#include "check/dialogue.h"

#include <cstring>
#include <ctime>

namespace {

exchange exchanges[EXCHANGES_MAX];
size_t count = 0;
size_t dropped = 0;
struct timespec sent_at;

long ms_since(const struct timespec& from)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (now.tv_sec - from.tv_sec) * 1000L + (now.tv_nsec - from.tv_nsec) / 1000000L;
}

void on_sent(const char* cmd, int result, int err)
{
    clock_gettime(CLOCK_MONOTONIC, &sent_at);
    if (count == EXCHANGES_MAX) {
        ++dropped;
        return;
    }
    exchange& e = exchanges[count++];
    e = exchange{};
    e.command = cmd;
    e.sent = result;
    e.send_errno = err;
}

// An answer belongs to the command sent last; the check never reads without sending first.
void on_answered(const char* text, size_t len, int result)
{
    if (dropped > 0 || count == 0 || exchanges[count - 1].answered)
        return;
    exchange& e = exchanges[count - 1];
    e.answered = 1;
    e.result = result;
    e.ms = ms_since(sent_at);
    e.len = len < sizeof e.answer ? len : sizeof e.answer;
    memcpy(e.answer, text, e.len);
}

constexpr at_tracer RECORDER = {on_sent, on_answered};

bool same_answer(const exchange& a, const exchange& b)
{
    return a.len == b.len && memcmp(a.answer, b.answer, a.len) == 0;
}

// How exchange `i`'s answer is replayed: LASTING when no later exchange answered its command,
// ONCE when a later one answered it differently, and not at all (COVERED) when every later
// answer is the same, which the last one's lasting step gives.
enum replay { LASTING, ONCE, COVERED };

replay replay_of(size_t i)
{
    replay r = LASTING;
    for (size_t j = i + 1; j < count; ++j) {
        if (!exchanges[j].answered || strcmp(exchanges[j].command, exchanges[i].command) != 0)
            continue;
        if (!same_answer(exchanges[i], exchanges[j]))
            return ONCE;
        r = COVERED;
    }
    return r;
}

// The answer as a step's text. An answer that is exactly a step's keyword for "no fixed answer"
// or "no answer" gets its first letter escaped, so that it is replayed as the text it was.
void write_answer_text(text_out& out, const exchange& e)
{
    size_t skip = 0;
    if ((e.len == 4 && memcmp(e.answer, "none", 4) == 0) ||
        (e.len == 7 && memcmp(e.answer, "default", 7) == 0)) {
        out.format("\\x%02x", static_cast<unsigned char>(e.answer[0]));
        skip = 1;
    }
    out.visible(e.answer + skip, e.len - skip, skip == 0);
}

} // namespace

int command_length(const char* command)
{
    return static_cast<int>(strcspn(command, "\r"));
}

void record_dialogue()
{
    count = 0;
    dropped = 0;
    at_trace = &RECORDER;
}

size_t exchange_count()
{
    return count;
}

const exchange& exchange_at(size_t i)
{
    return exchanges[i];
}

size_t exchanges_dropped()
{
    return dropped;
}

void print_dialogue(text_out& out)
{
    for (size_t i = 0; i < count; ++i) {
        const exchange& e = exchanges[i];
        out.text("> ");
        out.visible(e.command, strlen(e.command));
        if (e.sent < 0)
            out.format("  not sent: %d %s", e.send_errno, strerror(e.send_errno));
        out.text("\n");
        if (!e.answered) {
            out.text("  (answer not read)\n");
        } else if (e.len == 0) {
            out.format("< (nothing)  (%ld ms)\n", e.ms);
        } else {
            out.text("< ");
            out.visible(e.answer, e.len);
            out.format("  (%ld ms)\n", e.ms);
        }
    }
    if (dropped > 0)
        out.format("(%zu more commands not recorded)\n", dropped);
}

void print_withheld(text_out& out, const char* command)
{
    out.text("> ");
    out.visible(command, strlen(command));
    out.text("  not sent: the check sends only queries without --attach\n");
}

void write_scenario_steps(text_out& out, const char* family)
{
    out.format("family %s\necho off\n", family);
    bool none_sent = count > 0;
    for (size_t i = 0; i < count; ++i)
        none_sent = none_sent && exchanges[i].sent < 0;
    // A port that took no command at all is a modem whose output is suspended.
    if (none_sent)
        out.text("stall on\n");
    for (size_t i = 0; i < count; ++i) {
        const exchange& e = exchanges[i];
        if (!e.answered)
            continue;
        int n = command_length(e.command);
        replay r = replay_of(i);
        if (r == COVERED)
            continue;
        bool once = r == ONCE;
        if (e.len == 0) {
            out.format(once ? "answer-once %.*s none\n" : "ignore %.*s\n", n, e.command);
        } else {
            out.format("%s %.*s ", once ? "answer-once" : "answer", n, e.command);
            write_answer_text(out, e);
            out.text("\n");
        }
    }
}
