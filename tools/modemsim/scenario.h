#pragma once
// A modemsim scenario: the modem's state and its quirks, and the changes that come later.
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

enum class address_format { standard, nospace, unquoted, percontext, dotted_ipv6 };

// How AT+CGPADDR lists a context that has no address: 1,"0.0.0.0", 1 alone, or 1,"".
enum class empty_context { zero, bare, quoted };

struct modem_state {
    std::string family = "generic"; // generic, altair, ericsson, marvell
    bool echo = true;
    std::string attach = "1";       // the status text as sent
    bool attach_command_attaches = true;
    std::string ipv4;               // empty: none
    std::string ipv6;
    int cid = 1;
    address_format format = address_format::standard;
    std::string unsolicited_before_echo;
    std::string unsolicited_before_answer;
    std::string unsolicited_before_ok;  // between the answer's lines and its final OK
    empty_context empty = empty_context::zero;
    size_t chunk_bytes = 0;         // 0: each piece in one write
    int chunk_ms = 0;               // pause after each chunk
    bool stalled = false;           // the port takes no output from the program (TCOOFF)
    int split_ms = -1;              // -1: final OK in one piece
    int delay_ms = 0;               // pause before answering each command
    bool silent = false;
    std::vector<std::string> ignored;
    std::map<std::string, std::string> fixed_answers;
    // Answers used once each, in order, before any other for their command; nullopt is silence.
    std::map<std::string, std::deque<std::optional<std::string>>> once_answers;
    size_t noise = 0;
    bool noise_clean = false;       // without NUL, CR, LF, 'O', 'E' or ':': no result, no tag
    size_t flood = 0;
    std::string unplug_on;          // unplug when this command arrives
    long replug_after_ms = -1;      // with unplug_on: replug this long after that unplug
    std::string on_unplug;          // shell commands that pull and put back a real device's plug
    std::string on_replug;
    bool unplug_now = false;        // requests the serving loop carries out
    bool replug_now = false;
};

// One scenario line, applied to the state when its trigger comes.
struct step {
    int line = 0;
    std::string keyword;
    std::vector<std::string> args; // the rest of the line, split on blanks; `text` unsplit
    std::string text;
};

struct trigger {
    enum kind_t { at_start, after_dialogues, after_ms } kind = at_start;
    long amount = 0;
    std::vector<step> steps;
};

struct scenario {
    std::vector<trigger> triggers; // the first one is at_start
};

// Reads `path`; on a bad file prints "modemsim: PATH:LINE: problem" and returns false.
bool load_scenario(const char* path, scenario& out);

// Parses one step line (not "after"), numbered `number`; false with `problem` when it is none.
bool parse_step(const std::string& line, int number, step& out, std::string& problem);

// Applies one step; returns false when the step is "exit".
bool apply_step(const step& s, modem_state& state);
