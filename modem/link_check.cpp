// The link check: one whole dialogue with the modem, driven by the family's command table.
// Values are taken only from their tag's own line, so the echo and unsolicited lines before or
// after it cannot be mistaken for them.
#include <array>
#include <climits>
#include <cstdint>
#include <cstring>

#include "modem/address.h"
#include "modem/at_channel.h"
#include "modem/find_text.h"
#include "modem/modem.h"

namespace {

struct family_commands {
    const char* attach_query;
    const char* attach_tag;
    const char* attach_command;
    const char* address_query;
    const char* address_tag;
};

// Indexed by the family code.
constexpr std::array<family_commands, 4> FAMILY_COMMANDS = {{
    {"AT+CGATT?\r", "CGATT:", "AT+CGATT=1\r", "AT+CGPADDR\r", "CGPADDR:"},
    {"AT%CMATT?\r", "CMATT:", "AT%CMATT=1\r", "AT+CGPADDR\r", "CGPADDR:"},
    {"AT*ENAP?\r", "ENAP:", "AT*ENAP=1,1\r", "AT+CGPADDR\r", "CGPADDR:"},
    {"AT+CGATT?\r", "CGATT:", "AT+CGATT=1\r", "AT*GETIP=1\r", "GETIP:"},
}};
static_assert(FAMILY_COMMANDS.size() == MODEM_MARVELL + 1, "one entry per family code");

constexpr const char PROBE[] = "AT\r";
constexpr const char GETIP_QUERY[] = "AT*GETIP=1\r";
constexpr const char GETIP_SECOND_QUERY[] = "AT*GETIP=5\r";
constexpr const char GETIP_TAG[] = "GETIP:";
constexpr int PROBE_ATTEMPTS = 5;
constexpr size_t STATUS_DIGITS_MAX = 127;

const family_commands& commands_for(uint32_t modem_type)
{
    return FAMILY_COMMANDS[modem_type < FAMILY_COMMANDS.size() ? modem_type : MODEM_GENERIC];
}

// The probe passes on the first answer holding "OK". When none does, only a final send that
// failed makes the modem count as failed (CHECK_MODEM_FAILED); silence goes on to the attach
// query (CHECK_OK). CHECK_CUT_SHORT when a stop ended the wait for an answer.
int probe(int fd)
{
    int mark = 0;
    for (int attempt = 0; attempt < PROBE_ATTEMPTS; ++attempt) {
        if (SendCmd(fd, PROBE) < 0) {
            mark = -1;
            continue;
        }
        mark = 0;
        int response = read_response(fd);
        if (answer_cut_short)
            return CHECK_CUT_SHORT;
        if (response != 0 && find_text(resp_buf, "OK") != nullptr)
            return CHECK_OK;
    }
    return mark == -1 ? CHECK_MODEM_FAILED : CHECK_OK;
}

// The rest of the line that `from` stands in, up to its CR or LF, copied so that the parsers
// cannot read on into the next line. Holds the last line asked for.
const char* rest_of_line(const char* from)
{
    static char line[RESP_CAPACITY + 1];
    size_t n = line_length(from);
    memcpy(line, from, n);
    line[n] = '\0';
    return line;
}

// The decimal number that starts behind `text`'s first digit, saturating at INT_MAX: a modem
// may send any number of digits, and every value but 0 and 1 must still count as "other".
int read_status(const char* text)
{
    const char* digit = skip_to_digit(text);
    if (digit == nullptr)
        return 0;
    int64_t value = 0; // wider than int on every target: long is not, on 32-bit ones
    for (size_t n = 0; n < STATUS_DIGITS_MAX && digit[n] >= '0' && digit[n] <= '9'; ++n) {
        value = value * 10 + (digit[n] - '0');
        if (value > INT_MAX)
            value = INT_MAX;
    }
    return static_cast<int>(value);
}

// The text behind the comma of the first line that holds `tag` with a comma after it, up to
// that line's end, when the last answer was one (count or error) holding "OK"; nullptr when no
// line qualifies. A context without an address ("+CGPADDR: 1") is passed over, and the commas
// of unsolicited lines ("+CREG: 1,...") around the answer never reach the parser.
const char* address_text(int response, const char* tag)
{
    if (response == 0 || find_text(resp_buf, "OK") == nullptr)
        return nullptr;
    size_t tag_len = strlen(tag);
    for (const char* at = find_text(resp_buf, tag); at != nullptr;
         at = find_text(at + tag_len, tag)) {
        const char* value = at + tag_len;
        for (size_t i = 0, n = line_length(value); i < n; ++i)
            if (value[i] == ',')
                return rest_of_line(value + i + 1);
    }
    return nullptr;
}

// Records in `last_check` why the answer to `command`, read as `response`, failed the check.
int modem_failed(const char* command, const char* tag, int response)
{
    int fault = FAULT_NO_TAG;
    if (response == 0)
        fault = FAULT_SILENT;
    else if (response < 0)
        fault = FAULT_ERROR;
    else if (find_text(resp_buf, "OK") == nullptr)
        fault = FAULT_NO_OK;
    last_check.fault = fault;
    last_check.command = command;
    last_check.tag = tag;
    return CHECK_MODEM_FAILED;
}

const char* query_address(int fd, const char* query, const char* tag, int& response)
{
    SendCmd(fd, query);
    response = read_response(fd);
    return address_text(response, tag);
}

int check_ipv4_address(int fd, link_info& info, const family_commands& f)
{
    int response = 0;
    const char* text = query_address(fd, f.address_query, f.address_tag, response);
    if (answer_cut_short)
        return CHECK_CUT_SHORT;
    if (text == nullptr)
        return modem_failed(f.address_query, f.address_tag, response);
    uint32_t addr = parse_ipv4(text);
    if (info.modem_type == MODEM_MARVELL && addr == 0) {
        text = query_address(fd, GETIP_SECOND_QUERY, GETIP_TAG, response);
        if (answer_cut_short)
            return CHECK_CUT_SHORT;
        if (text != nullptr)
            addr = parse_ipv4(text);
    }
    if (addr != info.ipv4_addr) {
        info.ipv4_addr = addr;
        if (addr != 0)
            return CHECK_NEW_ADDRESS;
    }
    if (addr != 0)
        return CHECK_OK;
    info.attached = 0;
    return CHECK_OK;
}

// Only the Marvell family reports an IPv6 address. No address at all clears `attached`, as a
// zero IPv4 address does, so that the cycle scores a modem that never gets one.
int check_ipv6_address(int fd, link_info& info)
{
    if (info.modem_type != MODEM_MARVELL)
        return CHECK_OK;
    int response = 0;
    const char* text = query_address(fd, GETIP_QUERY, GETIP_TAG, response);
    if (answer_cut_short)
        return CHECK_CUT_SHORT;
    if (text == nullptr)
        return modem_failed(GETIP_QUERY, GETIP_TAG, response);
    uint8_t addr[16] = {};
    if (parse_ipv6(text, addr) != 0) {
        text = query_address(fd, GETIP_SECOND_QUERY, GETIP_TAG, response);
        if (answer_cut_short)
            return CHECK_CUT_SHORT;
        if (text != nullptr)
            parse_ipv6(text, addr);
    }
    static constexpr uint8_t NO_ADDRESS[16] = {};
    if (memcmp(addr, NO_ADDRESS, sizeof addr) == 0)
        info.attached = 0;
    if (memcmp(addr, info.ipv6_addr, sizeof addr) == 0)
        return CHECK_OK;
    memcpy(info.ipv6_addr, addr, sizeof addr);
    return CHECK_NEW_ADDRESS;
}

// The attach status from the answer to the family's attach query, or -1 when that answer
// failed the check or was cut short.
int read_attach_status(int fd, const family_commands& f)
{
    SendCmd(fd, f.attach_query);
    int response = read_response(fd);
    if (answer_cut_short)
        return -1;
    const char* tag = find_text(resp_buf, f.attach_tag);
    if (response == 0 || find_text(resp_buf, "OK") == nullptr || tag == nullptr) {
        modem_failed(f.attach_query, f.attach_tag, response);
        return -1;
    }
    return read_status(rest_of_line(tag + strlen(f.attach_tag)));
}

} // namespace

check_report last_check;
bool attach_when_detached = true;

int check_link(int fd, link_info& info)
{
    const family_commands& f = commands_for(info.modem_type);
    last_check = check_report{-1, 0, FAULT_NONE, nullptr, nullptr, f.attach_command};
    port_hung_up = false;
    int probed = probe(fd);
    if (probed == CHECK_MODEM_FAILED) {
        last_check.fault = FAULT_NOT_SENT;
        last_check.command = PROBE;
    }
    if (probed != CHECK_OK)
        return probed;
    int status = read_attach_status(fd, f);
    if (status < 0)
        return answer_cut_short ? CHECK_CUT_SHORT : CHECK_MODEM_FAILED;
    last_check.attach_status = status;
    if (status == 1) {
        info.attached = 1;
    } else if (status == info.attached) {
        // Detached and known to be: ask to attach and look again next cycle.
        if (!attach_when_detached)
            last_check.attach_sent = -1;
        else
            last_check.attach_sent = SendCmd(fd, f.attach_command) == 0 ? 1 : 0;
        return CHECK_OK;
    } else {
        info.attached = 0;
        info.ipv4_addr = 0;
        return CHECK_LOST;
    }
    return info.use_ipv6 ? check_ipv6_address(fd, info) : check_ipv4_address(fd, info, f);
}
