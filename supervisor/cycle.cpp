// The supervision loop and its failure score.
// The port is touched only while this process holds the lock file, which several links share.
#include "supervisor/cycle.h"

#include <cstdio>
#include <cstring>

#include "modem/modem.h"
#include "supervisor/lock.h"
#include "supervisor/pause.h"
#include "supervisor/shell.h"

namespace {

constexpr unsigned PAUSE_BEFORE_ATTEMPT = 1;
constexpr unsigned PAUSE_AFTER_CYCLE = 10;
constexpr size_t DHCP_COMMAND_CAPACITY = 128;

int check_once(link_info& info, const char* port)
{
    int fd = open_port(port, PORT_SPEED);
    if (fd < 0)
        return CHECK_NO_PORT;
    int result = check_link(fd, info);
    close_port(fd);
    return result;
}

int apply_threshold(int score)
{
    return score >= FAIL_THRESHOLD ? OUTCOME_FAILOVER : -1;
}

} // namespace

int score_result(int result, int attached, int& score)
{
    switch (result) {
    case CHECK_NEW_ADDRESS:
        score = 0;
        return -1;
    case CHECK_LOST:
        return OUTCOME_FAILOVER;
    case CHECK_OK:
        if (attached == 1) {
            score = 0;
            return -1;
        }
        score += POINTS_NOT_ATTACHED;
        return apply_threshold(score);
    case CHECK_MODEM_FAILED:
        score += POINTS_MODEM_FAILED;
        return apply_threshold(score);
    default:
        return apply_threshold(score);
    }
}

void run_dhcp_script(const link_info& info)
{
    char command[DHCP_COMMAND_CAPACITY];
    if (info.use_ipv6 == 1)
        snprintf(command, sizeof command, "/opt/vordane/bin/6dhcp.sh %s", info.ifname);
    else
        snprintf(command, sizeof command, "/opt/vordane/bin/4dhcp.sh %s", info.ifname);
    fprintf(stderr, "%s", command);
    int err = run_shell(command);
    if (err != 0)
        fprintf(stderr, "Fail to system(\"%s\"), errno: %d (%s)", command, err, strerror(err));
}

int fail_score = 0;

int run_cycle(link_info& info, const char* port)
{
    fail_score = 0;
    for (;;) {
        if (stop_requested)
            return OUTCOME_STOP;
        pause_seconds(PAUSE_BEFORE_ATTEMPT);
        if (!take_lock())
            continue;
        int result = check_once(info, port);
        release_lock();
        if (result == CHECK_NEW_ADDRESS)
            run_dhcp_script(info);
        if (score_result(result, info.attached, fail_score) == OUTCOME_FAILOVER)
            return OUTCOME_FAILOVER;
        pause_seconds(PAUSE_AFTER_CYCLE);
    }
}
