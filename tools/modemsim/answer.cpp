// The modem's answers by family: attach state, addresses, the result codes and the quirks.
#include "answer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdint>

namespace {

const std::string CRLF = "\r\n";
const std::string OK = "\r\nOK\r\n";
const std::string ERROR = "\r\nERROR\r\n";

struct attach_commands {
    const char* family;
    const char* query;
    const char* tag;
    const char* command;
};

const attach_commands ATTACH[] = {
    {"generic", "AT+CGATT?", "+CGATT:", "AT+CGATT=1"},
    {"marvell", "AT+CGATT?", "+CGATT:", "AT+CGATT=1"},
    {"altair", "AT%CMATT?", "%CMATT:", "AT%CMATT=1"},
    {"ericsson", "AT*ENAP?", "*ENAP:", "AT*ENAP=1,1"},
};

const attach_commands& attach_for(const std::string& family)
{
    for (const auto& a : ATTACH)
        if (family == a.family)
            return a;
    return ATTACH[0];
}

// "2a00:db8::1" as 3GPP's sixteen dotted decimal numbers.
std::string dotted(const std::string& ipv6)
{
    uint8_t bytes[16] = {};
    if (inet_pton(AF_INET6, ipv6.c_str(), bytes) != 1)
        return ipv6;
    std::string out;
    for (int i = 0; i < 16; ++i)
        out += (i ? "." : "") + std::to_string(bytes[i]);
    return out;
}

std::string field(const std::string& addr, const modem_state& st)
{
    std::string text = addr;
    if (st.format == address_format::dotted_ipv6 && addr.find(':') != std::string::npos)
        text = dotted(addr);
    bool quoted = st.format != address_format::nospace && st.format != address_format::unquoted;
    return quoted ? "\"" + text + "\"" : text;
}

std::string tag_line(const std::string& tag, const std::string& value, const modem_state& st)
{
    return tag + (st.format == address_format::nospace ? "" : " ") + value;
}

std::string cgpaddr(const modem_state& st)
{
    std::string value = std::to_string(st.cid);
    bool no_address = st.ipv4.empty() && st.ipv6.empty();
    if (no_address && st.empty == empty_context::zero)
        value += "," + field("0.0.0.0", st);
    if (no_address && st.empty == empty_context::quoted)
        value += ",\"\"";
    if (!st.ipv4.empty())
        value += "," + field(st.ipv4, st);
    if (!st.ipv6.empty())
        value += "," + field(st.ipv6, st);
    std::string body = tag_line("+CGPADDR:", value, st);
    // A context without an address is listed first, with neither comma nor address.
    if (st.format == address_format::percontext)
        body = tag_line("+CGPADDR:", std::to_string(st.cid + 1), st) + CRLF + body;
    return CRLF + body + CRLF + OK;
}

// Context `cid` holds the addresses (IPv4 first); context 5 answers with the IPv6 address when
// that is not the context already.
std::string getip(int context, const modem_state& st)
{
    std::string addr;
    if (context == st.cid)
        addr = !st.ipv4.empty() ? st.ipv4 : st.ipv6;
    else if (context == 5)
        addr = st.ipv6;
    if (addr.empty())
        addr = "0.0.0.0";
    return CRLF + tag_line("*GETIP:", std::to_string(context) + "," + field(addr, st), st) +
           CRLF + OK;
}

std::string respond(const std::string& cmd, modem_state& st)
{
    const attach_commands& a = attach_for(st.family);
    if (cmd == "AT")
        return OK;
    if (cmd == "ATE0" || cmd == "ATE1") {
        st.echo = cmd == "ATE1";
        return OK;
    }
    if (cmd == a.query)
        return CRLF + tag_line(a.tag, st.attach, st) + CRLF + OK;
    if (cmd == a.command) {
        if (st.attach_command_attaches)
            st.attach = "1";
        return OK;
    }
    if (st.family != "marvell" && cmd == "AT+CGPADDR")
        return cgpaddr(st);
    if (st.family == "marvell" && cmd.rfind("AT*GETIP=", 0) == 0)
        return getip(atoi(cmd.c_str() + 9), st);
    return ERROR;
}

// Deterministic bytes over the whole range, NUL and non-ASCII included. Clean noise leaves out
// what could end or hide an answer, start a line or make a tag: NUL, CR, LF, 'O', 'E' and ':'.
std::string noise(size_t n, bool clean)
{
    static uint32_t seed = 12345;
    std::string out(n, '\0');
    for (char& c : out) {
        do {
            seed = seed * 1103515245u + 12345u;
            c = static_cast<char>(seed >> 16);
        } while (clean && (c == '\0' || c == '\r' || c == '\n' || c == 'O' || c == 'E' || c == ':'));
    }
    return out;
}

// The same bytes in pieces of at most `size`, each followed by `ms`, as a UART's FIFO hands them
// to the tty.
std::vector<piece> in_chunks(const std::vector<piece>& pieces, size_t size, int ms)
{
    std::vector<piece> out;
    for (const piece& p : pieces) {
        for (size_t at = 0; at < p.bytes.size(); at += size)
            out.push_back({p.bytes.substr(at, size), ms});
        if (p.delay_ms > 0)
            out.push_back({"", p.delay_ms});
    }
    return out;
}

} // namespace

std::vector<piece> answer_command(const std::string& command, modem_state& st)
{
    std::vector<piece> out;
    auto once = st.once_answers.find(command);
    if (once != st.once_answers.end() && !once->second.empty()) {
        std::optional<std::string> answer = once->second.front();
        once->second.pop_front();
        if (answer)
            out.push_back({*answer});
        return out;
    }
    if (st.silent || std::find(st.ignored.begin(), st.ignored.end(), command) != st.ignored.end())
        return out;
    if (st.delay_ms > 0)
        out.push_back({"", st.delay_ms});
    if (!st.unsolicited_before_echo.empty())
        out.push_back({CRLF + st.unsolicited_before_echo + CRLF});
    if (st.echo)
        out.push_back({command + "\r"});
    if (!st.unsolicited_before_answer.empty())
        out.push_back({CRLF + st.unsolicited_before_answer + CRLF});
    if (st.noise > 0)
        out.push_back({noise(st.noise, st.noise_clean)});
    if (st.flood > 0)
        out.push_back({CRLF + std::string(st.flood, 'F') + CRLF});
    auto fixed = st.fixed_answers.find(command);
    std::string answer = fixed != st.fixed_answers.end() ? fixed->second : respond(command, st);
    size_t final_ok = answer.rfind(OK);
    if (!st.unsolicited_before_ok.empty() && final_ok != std::string::npos)
        answer.insert(final_ok, CRLF + st.unsolicited_before_ok + CRLF);
    // Split inside the final "OK", as firmware that writes in small chunks does.
    size_t ok = answer.rfind("OK\r\n");
    if (st.split_ms >= 0 && ok != std::string::npos) {
        out.push_back({answer.substr(0, ok + 1), st.split_ms});
        out.push_back({answer.substr(ok + 1)});
    } else {
        out.push_back({answer});
    }
    return st.chunk_bytes > 0 ? in_chunks(out, st.chunk_bytes, st.chunk_ms) : out;
}
