#pragma once
// The dialogue of one check as it happened: every command and the answer collected for it.
#include <cstddef>

#include "check/text_out.h"
#include "modem/at_channel.h"

struct exchange {
    const char* command; // as sent, with its CR
    int sent;            // SendCmd's result: 0, or -1 when nothing was written
    int send_errno;      // why, when nothing was written
    int answered;        // 1 once an answer was collected for it
    int result;          // read_response's result
    long ms;             // from the end of the send to the end of the collection
    size_t len;
    char answer[RESP_CAPACITY];
};

// More than one check's worth of exchanges: five probes, the attach query and command, two
// address queries.
constexpr size_t EXCHANGES_MAX = 12;

// The length of `command` without its CR, for "%.*s": as modemsim and a person name it.
int command_length(const char* command);

// Starts recording through the modem code's tracer, forgetting any earlier dialogue.
void record_dialogue();

// The exchanges recorded, in order; further ones than EXCHANGES_MAX are counted, not kept.
size_t exchange_count();
const exchange& exchange_at(size_t i);
size_t exchanges_dropped();

// One line per command and one per answer: "> AT\r", then "< AT\r\r\nOK\r\n  (3 ms)",
// "< (nothing)  (2500 ms)" or "  (answer not read)"; "> AT\r  not sent: 110 Connection ..."
// for a command the port did not take.
void print_dialogue(text_out& out);

// The line for a command the check chose not to send: "> AT+CGATT=1\r  not sent: ...".
void print_withheld(text_out& out, const char* command);

// The dialogue as modemsim scenario steps that replay it: echo off, then each answer exactly as
// collected. The last answer to each command lasts ("answer", or "ignore" for silence); an
// earlier one that a later answer differs from is an "answer-once" step. `family` is the scenario's
// family word.
void write_scenario_steps(text_out& out, const char* family);
