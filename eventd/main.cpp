// cellwatch-eventd: reads request lines from the event pipe and runs the failover script for
// each valid one, one at a time, with the interface as its one argument and no shell between.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <unistd.h>

#include "eventd/event_pipe.h"
#include "eventd/reject_log.h"
#include "eventd/request.h"
#include "supervisor/link_info.h"
#include "supervisor/process_setup.h"
#include "supervisor/shell.h"
#include "supervisor/signals.h"

namespace {

// A failover script still running after this long gets SIGTERM, and SIGKILL 5 s later: the
// requests of other links wait behind it.
constexpr int SCRIPT_LIMIT_MS = 120000;
constexpr size_t READ_CHUNK = 4096;

void run_failover(const judged_line& line)
{
    fprintf(stderr, "cellwatch-eventd: running %s %s\n", FAILOVER_SCRIPT, line.iface);
    // execve takes non-const words but never changes them.
    char* argv[] = {const_cast<char*>(FAILOVER_SCRIPT), const_cast<char*>(line.iface), nullptr};
    int err = run_program(FAILOVER_SCRIPT, argv, SCRIPT_LIMIT_MS);
    if (err != 0)
        fprintf(stderr, "cellwatch-eventd: %s could not be run: %d (%s)\n", FAILOVER_SCRIPT, err,
                strerror(err));
}

void act_on(const finished_lines& lines)
{
    for (int i = 0; i < lines.count; ++i) {
        if (lines.line[i].verdict == LINE_OK)
            run_failover(lines.line[i]);
        else
            tell_rejected(lines.line[i]);
    }
}

// Reads what the pipe holds now and acts on each whole line; a line left without its end when
// the pipe runs dry is rejected. Returns false once every writer has closed (the pipe must be
// opened again), true otherwise.
bool read_requests(int fd, line_splitter& lines)
{
    static char chunk[READ_CHUNK];
    finished_lines done;
    for (;;) {
        ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            lines.end_of_data(done);
            act_on(done);
            return got < 0;
        }
        size_t at = 0;
        while (at < static_cast<size_t>(got)) {
            at += lines.feed(chunk + at, static_cast<size_t>(got) - at, done);
            act_on(done);
        }
    }
}

// Waits for the pipe to be readable or for the untold rejections to fall due. The stop signals
// are blocked from the stop flag's check until ppoll, which takes them again atomically: a stop
// that came between the two would otherwise leave the wait without end.
int wait_for_requests(int fd, bool& stopping)
{
    sigset_t stops;
    sigset_t others;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGHUP);
    sigprocmask(SIG_BLOCK, &stops, &others);
    stopping = stop_requested != 0;
    int ready = 0;
    if (!stopping) {
        struct pollfd p = {fd, POLLIN, 0};
        int due = untold_due_in();
        struct timespec t = {due / 1000, (due % 1000) * 1000000L};
        ready = ppoll(&p, 1, due < 0 ? nullptr : &t, &others);
    }
    int err = errno;
    sigprocmask(SIG_SETMASK, &others, nullptr);
    errno = err;
    return ready;
}

int serve(int fd)
{
    line_splitter lines;
    for (;;) {
        bool stopping = false;
        int ready = wait_for_requests(fd, stopping);
        if (stopping)
            return 0;
        tell_untold();
        if (ready < 0 && errno != EINTR) {
            fprintf(stderr, "cellwatch-eventd: poll: %d (%s)\n", errno, strerror(errno));
            return 1;
        }
        if (ready <= 0)
            continue;
        if (!read_requests(fd, lines) && reopen_event_pipe(EVENT_PIPE_PATH, fd) != 0)
            return 1;
    }
}

} // namespace

int main(int argc, char* argv[])
{
    prepare_process();
    // The version, for the router's package tests and for a user asking which build runs.
    if (argc == 2 && strcmp(argv[1], "--version") == 0) {
        printf("cellwatch-eventd %s\n", CELLWATCH_VERSION);
        return 0;
    }
    if (argc > 1) {
        fprintf(stderr, "usage: %s [--version]\n(no arguments: it serves %s)\n", argv[0],
                EVENT_PIPE_PATH);
        return 1;
    }
    install_stop_signal(SIGINT);
    install_stop_signal(SIGTERM);
    install_stop_signal(SIGHUP);
    int fd = open_event_pipe(EVENT_PIPE_PATH);
    if (fd < 0)
        return 1;
    fprintf(stderr, "cellwatch-eventd: serving %s\n", EVENT_PIPE_PATH);
    int status = serve(fd);
    tell_untold(true);
    // The pipe stays: a writer that comes before the next start waits for it, and is served.
    close(fd);
    return status;
}
