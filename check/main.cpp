// cellwatch-check: one link check, as cellwatch holds it, told in words. It takes the lock and
// the port as cellwatch does and nothing else: no script, no interface, no event pipe.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "check/dialogue.h"
#include "check/text_out.h"
#include "check/verdict.h"
#include "modem/modem.h"
#include "supervisor/command_line.h"
#include "supervisor/cycle.h"
#include "supervisor/lock.h"
#include "supervisor/pause.h"
#include "supervisor/process_setup.h"
#include "supervisor/signals.h"

namespace {

constexpr unsigned LOCK_WAIT_S = 30;
constexpr const char* FAMILY_WORDS[] = {"generic", "altair", "ericsson", "marvell"};
static_assert(sizeof FAMILY_WORDS / sizeof FAMILY_WORDS[0] == MODEM_MARVELL + 1, "a word each");
// An interactive tool is also ended by a closed terminal or a quit key: none of them may leave
// the lock behind, which would keep every cellwatch off its modem.
constexpr int STOP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

char stdout_buffer[BUFSIZ];

struct arguments {
    const char* scenario = nullptr;
    const char* port = nullptr;
    const char* type = nullptr;
    const char* family = nullptr;
};

void print_check_usage(const char* program)
{
    fprintf(stderr, "usage: %s [--scenario FILE] PORT TYPE [IP_FAMILY]\n", program);
    fprintf(stderr, "examples:\t%s /dev/ttyUSB1 marvell ip6\n", program);
}

bool parse_arguments(int argc, char* argv[], arguments& a)
{
    int i = 1;
    if (i + 1 < argc && strcmp(argv[i], "--scenario") == 0) {
        a.scenario = argv[i + 1];
        i += 2;
    }
    int left = argc - i;
    if (left < 2 || left > 3 || argv[i][0] == '-')
        return false;
    a.port = argv[i];
    a.type = argv[i + 1];
    a.family = left == 3 ? argv[i + 2] : "";
    return true;
}

// The modem code writes its own trail: commands to descriptor 0, answers and address lines to
// standard output and error, raw CRs and all. The report tells all of it, so while a guard
// lives those descriptors lead to /dev/null.
class muted_trail {
public:
    muted_trail()
    {
        fflush(stdout);
        int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
        for (int fd = 1; fd <= 2 && null_fd >= 0; ++fd) {
            saved_[fd] = fcntl(fd, F_DUPFD_CLOEXEC, 3);
            dup2(null_fd, fd);
        }
        if (null_fd >= 0)
            close(null_fd);
    }
    ~muted_trail()
    {
        fflush(stdout);
        fflush(stderr);
        for (int fd = 1; fd <= 2; ++fd) {
            if (saved_[fd] >= 0) {
                dup2(saved_[fd], fd);
                close(saved_[fd]);
            }
        }
    }
    muted_trail(const muted_trail&) = delete;
    muted_trail& operator=(const muted_trail&) = delete;

private:
    int saved_[3] = {-1, -1, -1};
};

void point_input_at_null()
{
    int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (fd > 0) {
        dup2(fd, 0);
        close(fd);
    }
}

// How far a run got, and what it found there.
struct outcome {
    enum { LOCK_NOT_HAD, PORT_NOT_OPEN, CHECKED } stage = LOCK_NOT_HAD;
    int result = 0;    // check_link's, once CHECKED
    int err = 0;       // why the port did not open, or why the lock could not be created
    long waited = 0;   // seconds waited for the lock
    bool stopped = false;
};

// Holding the lock: the port, one check, the port put back.
void check_under_lock(const char* port, link_info& info, outcome& o)
{
    muted_trail muted;
    int fd = open_port(port, PORT_SPEED);
    if (fd < 0) {
        o.err = errno;
        o.stage = outcome::PORT_NOT_OPEN;
        return;
    }
    record_dialogue();
    o.result = check_link(fd, info);
    at_trace = nullptr;
    close_port(fd);
    o.stage = outcome::CHECKED;
}

long seconds_since(const struct timespec& from)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return ((now.tv_sec - from.tv_sec) * 1000L + (now.tv_nsec - from.tv_nsec) / 1000000L) / 1000L;
}

// Polls for the lock once a second, as cellwatch does, for at most LOCK_WAIT_S; then checks
// under it. Stop signals wait while the lock is held, so the dialogue in progress ends whole and
// the lock is always removed.
outcome run_check(const char* port, link_info& info)
{
    sigset_t stops;
    sigset_t old;
    sigemptyset(&stops);
    for (int signo : STOP_SIGNALS)
        sigaddset(&stops, signo);
    struct timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    outcome o;
    for (;;) {
        sigprocmask(SIG_BLOCK, &stops, &old);
        bool held = take_lock();
        int err = errno;
        if (held) {
            check_under_lock(port, info, o);
            release_lock();
        }
        sigprocmask(SIG_SETMASK, &old, nullptr);
        o.waited = seconds_since(start);
        if (held)
            return o;
        if (err != EEXIST) {
            o.err = err;
            return o;
        }
        if (stop_requested || o.waited >= static_cast<long>(LOCK_WAIT_S)) {
            o.stopped = stop_requested != 0;
            return o;
        }
        pause_seconds(1);
    }
}

int report(text_out& out, const outcome& o, const char* port, const link_info& info)
{
    switch (o.stage) {
    case outcome::CHECKED:
        return report_check(out, o.result, info);
    case outcome::PORT_NOT_OPEN:
        return report_no_port(out, port, o.err);
    default:
        return report_lock_busy(out, LOCK_PATH, o.waited, o.stopped, o.err);
    }
}

// The file --scenario names. It is opened before the modem is touched, so that a path that
// cannot be written costs no dialogue, and it is only emptied once there is a dialogue to put in
// it: a run that had none leaves an existing file as it was and removes one it created.
class scenario_file {
public:
    // False, with errno, when `path` cannot be written. Only a regular file is taken: opening
    // a FIFO for writing would wait for a reader, and the event pipe is one.
    bool open(const char* path)
    {
        path_ = path;
        constexpr int FLAGS = O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
        struct stat st;
        not_regular_ = stat(path, &st) == 0 && !S_ISREG(st.st_mode);
        if (not_regular_)
            return false;
        fd_ = ::open(path, FLAGS | O_CREAT | O_EXCL, 0644);
        created_ = fd_ >= 0;
        if (fd_ < 0 && errno == EEXIST)
            fd_ = ::open(path, FLAGS);
        // What was opened may have been put there since the look.
        if (fd_ >= 0 && (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode))) {
            close(fd_);
            fd_ = -1;
            not_regular_ = true;
        }
        return fd_ >= 0;
    }
    // Why open failed.
    const char* problem(int err) const
    {
        return not_regular_ ? "not a regular file" : strerror(err);
    }
    // Returns false, with errno, when the steps could not be written whole.
    bool finish(const outcome& o, const arguments& a, const link_info& info)
    {
        if (o.stage != outcome::CHECKED) {
            if (created_)
                unlink(path_);
            return true;
        }
        if (ftruncate(fd_, 0) != 0)
            return false;
        text_out out(fd_);
        out.text("# Recorded by cellwatch-check on ");
        out.visible(a.port, strlen(a.port));
        out.text(", TYPE ");
        out.visible(a.type, strlen(a.type));
        out.text(info.use_ipv6 == 1 ? ", ip6: " : ": ");
        report(out, o, a.port, info);
        out.text("# Replay: modemsim on this file, then cellwatch-check on the port it prints "
                 "with the same TYPE and IP_FAMILY.\n");
        write_scenario_steps(out, FAMILY_WORDS[info.modem_type]);
        return out.flush();
    }
    ~scenario_file()
    {
        if (fd_ >= 0)
            close(fd_);
    }

private:
    const char* path_ = nullptr;
    int fd_ = -1;
    bool created_ = false;
    bool not_regular_ = false;
};

} // namespace

int main(int argc, char* argv[])
{
    prepare_process();
    setvbuf(stdout, stdout_buffer, _IOLBF, sizeof stdout_buffer);
    arguments a;
    if (!parse_arguments(argc, argv, a)) {
        print_check_usage(argc > 0 ? argv[0] : "cellwatch-check");
        return VERDICT_USAGE;
    }
    link_info info = {};
    info.modem_type = modem_type_of(a.type);
    info.use_ipv6 = strcmp(a.family, "ip6") == 0 ? 1 : 0;
    point_input_at_null();
    scenario_file file;
    if (a.scenario != nullptr && !file.open(a.scenario)) {
        fprintf(stderr, "cellwatch-check: %s: %s\n", a.scenario, file.problem(errno));
        return VERDICT_USAGE;
    }
    for (int signo : STOP_SIGNALS)
        install_signal(signo, on_stop_signal);

    outcome o = run_check(a.port, info);
    text_out out(1);
    int verdict = report(out, o, a.port, info);
    if (o.stage == outcome::CHECKED)
        print_dialogue(out);
    out.flush();
    if (a.scenario != nullptr && !file.finish(o, a, info)) {
        fprintf(stderr, "cellwatch-check: %s: %s\n", a.scenario, strerror(errno));
        return VERDICT_USAGE;
    }
    return verdict;
}
