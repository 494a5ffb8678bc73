#pragma once
// The event daemon's requests: bytes from the pipe cut into lines, and each line judged.
#include <cstddef>

// The longest line taken, its line feed included: what a writer's 128-byte buffer holds.
constexpr size_t LINE_MAX_BYTES = 128;

// The one request that is run: this text, then an interface name, then a line feed.
constexpr const char FAILOVER_REQUEST[] = "exec /opt/vordane/bin/failover.sh ";
constexpr const char FAILOVER_SCRIPT[] = "/opt/vordane/bin/failover.sh";

// Why a line is not run; LINE_OK for one that is.
enum : int {
    LINE_OK = 0,
    LINE_TOO_LONG,     // over LINE_MAX_BYTES
    LINE_NUL,          // holds a NUL byte
    LINE_PARTIAL,      // the pipe ran dry (its writer closed, or wrote no more) before its
                       // line feed came: a request comes whole in one write, as cellwatch's does
    LINE_OTHER,        // another command, another path, or extra words
    LINE_BAD_IFACE,    // the interface name is one that cellwatch would refuse
};

// What a line says, once judged.
struct judged_line {
    int verdict;              // a LINE_ code
    char text[LINE_MAX_BYTES]; // the line without its line feed, cut, NULs shown as '?'
    const char* iface;        // within `text`, for LINE_OK; nullptr otherwise
};

// What one line end gave: the line, or the unfinished beginnings that other writers' requests
// were joined to, and those requests; a request's text fits 3 times in LINE_MAX_BYTES.
struct finished_lines {
    judged_line line[4];
    int count;
};

// Cuts a stream into lines of at most LINE_MAX_BYTES. A longer line is taken in whole (its
// beginning kept for the report) and judged LINE_TOO_LONG once its line feed comes. A request's
// text that stands within a line's first LINE_MAX_BYTES, but not at its start, begins a line of
// its own: what came before it is a line that its writer left without an end (LINE_PARTIAL), to
// which the pipe joined the next writer's request.
class line_splitter {
public:
    // Takes in bytes up to the first line end in `data` (at most `len`); returns how many it
    // took. When that ended a line, `out` holds what it gave; otherwise out.count is 0.
    size_t feed(const char* data, size_t len, finished_lines& out);
    // The pipe holds nothing more: a line begun and not ended is judged LINE_PARTIAL into `out`.
    // Without this, the rest of a line that one writer left unfinished would be joined to the
    // next writer's request.
    void end_of_data(finished_lines& out);

private:
    void finish(finished_lines& out, bool ended);
    char buf_[LINE_MAX_BYTES] = {};
    size_t len_ = 0;    // bytes kept in buf_
    size_t total_ = 0;  // bytes of the line so far, kept or not
    bool nul_ = false;
};

// Judges a whole line (no line feed) of `len` bytes, of which at most LINE_MAX_BYTES are at
// `line`, into `out`.
void judge_line(const char* line, size_t len, bool has_nul, judged_line& out);

// The words for a LINE_ code, for a message.
const char* line_fault_text(int verdict);
