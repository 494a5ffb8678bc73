// A month of supervision in minutes: the real supervision cycle, in-process, against modemsim on
// a pty, with the modem's behaviour drawn for each cycle from a seeded random schedule, and a
// reference model of the scoring rules, written from the rules, that predicts each cycle's score,
// DHCP script runs and end. Throughout, the descriptors stay the same, the program allocates
// nothing, the lock is never left behind nor taken from a live holder, and the port's settings
// come back after every dialogue.
//
// The waits the program makes by design are cut short, as the cycle's tests cut the pause: the
// pauses do not wait, and a wait for an answer that the modem will not give (modemsim says when it
// has written everything for every command it was sent) ends at once, as if its time had passed.
// Every decision is still taken by the program's own code, on what the port really delivered.
//
// usage: soak [CYCLES [SEED]]   prints the figures; exit status 1 when any decision disagreed
// with the model or anything drifted, 2 when the soak itself could not run.
#include <cerrno>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "modem/at_channel.h"
#include "modem/modem.h"
#include "supervisor/cycle.h"
#include "supervisor/lock.h"
#include "supervisor/pause.h"
#include "support.h"

// ---- Time as the program sees it ----------------------------------------------------------

extern "C" {
int __real_poll(struct pollfd* fds, nfds_t n, int timeout);
int __real_clock_gettime(clockid_t clock, struct timespec* ts);
int __real_nanosleep(const struct timespec* req, struct timespec* rem);
int __wrap_poll(struct pollfd* fds, nfds_t n, int timeout);
int __wrap_clock_gettime(clockid_t clock, struct timespec* ts);
int __wrap_nanosleep(const struct timespec* req, struct timespec* rem);
}

namespace {

int64_t virtual_ns = 0;    // the program's CLOCK_MONOTONIC
int said = 2;              // the soak's own standard error: the program's goes to a pipe
int acks_fd = -1;          // modemsim's: 'a' per command handled, 'c' per control line applied
uint64_t commands_sent = 0;
uint64_t commands_handled = 0;
uint64_t control_applied = 0;

void advance(int64_t ns)
{
    virtual_ns += ns;
}

[[noreturn]] void give_up(const char* why)
{
    dprintf(said, "soak: %s\n", why);
    _exit(2);
}

void read_acks()
{
    char buf[256];
    for (ssize_t n; (n = read(acks_fd, buf, sizeof buf)) > 0;)
        for (ssize_t i = 0; i < n; ++i)
            ++(buf[i] == 'a' ? commands_handled : control_applied);
}

int64_t real_ms()
{
    struct timespec ts;
    __real_clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Waits in real time while the modem still owes an answer to a command it was sent.
void wait_for_modem(struct pollfd* fds, nfds_t n, int& ready)
{
    int64_t limit = real_ms() + 10000;
    for (read_acks(); commands_handled < commands_sent; read_acks()) {
        ready = __real_poll(fds, n, 2);
        if (ready != 0)
            return;
        if (real_ms() > limit)
            give_up("modemsim did not handle a command within 10 s");
    }
    ready = __real_poll(fds, n, 0); // the last piece may have come meanwhile
}

} // namespace

extern "C" int __wrap_clock_gettime(clockid_t clock, struct timespec* ts)
{
    if (clock != CLOCK_MONOTONIC)
        return __real_clock_gettime(clock, ts);
    ts->tv_sec = static_cast<time_t>(virtual_ns / 1000000000);
    ts->tv_nsec = static_cast<long>(virtual_ns % 1000000000);
    return 0;
}

// Readiness is the port's own; only a wait that nothing can end any more is cut short, and the
// time it would have taken passes on the program's clock.
extern "C" int __wrap_poll(struct pollfd* fds, nfds_t n, int timeout)
{
    int ready = __real_poll(fds, n, 0);
    if (ready != 0 || timeout == 0)
        return ready;
    wait_for_modem(fds, n, ready);
    if (ready == 0)
        advance(static_cast<int64_t>(timeout) * 1000000);
    return ready;
}

extern "C" int __wrap_nanosleep(const struct timespec* req, struct timespec* rem)
{
    advance(static_cast<int64_t>(req->tv_sec) * 1000000000 + req->tv_nsec);
    struct timespec brief = {0, 1000000};
    return __real_nanosleep(&brief, rem);
}

// ---- The program's heap ---------------------------------------------------------------------

namespace {
bool counting = false;   // true while the program's own code runs
uint64_t allocations = 0;
} // namespace

#ifndef CELLWATCH_SANITIZED
extern "C" {
void* __libc_malloc(size_t n);
void* __libc_calloc(size_t n, size_t size);
void* __libc_realloc(void* p, size_t n);
void* __libc_memalign(size_t align, size_t n);
void __libc_free(void* p);
void* memalign(size_t align, size_t n);

void* malloc(size_t n)
{
    allocations += counting;
    return __libc_malloc(n);
}
void* calloc(size_t n, size_t size)
{
    allocations += counting;
    return __libc_calloc(n, size);
}
void* realloc(void* p, size_t n)
{
    allocations += counting;
    return __libc_realloc(p, n);
}
void* memalign(size_t align, size_t n)
{
    allocations += counting;
    return __libc_memalign(align, n);
}
int posix_memalign(void** out, size_t align, size_t n)
{
    allocations += counting;
    void* p = __libc_memalign(align, n);
    if (p == nullptr)
        return ENOMEM;
    *out = p;
    return 0;
}
void* aligned_alloc(size_t align, size_t n)
{
    allocations += counting;
    return __libc_memalign(align, n);
}
void free(void* p)
{
    __libc_free(p);
}
}
#endif

namespace {

// ---- The schedule ---------------------------------------------------------------------------

// What the modem does in one dialogue, and the other things a cycle may meet.
enum kind : int {
    HEALTHY, NEW_ADDRESS, ZERO_ADDRESS, DETACHED, ATTACH_REFUSED, ERROR_ANSWER, ADDRESS_ERROR,
    SILENT_QUERY, SILENT_MODEM, PIECES, NOISE, FLOOD, UNPLUGGED, LOST, KIND_COUNT
};
const char* const KIND_NAMES[KIND_COUNT] = {
    "healthy", "new address", "zero address", "not attached", "attach refused", "ERROR",
    "ERROR to the address query", "silence to the attach query", "silent modem",
    "answers in pieces", "noise", "flood", "unplugged and back", "link lost"};
// Weights; the detached kinds are drawn only while the link is known to be detached (an attached
// link that the modem says is detached is a lost one).
const uint32_t WEIGHTS[KIND_COUNT] = {330, 70, 40, 150, 150, 60, 40, 50, 30, 30, 60, 30, 25, 20};

// The modemsim steps for a kind, after "reset".
const char* const STEPS[KIND_COUNT] = {
    "", "", "ipv4 none\n", "attach 0\n", "attach 0\nattach-command ignored\n",
    "answer AT+CGATT? \\r\\nERROR\\r\\n\n", "answer AT+CGPADDR \\r\\nERROR\\r\\n\n",
    "ignore AT+CGATT?\n", "silent on\n", "chunk 16 1\n", "noise 64 clean\n", "flood 5000\n",
    "unplug AT+CGATT?\n", "attach 2\n"};

enum event : int { LOCK_HELD, LOCK_STALE, STOPPED, RESTARTED, EVENT_COUNT };
const char* const EVENT_NAMES[EVENT_COUNT] = {"lock held by another", "stale lock recovered",
                                              "stop signal", "restarts"};

struct random_source {
    uint64_t state;
    uint32_t next()
    {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(state >> 33);
    }
    uint32_t below(uint32_t n) { return next() % n; }
};

// ---- The reference model, from the rules -----------------------------------------------------
//
// A dialogue: a modem whose attach query fails (no answer, ERROR, no OK, no tag) has failed. An
// attach status of 1 makes the link attached, and the address is read: a failed address query
// is a failed modem; a different address is stored, and a new non-zero one is news; no address
// makes the link detached. Status 0 on a detached link is answered with the attach command; on
// an attached link, or any other status, the link is lost and forgotten. Scoring: news or an
// attached healthy check resets the score, a detached check adds 1, a failed modem 4; the link
// lost, or a score of 11 or more, ends the run in failover. A port that is not there changes
// nothing but the address, which is forgotten, as it is when the port hangs up in a dialogue.
struct model {
    int score = 0;
    bool attached = false;
    uint32_t stored = 0;
    uint64_t dhcp_runs = 0;

    enum { GOES_ON, FAILS_OVER };

    int failed(int points)
    {
        score += points;
        return score >= FAIL_THRESHOLD ? FAILS_OVER : GOES_ON;
    }

    int lost()
    {
        attached = false;
        stored = 0;
        return FAILS_OVER;
    }

    int address(uint32_t addr)
    {
        attached = true;
        if (addr != stored) {
            stored = addr;
            if (addr != 0) {
                ++dhcp_runs;
                score = 0;
                return GOES_ON;
            }
        }
        if (addr == 0) {
            attached = false;
            return failed(1);
        }
        score = 0;
        return GOES_ON;
    }

    int dialogue(int k, uint32_t network)
    {
        switch (k) {
        case HEALTHY: case NEW_ADDRESS: case PIECES: case NOISE:
            return address(network);
        case ZERO_ADDRESS:
            return address(0);
        case DETACHED: case ATTACH_REFUSED:
            return attached ? lost() : failed(1);
        case ADDRESS_ERROR:
            attached = true;
            return failed(4);
        case LOST:
            return lost();
        case UNPLUGGED: // the attach query failed: the port hung up
            stored = 0;
            return failed(4);
        default: // the attach query failed
            return failed(4);
        }
    }
};

// ---- What the program did, seen from outside -----------------------------------------------

char stderr_text[1 << 20];
size_t stderr_len = 0;
int stderr_pipe = -1;

void drain_stderr()
{
    for (ssize_t n; (n = read(stderr_pipe, stderr_text + stderr_len,
                              sizeof stderr_text - 1 - stderr_len)) > 0;)
        stderr_len += static_cast<size_t>(n);
    stderr_text[stderr_len] = '\0';
}

// The last dialogue, for a report: each command and its answer, escaped.
char dialogue_text[16384];
size_t dialogue_len = 0;

void note(const char* text, size_t len)
{
    for (size_t i = 0; i < len && dialogue_len + 5 < sizeof dialogue_text; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        int n = c == '\r' ? snprintf(dialogue_text + dialogue_len, 5, "\\r")
              : c == '\n' ? snprintf(dialogue_text + dialogue_len, 5, "\\n")
              : c < 32 || c > 126 ? snprintf(dialogue_text + dialogue_len, 5, "\\x%02x", c)
                                  : snprintf(dialogue_text + dialogue_len, 5, "%c", c);
        dialogue_len += static_cast<size_t>(n);
    }
}

void on_sent(const char* cmd, int result, int)
{
    if (result == 0)
        ++commands_sent;
    note("> ", 2);
    note(cmd, strlen(cmd));
    note("\n", 1);
}

void on_answered(const char* text, size_t len, int)
{
    note("< ", 2);
    note(text, len > 600 ? 600 : len);
    note("\n", 1);
}

const at_tracer TRACER = {on_sent, on_answered};

// The entries of `dir`, but "." and "..".
long entries_in(const char* dir)
{
    long n = 0;
    DIR* d = opendir(dir);
    if (d == nullptr)
        give_up("cannot list a directory");
    while (dirent* e = readdir(d))
        n += strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0;
    closedir(d);
    return n;
}

size_t count_fds()
{
    return static_cast<size_t>(entries_in("/proc/self/fd") - 1); // the listing's own
}

// Read without the heap, so that reading it does not change it.
long resident_kib()
{
    static char status[4096];
    int fd = open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    ssize_t n = fd >= 0 ? read(fd, status, sizeof status - 1) : -1;
    if (fd >= 0)
        close(fd);
    status[n > 0 ? n : 0] = '\0';
    const char* at = strstr(status, "VmRSS:");
    return at == nullptr ? -1 : atol(at + 6);
}

bool same_settings(const struct termios& a, const struct termios& b)
{
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 &&
           cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b);
}

bool port_settings(const char* port, struct termios& tio)
{
    int fd = open(port, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    bool ok = fd >= 0 && tcgetattr(fd, &tio) == 0;
    if (fd >= 0)
        close(fd);
    return ok;
}

// A process that holds the lock until told to let it go, or that dies holding it.
struct lock_holder {
    pid_t pid = -1;
    int release = -1;

    bool take(bool die_holding)
    {
        int ready[2], go[2];
        if (pipe2(ready, O_CLOEXEC) != 0 || pipe2(go, O_CLOEXEC) != 0)
            give_up("no pipe for a lock holder");
        pid = fork();
        if (pid == 0) {
            close(go[1]);
            close(ready[0]);
            pid_t other = -1;
            char took = take_lock(other) ? 'y' : 'n';
            if (write(ready[1], &took, 1) != 1 || die_holding)
                _exit(0);
            char c;
            if (read(go[0], &c, 1) >= 0)
                release_lock();
            _exit(0);
        }
        close(ready[1]);
        close(go[0]);
        char took = 'n';
        bool ok = read(ready[0], &took, 1) == 1 && took == 'y';
        close(ready[0]);
        release = go[1];
        if (die_holding)
            end();
        return ok;
    }

    void end()
    {
        if (pid < 0)
            return;
        close(release);
        waitpid(pid, nullptr, 0);
        pid = -1;
    }
};

// ---- The soak -------------------------------------------------------------------------------

struct soak {
    random_source rng;
    uint64_t seed;
    uint64_t cycles_wanted;
    std::string port;
    int control = -1;
    pid_t sim = -1;

    model m;
    uint32_t network = 0x0a400211; // 10.64.2.17, as a number
    bool unplugged = false;
    int portless_left = 0;
    int held_polls_left = 0;
    lock_holder holder;

    // The attempt under way: what the model expects of it.
    bool attempt_open = false;
    bool expect_dialogue = false;
    bool expect_recovery = false;
    int expected = model::GOES_ON;
    bool stop_asked = false;
    int kind_now = -1;
    uint64_t sent_before = 0;
    uint64_t allocations_before = 0;
    struct termios before = {};
    bool settings_known = false;

    uint64_t cycles = 0;
    uint64_t kinds[KIND_COUNT] = {};
    uint64_t events[EVENT_COUNT] = {};
    uint64_t disagreements = 0;
    size_t fds_start = 0, fds_end = 0;
    long rss_start = -1, rss_end = -1;

    uint32_t address_bytes(uint32_t n) const
    {
        const uint8_t b[4] = {static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16),
                              static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
        uint32_t out;
        memcpy(&out, b, sizeof out);
        return out;
    }

    // Waits until the modem has handled every command it was sent, the attach command, whose
    // answer is never read, included: its time has come by the next dialogue.
    void modem_done()
    {
        int64_t limit = real_ms() + 10000;
        for (read_acks(); commands_handled < commands_sent; read_acks()) {
            if (real_ms() > limit)
                give_up("modemsim did not handle a command within 10 s");
            struct pollfd p = {acks_fd, POLLIN, 0};
            __real_poll(&p, 1, 10);
        }
    }

    void tell_modem(const char* steps)
    {
        size_t lines = 0;
        size_t len = strlen(steps);
        for (size_t i = 0; i < len; ++i)
            lines += steps[i] == '\n';
        uint64_t want = control_applied + lines;
        if (write(control, steps, len) != static_cast<ssize_t>(len))
            give_up("modemsim's control pipe took no steps");
        int64_t limit = real_ms() + 10000;
        for (read_acks(); control_applied < want; read_acks()) {
            struct pollfd p = {acks_fd, POLLIN, 0};
            __real_poll(&p, 1, 100);
            if (real_ms() > limit)
                give_up("modemsim did not apply its steps within 10 s");
        }
    }

    void disagree(const char* what, long expected_value, long seen)
    {
        ++disagreements;
        if (disagreements > 5)
            return;
        size_t shown = stderr_len > 2000 ? stderr_len - 2000 : 0;
        dprintf(said, "soak: seed %" PRIu64 ", cycle %" PRIu64 " (%s): %s: expected %ld, saw %ld\n"
                        "last dialogue:\n%.*s\nits stderr (the end):\n%s\n",
                seed, cycles, kind_now >= 0 ? KIND_NAMES[kind_now] : "no dialogue", what,
                expected_value, seen, static_cast<int>(dialogue_len), dialogue_text,
                stderr_text + shown);
    }

    void check(const char* what, long expected_value, long seen)
    {
        if (expected_value != seen)
            disagree(what, expected_value, seen);
    }

    int draw_kind()
    {
        uint32_t total = 0;
        for (uint32_t w : WEIGHTS)
            total += w;
        for (;;) {
            uint32_t r = rng.below(total);
            int k = 0;
            while (r >= WEIGHTS[k])
                r -= WEIGHTS[k++];
            if ((k == DETACHED || k == ATTACH_REFUSED) && m.attached)
                continue;
            return k;
        }
    }

    // Before an attempt: the lock's and the modem's plans for it, and the model's expectation.
    void before_attempt()
    {
        kind_now = -1;
        dialogue_len = 0;
        stderr_len = 0;
        expect_recovery = false;
        settings_known = false;
        sent_before = commands_sent;
        allocations_before = allocations;
        attempt_open = true;
        if (held_polls_left == 0 && rng.below(1000) < 8) {
            if (!holder.take(false))
                give_up("a lock holder could not take the lock");
            held_polls_left = 1 + static_cast<int>(rng.below(3));
        }
        if (held_polls_left > 0) {
            ++events[LOCK_HELD];
            expect_dialogue = false;
            return;
        }
        if (rng.below(1000) < 5) {
            if (!holder.take(true))
                give_up("a lock holder could not take the lock");
            ++events[LOCK_STALE];
            expect_recovery = true;
        }
        expect_dialogue = true;
        if (unplugged && portless_left-- > 0) {
            expected = model::GOES_ON;
            kind_now = -1;
            return;
        }
        if (unplugged) {
            tell_modem("replug\n");
            unplugged = false;
        }
        kind_now = draw_kind();
        ++kinds[kind_now];
        if (kind_now == NEW_ADDRESS)
            network = 0x0a400000 | (rng.next() & 0xffff);
        char steps[256];
        snprintf(steps, sizeof steps, "reset\nipv4 %u.%u.%u.%u\n%s", network >> 24,
                 (network >> 16) & 0xff, (network >> 8) & 0xff, network & 0xff, STEPS[kind_now]);
        tell_modem(steps);
        if (kind_now == UNPLUGGED) {
            unplugged = true;
            portless_left = 1 + static_cast<int>(rng.below(3));
        }
        settings_known = port_settings(port.c_str(), before);
        expected = m.dialogue(kind_now, address_bytes(network));
    }

    // After an attempt: what came of it, against what the model expected. `paused` when the
    // cycle went on to its 10-second pause, `ended` when run_cycle returned.
    void after_attempt(bool paused, bool ended)
    {
        if (!attempt_open)
            return;
        attempt_open = false;
        ++cycles;
        drain_stderr();
        check("allocations by the program", 0, static_cast<long>(allocations - allocations_before));
        if (!expect_dialogue) {
            check("commands sent while another held the lock", 0,
                  static_cast<long>(commands_sent - sent_before));
            check("a cycle that went on without the lock", 0, paused || ended);
            if (--held_polls_left == 0)
                holder.end();
            return;
        }
        check("the run ended", expected == model::FAILS_OVER, ended);
        check("score", m.score, fail_score);
        check("DHCP script runs", static_cast<long>(m.dhcp_runs), dhcp_runs_seen());
        check("a stale lock recovered", expect_recovery,
              strstr(stderr_text, ", which no longer exists; removed\n") != nullptr);
        check("a lock, or a file of its making, left behind", 0, entries_in("/run/lock"));
        if (settings_known && kind_now != UNPLUGGED) {
            struct termios after;
            check("port settings restored", 1,
                  port_settings(port.c_str(), after) && same_settings(before, after));
        }
        if (cycles == warm_up)
            rss_start = resident_kib();
    }

    uint64_t warm_up = 0;

    long dhcp_runs_seen()
    {
        struct stat st;
        // Each run of the stub appends "4dhcp.sh wwan0\n".
        return stat(calls_log.c_str(), &st) == 0 ? static_cast<long>(st.st_size / 15) : 0;
    }

    std::string calls_log;

    void on_pause(unsigned seconds)
    {
        advance(static_cast<int64_t>(seconds) * 1000000000);
        if (seconds == PAUSE_AFTER)
            after_attempt(true, false);
        else
            after_attempt(false, false);
        if (seconds == PAUSE_AFTER) {
            modem_done();
            check("descriptors", static_cast<long>(fds_start), static_cast<long>(count_fds()));
            if (cycles >= cycles_wanted || rng.below(1000) < 3) {
                stop_requested = 1;
                stop_asked = true;
                ++events[STOPPED];
            }
            return;
        }
        before_attempt();
    }

    static constexpr unsigned PAUSE_AFTER = 10;
};

soak* running = nullptr;

} // namespace

void pause_seconds(unsigned seconds)
{
    counting = false;
    running->on_pause(seconds);
    counting = true;
}

namespace {

char stdout_buffer[BUFSIZ];

// The world: a private mount namespace over the fixed paths, modemsim with its control and acks
// pipes, the program's output where the soak can read it.
void set_up(soak& s, sandbox_root& root, int& report)
{
    std::string why = enter_sandbox(root);
    if (!why.empty()) {
        fprintf(stderr, "soak: no private mount namespace: %s\n", why.c_str());
        exit(77);
    }
    s.calls_log = root.path("calls.log");
    s.port = root.path("modem");
    int control[2], acks[2], err[2];
    if (pipe2(control, O_CLOEXEC) != 0 || pipe2(acks, O_CLOEXEC) != 0 ||
        pipe2(err, O_CLOEXEC | O_NONBLOCK) != 0)
        give_up("no pipes");
    fcntl(err[1], F_SETFL, 0);
    fcntl(err[0], F_SETPIPE_SZ, 1 << 20);
    write_file(root.path("modem.scn"), "family generic\n");
    s.sim = fork();
    if (s.sim == 0) {
        // Moved out of the way first: either end may be descriptor 3 or 4.
        int from = fcntl(control[0], F_DUPFD, 10);
        int to = fcntl(acks[1], F_DUPFD, 10);
        dup2(from, 3);
        dup2(to, 4);
        int log = open(root.path("modem.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(log, 2);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        execl(MODEMSIM, MODEMSIM, "--link", s.port.c_str(), "--control", "3", "--acks", "4",
              root.path("modem.scn").c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(control[0]);
    close(acks[1]);
    s.control = control[1];
    acks_fd = acks[0];
    fcntl(acks_fd, F_SETFL, O_NONBLOCK);
    if (!wait_until([&] { return file_exists(s.port); }, std::chrono::seconds(20)))
        give_up("modemsim made no port");
    report = dup(1);
    int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    dup2(null, 0);
    dup2(null, 1);
    close(null);
    setvbuf(stdout, stdout_buffer, _IOLBF, sizeof stdout_buffer);
    said = fcntl(2, F_DUPFD_CLOEXEC, 10);
    dup2(err[1], 2);
    close(err[1]);
    stderr_pipe = err[0];
    at_trace = &TRACER;
}

void print_figures(const soak& s, FILE* out, double wall)
{
    double days = static_cast<double>(virtual_ns) / 86400e9;
    fprintf(out, "seed %" PRIu64 "\ncycles %" PRIu64 "\nsimulated days %.1f\nwall time %.1f s\n"
                 "cycles per second %.0f\n",
            s.seed, s.cycles, days, wall, static_cast<double>(s.cycles) / wall);
    for (int k = 0; k < KIND_COUNT; ++k)
        fprintf(out, "  %-30s %" PRIu64 "\n", KIND_NAMES[k], s.kinds[k]);
    for (int e = 0; e < EVENT_COUNT; ++e)
        fprintf(out, "  %-30s %" PRIu64 "\n", EVENT_NAMES[e], s.events[e]);
    fprintf(out, "descriptors at the start %zu, at the end %zu\n", s.fds_start, s.fds_end);
    fprintf(out, "resident memory at the start %ld KiB, at the end %ld KiB\n", s.rss_start,
            s.rss_end);
#ifdef CELLWATCH_SANITIZED
    fprintf(out, "allocations: not counted under the sanitizers (LeakSanitizer watches the heap)\n");
#else
    fprintf(out, "allocations by the program %" PRIu64 "\n", allocations);
#endif
    fprintf(out, "decisions that disagreed with the model %" PRIu64 "\n", s.disagreements);
}

} // namespace

int main(int argc, char* argv[])
{
    signal(SIGPIPE, SIG_IGN);
    soak s;
    s.cycles_wanted = argc > 1 ? strtoull(argv[1], nullptr, 10) : 3000;
    struct timespec now;
    __real_clock_gettime(CLOCK_REALTIME, &now);
    s.seed = argc > 2 ? strtoull(argv[2], nullptr, 10) : static_cast<uint64_t>(now.tv_nsec);
    s.rng.state = s.seed;
    running = &s;
    sandbox_root root;
    int report = -1;
    set_up(s, root, report);
    FILE* out = fdopen(report, "w");
    fprintf(out, "soak: seed %" PRIu64 ", %" PRIu64 " cycles\n", s.seed, s.cycles_wanted);
    fflush(out);
    // The soak's own buffers are made resident now, so that they do not count as growth.
    memset(stderr_text, 1, sizeof stderr_text);
    memset(dialogue_text, 1, sizeof dialogue_text);
    int64_t start = real_ms();
    s.fds_start = count_fds();
    s.warm_up = s.cycles_wanted < 2000 ? s.cycles_wanted / 2 : 1000;
    virtual_ns = 0;
    while (s.cycles < s.cycles_wanted) {
        link_info info = {};
        strcpy(info.ifname, "wwan0");
        stop_requested = 0;
        s.stop_asked = false;
        counting = true;
        int outcome = run_cycle(info, s.port.c_str());
        counting = false;
        s.after_attempt(false, true);
        s.modem_done();
        s.check("the run's outcome", s.stop_asked ? OUTCOME_STOP : OUTCOME_FAILOVER, outcome);
        // A service manager starts it anew: a fresh record and score.
        s.m = model{0, false, 0, s.m.dhcp_runs};
        ++s.events[RESTARTED];
    }
    s.holder.end();
    s.fds_end = count_fds();
    s.rss_end = resident_kib();
    kill(s.sim, SIGTERM);
    waitpid(s.sim, nullptr, 0);
    print_figures(s, out, static_cast<double>(real_ms() - start) / 1000.0);
    fclose(out);
    bool flat = s.fds_end == s.fds_start && allocations == 0;
#ifndef CELLWATCH_SANITIZED
    // The sanitizers' own bookkeeping moves the resident memory; elsewhere it is the program's.
    flat = flat && s.rss_end == s.rss_start;
#endif
    if (!flat)
        dprintf(said, "soak: seed %" PRIu64 ": the descriptors, the heap or the resident memory "
                      "drifted (figures above)\n", s.seed);
    return s.disagreements == 0 && flat ? 0 : 1;
}
