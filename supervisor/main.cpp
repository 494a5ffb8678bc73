// The entry point: start-up in order, supervision, then teardown and, on failover, the request.
#include <csignal>
#include <cstdio>

#include "supervisor/command_line.h"
#include "supervisor/cycle.h"
#include "supervisor/failover.h"
#include "supervisor/link_info.h"
#include "supervisor/one_instance.h"
#include "supervisor/process_setup.h"
#include "supervisor/signals.h"

namespace {

constexpr int MIN_ARGC = 4;

// Line buffering makes each address line reach a log file or pipe as it is printed.
char stdout_buffer[BUFSIZ];

} // namespace

int main(int argc, char* argv[])
{
    prepare_process();
    setvbuf(stdout, stdout_buffer, _IOLBF, sizeof stdout_buffer);
    if (argc < MIN_ARGC) {
        print_usage(argc > 0 ? argv[0] : "cellwatch");
        return 1;
    }
    link_info info;
    if (fill_link_info(info, argc, argv) != 0 || claim_port(argv[1]) != 0)
        return 1;
    // A hang-up (a closed terminal, a service manager's reload) is a stop request too: its
    // default action would end the run with the lock held and the interface up. A run started
    // with it ignored, under nohup, keeps it so.
    install_stop_signal(SIGINT);
    install_stop_signal(SIGTERM);
    install_stop_signal(SIGHUP);

    int outcome = run_cycle(info, argv[1]);
    teardown_interface(info);
    if (outcome == OUTCOME_FAILOVER)
        cm_run_failover(info.ifname);
    return 0;
}
