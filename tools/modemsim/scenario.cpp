// Parsing scenario files and applying their steps to the simulated modem.
// Every problem is found at load time, so a running simulation never meets a bad step.
#include "scenario.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

bool decode_escapes(const std::string& in, std::string& out, std::string& problem)
{
    out.clear();
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '\\') {
            out += in[i];
            continue;
        }
        if (++i == in.size()) {
            problem = "text ends in a lone backslash";
            return false;
        }
        switch (in[i]) {
        case 'r': out += '\r'; break;
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case '0': out += '\0'; break;
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case 'x':
            {
                std::string hex = i + 2 < in.size() ? in.substr(i + 1, 2) : std::string();
                char* end = nullptr;
                long v = strtol(hex.c_str(), &end, 16);
                if (hex.size() != 2 || *end != '\0') {
                    problem = "\\x needs two hex digits";
                    return false;
                }
                out += static_cast<char>(v);
                i += 2;
            }
            break;
        default:
            problem = std::string("unknown escape \\") + in[i];
            return false;
        }
    }
    return true;
}

bool parse_count(const std::string& s, long& value)
{
    if (s.empty() || s.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = strtol(s.c_str(), nullptr, 10);
    return true;
}

bool on_off(const std::string& s, bool& value)
{
    if (s == "on" || s == "off") {
        value = s == "on";
        return true;
    }
    return false;
}

std::string rest_after(const std::string& text, const std::string& word)
{
    size_t at = text.find(word);
    size_t from = text.find_first_not_of(" \t", at + word.size());
    return from == std::string::npos ? std::string() : text.substr(from);
}

// The text of a step behind its keyword and first argument.
std::string step_text(const step& s)
{
    return rest_after(rest_after(s.text, s.keyword), s.args[0]);
}

const std::map<std::string, address_format> FORMATS = {
    {"standard", address_format::standard},     {"nospace", address_format::nospace},
    {"unquoted", address_format::unquoted},     {"percontext", address_format::percontext},
    {"dotted-ipv6", address_format::dotted_ipv6},
};

const std::map<std::string, empty_context> EMPTY_CONTEXTS = {
    {"zero", empty_context::zero}, {"bare", empty_context::bare}, {"quoted", empty_context::quoted},
};

// Checks a step by applying it to a scratch state: one set of rules for load and run.
std::string check_step(const step& s)
{
    modem_state scratch;
    std::string problem;
    const auto& a = s.args;
    auto need = [&](size_t n) {
        if (a.size() < n)
            problem = "'" + s.keyword + "' needs " + std::to_string(n) + " argument(s)";
        return problem.empty();
    };
    long n = 0;
    bool flag = false;
    std::string decoded;
    if (s.keyword == "family") {
        if (need(1) && a[0] != "generic" && a[0] != "altair" && a[0] != "ericsson" &&
            a[0] != "marvell")
            problem = "unknown family '" + a[0] + "'";
    } else if (s.keyword == "echo" || s.keyword == "silent") {
        if (need(1) && !on_off(a[0], flag))
            problem = "'" + s.keyword + "' takes on or off";
    } else if (s.keyword == "attach") {
        if (need(1) && a[0].find_first_of(" \t\r\n") != std::string::npos)
            problem = "bad attach status";
    } else if (s.keyword == "attach-command") {
        if (need(1) && a[0] != "attaches" && a[0] != "ignored")
            problem = "'attach-command' takes attaches or ignored";
    } else if (s.keyword == "ipv4" || s.keyword == "ipv6" || s.keyword == "ignore") {
        need(1);
    } else if (s.keyword == "cid" || s.keyword == "flood" || s.keyword == "delay") {
        if (need(1) && !parse_count(a[0], n))
            problem = "'" + s.keyword + "' takes a whole number";
    } else if (s.keyword == "noise") {
        if (need(1) && (!parse_count(a[0], n) || a.size() > 2 || (a.size() == 2 && a[1] != "clean")))
            problem = "'noise' takes a whole number, and clean for junk without NUL or results";
    } else if (s.keyword == "split") {
        if (need(1) && a[0] != "off" && !parse_count(a[0], n))
            problem = "'split' takes a delay in milliseconds or off";
    } else if (s.keyword == "stall") {
        if (need(1) && !on_off(a[0], flag))
            problem = "'stall' takes on or off";
    } else if (s.keyword == "chunk") {
        long ms = 0;
        if (need(1) && a[0] != "off" && (a.size() != 2 || !parse_count(a[0], n) || n == 0 ||
                                         !parse_count(a[1], ms)))
            problem = "'chunk' takes a size in bytes (at least 1) and a pause in milliseconds, "
                      "or off";
    } else if (s.keyword == "empty-context") {
        if (need(1) && EMPTY_CONTEXTS.count(a[0]) == 0)
            problem = "'empty-context' takes zero, bare or quoted";
    } else if (s.keyword == "format") {
        if (need(1) && FORMATS.count(a[0]) == 0)
            problem = "unknown format '" + a[0] + "'";
    } else if (s.keyword == "unsolicited") {
        if (need(2) && a[0] != "before-echo" && a[0] != "before-answer" && a[0] != "before-ok")
            problem = "'unsolicited' takes before-echo, before-answer or before-ok, then a text "
                      "or none";
        else if (problem.empty() && step_text(s) != "none")
            decode_escapes(step_text(s), decoded, problem);
    } else if (s.keyword == "answer") {
        if (need(2) && step_text(s) != "default")
            decode_escapes(step_text(s), decoded, problem);
    } else if (s.keyword == "answer-once") {
        if (need(2) && step_text(s) != "none")
            decode_escapes(step_text(s), decoded, problem);
    } else if (s.keyword == "unplug") {
        if (a.size() > 2 || (a.size() == 2 && !parse_count(a[1], n)))
            problem = "'unplug' takes at most a command and the seconds until the replug";
    } else if (s.keyword == "on-unplug" || s.keyword == "on-replug") {
        need(1);
    } else if (s.keyword != "exit" && s.keyword != "replug" && s.keyword != "reset") {
        problem = "unknown step '" + s.keyword + "'";
    }
    return problem;
}

bool parse_trigger(const std::vector<std::string>& words, trigger& t, std::string& problem)
{
    long n = 0;
    if (words.size() == 3 && words[2] == "dialogues" && parse_count(words[1], n)) {
        t.kind = trigger::after_dialogues;
        t.amount = n;
        return true;
    }
    if (words.size() == 3 && (words[2] == "s" || words[2] == "ms") && parse_count(words[1], n)) {
        t.kind = trigger::after_ms;
        t.amount = words[2] == "s" ? n * 1000 : n;
        return true;
    }
    problem = "'after' takes N dialogues, N s or N ms";
    return false;
}

std::vector<std::string> words_of(const std::string& line)
{
    std::istringstream words_in(line);
    std::vector<std::string> words;
    for (std::string w; words_in >> w;)
        words.push_back(w);
    return words;
}

} // namespace

bool parse_step(const std::string& line, int number, step& out, std::string& problem)
{
    size_t first = line.find_first_not_of(" \t");
    std::vector<std::string> words = words_of(line);
    if (words.empty()) {
        problem = "no step";
        return false;
    }
    out.line = number;
    out.keyword = words[0];
    out.args.assign(words.begin() + 1, words.end());
    out.text = line.substr(first);
    problem = check_step(out);
    return problem.empty();
}

bool load_scenario(const char* path, scenario& out)
{
    std::ifstream in(path);
    if (!in) {
        fprintf(stderr, "modemsim: %s: cannot be read\n", path);
        return false;
    }
    out.triggers.assign(1, trigger{});
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#')
            continue;
        std::vector<std::string> words = words_of(line);
        std::string problem;
        if (words[0] == "after") {
            trigger t;
            if (parse_trigger(words, t, problem)) {
                out.triggers.push_back(t);
                continue;
            }
        } else {
            step s;
            if (parse_step(line, number, s, problem)) {
                out.triggers.back().steps.push_back(s);
                continue;
            }
        }
        fprintf(stderr, "modemsim: %s:%d: %s\n", path, number, problem.c_str());
        return false;
    }
    return true;
}

bool apply_step(const step& s, modem_state& st)
{
    const auto& a = s.args;
    std::string problem;
    if (s.keyword == "exit")
        return false;
    if (s.keyword == "family") st.family = a[0];
    else if (s.keyword == "echo") on_off(a[0], st.echo);
    else if (s.keyword == "silent") on_off(a[0], st.silent);
    else if (s.keyword == "attach") st.attach = a[0];
    else if (s.keyword == "attach-command") st.attach_command_attaches = a[0] == "attaches";
    else if (s.keyword == "ipv4") st.ipv4 = a[0] == "none" ? "" : a[0];
    else if (s.keyword == "ipv6") st.ipv6 = a[0] == "none" ? "" : a[0];
    else if (s.keyword == "ignore") st.ignored.push_back(a[0]);
    else if (s.keyword == "cid") st.cid = atoi(a[0].c_str());
    else if (s.keyword == "noise") {
        st.noise = strtoul(a[0].c_str(), nullptr, 10);
        st.noise_clean = a.size() == 2;
    }
    else if (s.keyword == "reset") {
        std::string family = st.family;
        st = modem_state{};
        st.family = family;
    }
    else if (s.keyword == "flood") st.flood = strtoul(a[0].c_str(), nullptr, 10);
    else if (s.keyword == "delay") st.delay_ms = atoi(a[0].c_str());
    else if (s.keyword == "unplug" && a.empty()) st.unplug_now = true;
    else if (s.keyword == "unplug") {
        st.unplug_on = a[0];
        st.replug_after_ms = a.size() == 2 ? atol(a[1].c_str()) * 1000 : -1;
    }
    else if (s.keyword == "on-unplug") st.on_unplug = rest_after(s.text, s.keyword);
    else if (s.keyword == "on-replug") st.on_replug = rest_after(s.text, s.keyword);
    else if (s.keyword == "replug") st.replug_now = true;
    else if (s.keyword == "split") st.split_ms = a[0] == "off" ? -1 : atoi(a[0].c_str());
    else if (s.keyword == "format") st.format = FORMATS.at(a[0]);
    else if (s.keyword == "stall") on_off(a[0], st.stalled);
    else if (s.keyword == "empty-context") st.empty = EMPTY_CONTEXTS.at(a[0]);
    else if (s.keyword == "chunk" && a[0] == "off") st.chunk_bytes = 0;
    else if (s.keyword == "chunk") {
        st.chunk_bytes = strtoul(a[0].c_str(), nullptr, 10);
        st.chunk_ms = atoi(a[1].c_str());
    }
    else if (s.keyword == "unsolicited") {
        std::string text = step_text(s);
        std::string decoded;
        if (text != "none")
            decode_escapes(text, decoded, problem);
        if (a[0] == "before-echo")
            st.unsolicited_before_echo = decoded;
        else if (a[0] == "before-answer")
            st.unsolicited_before_answer = decoded;
        else
            st.unsolicited_before_ok = decoded;
    } else if (s.keyword == "answer") {
        std::string text = step_text(s);
        std::string decoded;
        if (text == "default") {
            st.fixed_answers.erase(a[0]);
        } else {
            decode_escapes(text, decoded, problem);
            st.fixed_answers[a[0]] = decoded;
        }
    } else if (s.keyword == "answer-once") {
        std::string text = step_text(s);
        std::string decoded;
        if (text == "none") {
            st.once_answers[a[0]].emplace_back(std::nullopt);
        } else {
            decode_escapes(text, decoded, problem);
            st.once_answers[a[0]].emplace_back(decoded);
        }
    }
    return true;
}
