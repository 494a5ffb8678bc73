// cellwatch-check: one link check, as cellwatch holds it, told in words. It takes the lock and
// the port as cellwatch does and nothing else: no script, no interface, no event pipe.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "check/dialogue.h"
#include "check/one_check.h"
#include "check/scenario_file.h"
#include "check/text_out.h"
#include "check/verdict.h"
#include "modem/modem.h"
#include "supervisor/command_line.h"
#include "supervisor/process_setup.h"

namespace {

char stdout_buffer[BUFSIZ];

struct arguments {
    enum { CHECK, HELP, VERSION } mode = CHECK;
    bool attach = false;
    const char* scenario = nullptr;
    const char* port = nullptr;
    const char* type = nullptr;
    const char* family = nullptr;
};

void print_check_usage(FILE* to, const char* program)
{
    fprintf(to, "usage: %s [--attach] [--scenario FILE] PORT TYPE [IP_FAMILY]\n", program);
    fprintf(to, "examples:\t%s /dev/ttyUSB1 marvell ip6\n", program);
}

void print_help(const char* program)
{
    print_check_usage(stdout, program);
    printf("\nHolds one of cellwatch's link checks on PORT, under its lock, and says what it found.\n"
           "  --attach         ask a detached modem to attach, as cellwatch would (otherwise\n"
           "                   only queries are sent)\n"
           "  --scenario FILE  also write the dialogue as a modemsim scenario that replays it\n"
           "  --help, --version\n"
           "TYPE: altair, ericsson, marvell, or anything else for a generic modem.\n"
           "IP_FAMILY: ip6 for the IPv6 address, ip4 (the default) for IPv4.\n"
           "Exit status: 0 healthy, 1 usage, 2 not-attached, 3 lost, 4 modem-failed, 5 no-port,\n"
           "6 lock-busy. See cellwatch-check(8).\n");
}

bool parse_arguments(int argc, char* argv[], arguments& a)
{
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "--version") == 0) {
            a.mode = argv[i][2] == 'h' ? arguments::HELP : arguments::VERSION;
            return true;
        }
        if (strcmp(argv[i], "--attach") == 0 && !a.attach)
            a.attach = true;
        else if (strcmp(argv[i], "--scenario") == 0 && a.scenario == nullptr && i + 1 < argc)
            a.scenario = argv[++i];
        else
            return false;
    }
    int left = argc - i;
    if (left < 2 || left > 3 || argv[i][0] == '-')
        return false;
    a.port = argv[i];
    a.type = argv[i + 1];
    a.family = left == 3 ? argv[i + 2] : "";
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    prepare_process();
    setvbuf(stdout, stdout_buffer, _IOLBF, sizeof stdout_buffer);
    arguments a;
    const char* program = argc > 0 ? argv[0] : "cellwatch-check";
    if (!parse_arguments(argc, argv, a)) {
        print_check_usage(stderr, program);
        return VERDICT_USAGE;
    }
    if (a.mode == arguments::HELP) {
        print_help(program);
        return 0;
    }
    if (a.mode == arguments::VERSION) {
        printf("cellwatch-check %s\n", CELLWATCH_VERSION);
        return 0;
    }
    link_info info = {};
    info.modem_type = modem_type_of(a.type);
    info.use_ipv6 = strcmp(a.family, "ip6") == 0 ? 1 : 0;
    scenario_file file;
    if (a.scenario != nullptr && !file.open(a.scenario)) {
        fprintf(stderr, "cellwatch-check: %s: %s\n", a.scenario, file.problem(errno));
        return VERDICT_USAGE;
    }
    install_stop_handlers();
    // Only queries unless asked: a supervisor running beside the check must see a detach itself.
    attach_when_detached = a.attach;

    outcome o = run_one_check(a.port, info);
    text_out out(1);
    int verdict = report_outcome(out, o, a.port, info);
    report_arguments(out, a.type, a.family);
    if (o.stage == outcome::CHECKED) {
        print_dialogue(out);
        if (last_check.attach_sent < 0)
            print_withheld(out, last_check.attach_command);
    }
    out.flush();
    if (a.scenario != nullptr && !file.finish(o, a.port, a.type, info)) {
        fprintf(stderr, "cellwatch-check: %s: %s\n", a.scenario, strerror(errno));
        return VERDICT_USAGE;
    }
    return verdict;
}
