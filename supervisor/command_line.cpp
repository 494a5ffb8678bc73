// The command line: the family table, the IFACE check and the filling of the link record.
// IFACE ends up inside commands run by the shell as root, so it is checked before anything runs.
#include "supervisor/command_line.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

namespace {

struct family_name {
    const char* type;
    uint32_t code;
};

constexpr std::array<family_name, 3> FAMILY_NAMES = {{
    {"altair", MODEM_ALTAIR},
    {"ericsson", MODEM_ERICSSON},
    {"marvell", MODEM_MARVELL},
}};

constexpr size_t IFNAME_MAX = sizeof(link_info::ifname) - 1;

bool is_ifname_char(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '.' || c == '-' || c == '_';
}

} // namespace

void make_printable(const char* in, char* out, size_t size)
{
    size_t n = 0;
    for (; n + 1 < size && in[n] != '\0'; ++n) {
        unsigned char c = static_cast<unsigned char>(in[n]);
        out[n] = c >= 0x20 && c < 0x7f ? static_cast<char>(c) : '?';
    }
    out[n] = '\0';
}

uint32_t modem_type_of(const char* type)
{
    for (const family_name& f : FAMILY_NAMES)
        if (strcmp(type, f.type) == 0)
            return f.code;
    return MODEM_GENERIC;
}

const char* family_name_of(uint32_t code)
{
    const auto* f = std::find_if(FAMILY_NAMES.begin(), FAMILY_NAMES.end(),
                                 [code](const family_name& n) { return n.code == code; });
    return f != FAMILY_NAMES.end() ? f->type : "generic";
}

int ifname_fault(const char* iface)
{
    size_t len = strnlen(iface, IFNAME_MAX + 1);
    if (len == 0)
        return IFNAME_EMPTY;
    if (len > IFNAME_MAX)
        return IFNAME_LONG;
    // The commands would take a leading '-' for an option: "/sbin/ifconfig -a 0.0.0.0 down".
    if (iface[0] == '-')
        return IFNAME_DASH;
    for (size_t i = 0; i < len; ++i)
        if (!is_ifname_char(iface[i]))
            return IFNAME_CHARACTER;
    return IFNAME_OK;
}

int check_ifname(const char* iface)
{
    int fault = ifname_fault(iface);
    char shown[40];
    make_printable(iface, shown, sizeof shown);
    if (fault == IFNAME_EMPTY)
        fprintf(stderr, "IFACE is empty: give the name of the modem's network interface\n");
    else if (fault == IFNAME_LONG)
        fprintf(stderr, "IFACE \"%s\" is longer than %zu characters\n", shown, IFNAME_MAX);
    else if (fault == IFNAME_DASH)
        fprintf(stderr, "IFACE \"%s\" begins with '-', which the commands would take for an option\n",
                shown);
    else if (fault == IFNAME_CHARACTER)
        fprintf(stderr,
                "IFACE \"%s\" holds a character other than letters, digits, '.', '-' and '_'\n",
                shown);
    return fault == IFNAME_OK ? 0 : -1;
}

int fill_link_info(link_info& info, int argc, char* const argv[])
{
    info = link_info{};
    if (check_ifname(argv[3]) != 0)
        return -1;
    memcpy(info.ifname, argv[3], strlen(argv[3]));
    info.modem_type = modem_type_of(argv[2]);
    if (argc > 4 && strcmp(argv[4], "ip6") == 0)
        info.use_ipv6 = 1;
    return 0;
}

void print_usage(const char* program)
{
    fprintf(stderr, "usage: %s PORT TYPE IFACE [IP_FAMILY]\n", program);
    fprintf(stderr, "examples:\t%s /dev/ttyUSB1 marvell wwan0 ip6\n", program);
}
