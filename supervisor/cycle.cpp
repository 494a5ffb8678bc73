// The supervision loop and its failure score.
// The port is touched only while this process holds the lock file, which several links share.
#include "supervisor/cycle.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "modem/at_channel.h"
#include "modem/modem.h"
#include "supervisor/lock.h"
#include "supervisor/pause.h"
#include "supervisor/shell.h"
#include "supervisor/signals.h"

namespace {

constexpr unsigned PAUSE_BEFORE_ATTEMPT = 1;
constexpr unsigned PAUSE_AFTER_CYCLE = 10;
constexpr size_t DHCP_COMMAND_CAPACITY = 128;
// Polls a second apart that find the same holder before it is told: more than a minute.
constexpr unsigned BUSY_POLLS_TOLD = 61;

// What the lock's polls have found so far, so that each state is told once, not every second.
struct lock_watch {
    int last_err = 0;        // the last poll's: 0 taken, EEXIST held, or why it failed
    pid_t holder = -1;       // the holder the last poll found, -1 for none named
    unsigned busy_polls = 0; // polls in a row that found that holder
};
lock_watch watch;

// One poll for the lock. A lock that cannot be created is told at the first failure and when
// the reason changes; one that another holds, once that holder has kept it for over a minute.
bool lock_taken()
{
    pid_t holder = -1;
    bool taken = take_lock(holder);
    int err = taken ? 0 : errno;
    if (err == EEXIST) {
        bool same = watch.last_err == EEXIST && holder == watch.holder;
        watch.busy_polls = same ? watch.busy_polls + 1 : 1;
        watch.holder = holder;
        if (watch.busy_polls == BUSY_POLLS_TOLD && holder > 0)
            fprintf(stderr, "%s held by process %d for over a minute\n", LOCK_PATH,
                    static_cast<int>(holder));
        else if (watch.busy_polls == BUSY_POLLS_TOLD)
            fprintf(stderr, "%s held for over a minute\n", LOCK_PATH);
    } else if (err != 0 && err != watch.last_err) {
        fprintf(stderr, "%s cannot be created: %d (%s)\n", LOCK_PATH, err, strerror(err));
    }
    watch.last_err = err;
    return taken;
}

// The errors of an open whose device is not there: unplugged, or not yet back.
bool device_gone(int err)
{
    return err == ENOENT || err == ENODEV || err == ENXIO;
}

int check_once(link_info& info, const char* port)
{
    int fd = open_port(port, PORT_SPEED);
    if (fd < 0) {
        if (device_gone(errno))
            forget_address(info);
        return CHECK_NO_PORT;
    }
    int result = check_link(fd, info);
    close_port(fd);
    if (port_hung_up)
        forget_address(info);
    return result;
}

// The lock, the port and the check, with the suspending signals held off until the lock is
// released. False when the lock was not had; otherwise the check's result is in `result`.
bool checked_under_lock(link_info& info, const char* port, int& result)
{
    sigset_t suspend;
    sigset_t old;
    sigemptyset(&suspend);
    add_suspend_signals(suspend);
    sigprocmask(SIG_BLOCK, &suspend, &old);
    bool locked = lock_taken();
    if (locked) {
        result = check_once(info, port);
        release_lock();
    }
    sigprocmask(SIG_SETMASK, &old, nullptr);
    return locked;
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

void forget_address(link_info& info)
{
    info.ipv4_addr = 0;
    memset(info.ipv6_addr, 0, sizeof info.ipv6_addr);
}

int run_dhcp_script(const link_info& info)
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
    return err;
}

int fail_score = 0;

int run_cycle(link_info& info, const char* port)
{
    fail_score = 0;
    watch = lock_watch{};
    for (;;) {
        if (stop_requested)
            return OUTCOME_STOP;
        pause_seconds(PAUSE_BEFORE_ATTEMPT);
        int result = CHECK_NO_PORT;
        if (!checked_under_lock(info, port, result))
            continue;
        // A dialogue that a stop cut short scores nothing: the modem was not heard out.
        if (result == CHECK_CUT_SHORT)
            continue;
        // An address whose script never ran is not yet in use: the next cycle tries again.
        if (result == CHECK_NEW_ADDRESS && run_dhcp_script(info) != 0)
            forget_address(info);
        if (score_result(result, info.attached, fail_score) == OUTCOME_FAILOVER)
            return OUTCOME_FAILOVER;
        pause_seconds(PAUSE_AFTER_CYCLE);
    }
}
