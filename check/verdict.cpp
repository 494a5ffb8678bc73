// Turning one check's result into a verdict a maintainer can act on.
#include "check/verdict.h"

#include <arpa/inet.h>
#include <cstring>

#include "check/dialogue.h"
#include "modem/modem.h"
#include "supervisor/command_line.h"

namespace {

// How many probes the dialogue holds, when every one of them was sent and got no answer at all.
size_t silent_probes()
{
    size_t probes = 0;
    for (size_t i = 0; i < exchange_count(); ++i) {
        const exchange& e = exchange_at(i);
        if (strcmp(e.command, "AT\r") != 0)
            continue;
        if (e.sent < 0 || !e.answered || e.len > 0)
            return 0;
        ++probes;
    }
    return probes;
}

// Why the modem failed the check: which command, and what its answer lacked. A modem that never
// answered the probe is named as such, whatever the command that failed after it.
int report_modem_failed(text_out& out)
{
    const check_report& r = last_check;
    int n = r.command != nullptr ? command_length(r.command) : 0;
    out.text("modem-failed: ");
    size_t probes = silent_probes();
    if (probes > 0 && r.fault != FAULT_NOT_SENT && r.attach_status < 0) {
        out.format("no answer to AT (%zu tries)\n", probes);
        return VERDICT_MODEM_FAILED;
    }
    switch (r.fault) {
    case FAULT_NOT_SENT:
        {
            int err = exchange_count() > 0 ? exchange_at(exchange_count() - 1).send_errno : 0;
            out.format("%.*s could not be sent: %d %s\n", n, r.command, err, strerror(err));
        }
        break;
    case FAULT_SILENT:
        out.format("no answer to %.*s\n", n, r.command);
        break;
    case FAULT_ERROR:
        out.format("\"ERROR\" and no \"OK\" in the answer to %.*s\n", n, r.command);
        break;
    case FAULT_NO_OK:
        out.format("no \"OK\" in the answer to %.*s\n", n, r.command);
        break;
    default:
        // Past the attach query, the tag looked for is an address's.
        out.format("no \"%s\"%s in the answer to %.*s\n", r.tag != nullptr ? r.tag : "",
                   r.attach_status >= 0 ? " line with a comma" : "", n, r.command);
        break;
    }
    return VERDICT_MODEM_FAILED;
}

int report_healthy(text_out& out, const link_info& info)
{
    char shown[INET6_ADDRSTRLEN] = "";
    if (info.use_ipv6 != 1) {
        inet_ntop(AF_INET, &info.ipv4_addr, shown, sizeof shown);
        out.format("healthy: attached, IPv4 %s\n", shown);
    } else if (info.modem_type == MODEM_MARVELL) {
        inet_ntop(AF_INET6, info.ipv6_addr, shown, sizeof shown);
        out.format("healthy: attached, IPv6 %s\n", shown);
    } else {
        out.text("healthy: attached, no address read (only the marvell family reports an IPv6 "
                 "address)\n");
    }
    return VERDICT_HEALTHY;
}

int report_not_attached(text_out& out, const link_info& info)
{
    const check_report& r = last_check;
    if (r.attach_status == 1)
        out.format("not-attached: attach status 1, but no %s address\n",
                   info.use_ipv6 == 1 ? "IPv6" : "IPv4");
    else if (r.attach_sent == 1)
        out.format("not-attached: attach status %d; asked the modem to attach\n", r.attach_status);
    else if (r.attach_sent < 0)
        out.format("not-attached: attach status %d; cellwatch would ask the modem to attach "
                   "(%.*s, not sent without --attach)\n",
                   r.attach_status, command_length(r.attach_command), r.attach_command);
    else
        out.format("not-attached: attach status %d; the attach command could not be sent\n",
                   r.attach_status);
    return VERDICT_NOT_ATTACHED;
}

} // namespace

int report_check(text_out& out, int result, const link_info& info)
{
    if (result == CHECK_MODEM_FAILED)
        return report_modem_failed(out);
    if (result == CHECK_LOST) {
        out.format("lost: attach status %d\n", last_check.attach_status);
        return VERDICT_LOST;
    }
    return info.attached == 1 ? report_healthy(out, info) : report_not_attached(out, info);
}

void report_arguments(text_out& out, const char* type, const char* family)
{
    if (modem_type_of(type) == MODEM_GENERIC && strcmp(type, "generic") != 0) {
        out.text("note: TYPE \"");
        out.visible(type, strlen(type));
        out.text("\" is none of altair, ericsson, marvell, generic: checked as a generic modem, "
                 "as cellwatch would\n");
    }
    if (*family != '\0' && strcmp(family, "ip4") != 0 && strcmp(family, "ip6") != 0) {
        out.text("note: IP_FAMILY \"");
        out.visible(family, strlen(family));
        out.text("\" is neither ip4 nor ip6: checked for an IPv4 address, as cellwatch would\n");
    }
}

int report_no_port(text_out& out, const char* port, int err)
{
    out.text("no-port: ");
    out.visible(port, strlen(port));
    out.format(": %s\n", strerror(err));
    return VERDICT_NO_PORT;
}

int report_lock_busy(text_out& out, const char* lock, long waited, bool stopped, int err)
{
    if (err != 0)
        out.format("lock-busy: %s cannot be created: %s\n", lock, strerror(err));
    else
        out.format("lock-busy: %s held for %ld s%s\n", lock, waited,
                   stopped ? "; stopped by a signal" : "");
    return VERDICT_LOCK_BUSY;
}
