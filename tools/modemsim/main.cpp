// modemsim: an AT modem on a pseudo-terminal, or on a tty that exists (a USB gadget's serial
// port), driven by a scenario file. Prints the port's path first, logs every command on stderr,
// and serves until SIGTERM or the scenario's "exit". The port may be opened and closed any
// number of times.
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "answer.h"
#include "scenario.h"

namespace {

volatile sig_atomic_t stopping = 0;
volatile sig_atomic_t replug_asked = 0;

void on_stop(int)
{
    stopping = 1;
}

// SIGUSR1 puts an unplugged modem back: a test chooses the moment, instead of a timer.
void on_replug(int)
{
    replug_asked = 1;
}

using clock_type = std::chrono::steady_clock;

void log_line(const char* what, const std::string& text)
{
    using namespace std::chrono;
    auto now = system_clock::now();
    time_t t = system_clock::to_time_t(now);
    long us = duration_cast<microseconds>(now.time_since_epoch()).count() % 1000000;
    struct tm tm;
    localtime_r(&t, &tm);
    std::string shown;
    for (unsigned char c : text) {
        if (c == '\r') shown += "\\r";
        else if (c == '\n') shown += "\\n";
        else if (c < 32 || c > 126) { char hex[8]; snprintf(hex, sizeof hex, "\\x%02x", c); shown += hex; }
        else shown += static_cast<char>(c);
    }
    if (shown.size() > 200)
        shown = shown.substr(0, 200) + "...(" + std::to_string(text.size()) + " bytes)";
    fprintf(stderr, "%02d:%02d:%02d.%06ld %s %s\n", tm.tm_hour, tm.tm_min, tm.tm_sec, us, what,
            shown.c_str());
}

// The slave starts raw, so that whatever the program restores on close leaves no echo or line
// editing that would turn the modem's answers back on itself. The simulator keeps a slave
// descriptor of its own (never read), so that the master never sees a hang-up between the
// program's dialogues and a command is heard the moment it is written.
int open_master(std::string& slave_path, int& held_slave)
{
    // Non-blocking, so that a port nobody reads can never stop the simulator.
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        return -1;
    slave_path = ptsname(master);
    int slave = open(slave_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0)
        return -1;
    struct termios tio;
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
    held_slave = slave;
    return master;
}

// The far end of a real device, raw. Non-blocking, like the pty's master.
int open_device(const char* path)
{
    int fd = open(path, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return -1;
    struct termios tio;
    if (tcgetattr(fd, &tio) == 0) {
        cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        tcsetattr(fd, TCSANOW, &tio);
    }
    return fd;
}

// Runs a scenario's plug command through the shell and waits for it.
void run_plug_command(const std::string& command)
{
    if (command.empty())
        return;
    int status = system(command.c_str());
    log_line("--", "ran \"" + command + "\": status " + std::to_string(status));
}

// Writes what the port takes until it takes nothing for 200 ms; a real UART would stall the modem, but
// the simulator has to keep hearing commands and signals. Returns the bytes dropped.
size_t write_bounded(int fd, const std::string& bytes)
{
    size_t done = 0;
    for (int waits = 0; done < bytes.size() && waits < 2 && !stopping;) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            waits = 0;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            break;
        struct pollfd p = {fd, POLLOUT, 0};
        poll(&p, 1, 100);
        ++waits;
    }
    return bytes.size() - done;
}

struct simulator {
    int master = -1;
    int held_slave = -1;
    std::string slave;
    const char* link = nullptr;
    const char* device = nullptr;   // serve this tty instead of a pty of our own
    bool unplugged = false;
    bool open_failing = false;
    std::optional<clock_type::time_point> replug_at;
    scenario plan;
    modem_state state;
    size_t next_trigger = 1;
    long dialogues = 0;
    bool port_open = false;
    bool running = true;
    clock_type::time_point start = clock_type::now();
    int control = -1;               // steps to apply at once, a line each
    int acks = -1;                  // 'a' for each command handled, 'c' for each control line
    std::string control_line;

    void apply(const trigger& t)
    {
        for (const step& s : t.steps)
            if (!apply_step(s, state)) {
                log_line("--", "scenario ends");
                running = false;
            }
    }

    // Triggers fire in file order, each once its condition holds.
    void fire_due()
    {
        while (running && next_trigger < plan.triggers.size()) {
            const trigger& t = plan.triggers[next_trigger];
            long elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                               clock_type::now() - start).count();
            bool due = t.kind == trigger::after_ms ? elapsed >= t.amount : dialogues > t.amount;
            if (!due)
                return;
            ++next_trigger;
            apply(t);
        }
    }

    std::string previous;

    // A dialogue begins at the first command after the port was reopened, or at a probe that
    // follows any other command: a program that closes and reopens at once may never let the
    // close be seen, but every dialogue starts with its probe.
    bool begins_dialogue(const std::string& command) const
    {
        return !port_open || (command == "AT" && previous != "AT");
    }

    // Unplugging closes the master: the program's reads and writes fail with EIO, and the
    // slave's path goes away with the link to it. Replugging makes a fresh pty.
    void plug_in()
    {
        if (device != nullptr) {
            slave = device;
            master = open_device(device);
            if (master < 0 && !open_failing)
                log_line("--", std::string("cannot open ") + device + ": " + strerror(errno));
            open_failing = master < 0;
            return;
        }
        master = open_master(slave, held_slave);
        if (master < 0) {
            fprintf(stderr, "modemsim: cannot create a pseudo-terminal: %s\n", strerror(errno));
            running = false;
            return;
        }
        if (link != nullptr) {
            unlink(link);
            if (symlink(slave.c_str(), link) != 0) {
                fprintf(stderr, "modemsim: cannot link %s: %s\n", link, strerror(errno));
                running = false;
            }
        }
    }

    // The path goes first: a program that sees its port fail must not find the path still there.
    void unplug()
    {
        if (unplugged)
            return;
        unplugged = true;
        run_plug_command(state.on_unplug);
        if (link != nullptr && device == nullptr)
            unlink(link);
        if (held_slave >= 0)
            close(held_slave);
        if (master >= 0)
            close(master);
        master = held_slave = -1;
        flow_stopped = false;
        port_open = false;
        log_line("--", "unplugged");
    }

    void replug()
    {
        unplugged = false;
        replug_at.reset();
        run_plug_command(state.on_replug);
        plug_in();
        log_line("--", "plugged in as " + slave);
    }

    // A real device's far end hangs up when its host side goes away (a USB disconnect); it is
    // opened again, so that the next connection is heard.
    void reopen_after_hang_up()
    {
        close(master);
        master = -1;
        port_open = false;
        log_line("--", "hung up");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }

    bool flow_stopped = false;

    // The simulator's own slave descriptor suspends the program's output to the modem, as a
    // firmware that stopped taking it does; the suspension outlives the program's opens.
    void carry_out_stall()
    {
        if (held_slave < 0 || state.stalled == flow_stopped)
            return;
        tcflow(held_slave, state.stalled ? TCOOFF : TCOON);
        flow_stopped = state.stalled;
        log_line("--", state.stalled ? "output from the program suspended" : "output resumed");
    }

    void carry_out_plug_requests()
    {
        if (replug_asked) {
            replug_asked = 0;
            state.replug_now = true;
        }
        if (state.unplug_now)
            unplug();
        if (replug_at && clock_type::now() >= *replug_at)
            state.replug_now = true;
        if (state.replug_now && unplugged)
            replug();
        else if (!unplugged && master < 0 && device != nullptr)
            plug_in();
        state.unplug_now = state.replug_now = false;
        carry_out_stall();
    }

    void handle(const std::string& command)
    {
        bool begins = begins_dialogue(command);
        previous = command;
        if (begins) {
            port_open = true;
            ++dialogues;
            log_line("--", "dialogue " + std::to_string(dialogues));
        }
        // A change due by now applies to this command, however long the wait for it lasted.
        fire_due();
        if (!running)
            return;
        if (begins)
            carry_out_stall();
        log_line("<-", command);
        if (!state.unplug_on.empty() && command == state.unplug_on) {
            state.unplug_on.clear();
            unplug();
            if (state.replug_after_ms >= 0)
                replug_at = clock_type::now() + std::chrono::milliseconds(state.replug_after_ms);
            log_line("..", "answered " + command);
            ack('a');
            return;
        }
        for (const piece& p : answer_command(command, state)) {
            if (!p.bytes.empty()) {
                size_t dropped = write_bounded(master, p.bytes);
                log_line("->", p.bytes);
                if (dropped > 0)
                    log_line("--", "the port took no more: " + std::to_string(dropped) +
                                       " bytes dropped");
            }
            if (p.delay_ms > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(p.delay_ms));
        }
        // Lets a watcher know that everything this command gets has been written.
        log_line("..", "answered " + command);
        ack('a');
    }

    void ack(char what)
    {
        if (acks >= 0 && write(acks, &what, 1) != 1)
            acks = -1;
    }

    // Applies each whole line from the control descriptor, plugs included, then acknowledges it.
    void read_control()
    {
        char buf[512];
        ssize_t n = read(control, buf, sizeof buf);
        if (n <= 0) {
            control = -1;
            return;
        }
        for (ssize_t i = 0; i < n; ++i) {
            if (buf[i] != '\n') {
                control_line += buf[i];
                continue;
            }
            step s;
            std::string problem;
            if (parse_step(control_line, 0, s, problem)) {
                log_line("--", "control: " + control_line);
                if (!apply_step(s, state))
                    running = false;
            } else {
                log_line("--", "control: " + control_line + ": " + problem);
            }
            control_line.clear();
            carry_out_plug_requests();
            ack('c');
        }
    }

    void closed()
    {
        if (port_open)
            log_line("--", "port closed");
        port_open = false;
    }
};

int serve(simulator& sim)
{
    std::string line;
    char buf[4096];
    while (sim.running && !stopping) {
        sim.fire_due();
        sim.carry_out_plug_requests();
        struct pollfd waits[2] = {{sim.master, POLLIN, 0}, {sim.control, POLLIN, 0}};
        if (sim.master < 0 && sim.control < 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        int ready = poll(waits, 2, sim.master < 0 ? 20 : 50); // a negative fd is passed over
        if (ready < 0 && errno != EINTR)
            return 1;
        if (ready > 0 && waits[1].revents != 0)
            sim.read_control();
        int master = sim.master;
        struct pollfd& p = waits[0];
        if (ready <= 0 || master < 0 || master != p.fd || p.revents == 0)
            continue;
        errno = 0;
        ssize_t n = (p.revents & POLLIN) ? read(master, buf, sizeof buf) : -1;
        if (n <= 0 && sim.device != nullptr && errno != EAGAIN) {
            sim.reopen_after_hang_up();
            line.clear();
            continue;
        }
        if (n <= 0) {
            // No slave has the port open: wait for the next open without spinning.
            sim.closed();
            line.clear();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        for (ssize_t i = 0; i < n && sim.running; ++i) {
            if (buf[i] != '\r' && buf[i] != '\n') {
                line += buf[i];
                continue;
            }
            if (!line.empty())
                sim.handle(line);
            line.clear();
            if (sim.master != master)
                break;
        }
    }
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    const char* link = nullptr;
    const char* device = nullptr;
    int arg = 1;
    int control = -1;
    int acks = -1;
    for (; arg + 1 < argc; arg += 2) {
        if (strcmp(argv[arg], "--link") == 0)
            link = argv[arg + 1];
        else if (strcmp(argv[arg], "--device") == 0)
            device = argv[arg + 1];
        else if (strcmp(argv[arg], "--control") == 0)
            control = atoi(argv[arg + 1]);
        else if (strcmp(argv[arg], "--acks") == 0)
            acks = atoi(argv[arg + 1]);
        else
            break;
    }
    if (arg + 1 != argc || (link != nullptr && device != nullptr)) {
        fprintf(stderr, "usage: %s [--link PATH | --device TTY] [--control FD] [--acks FD] "
                        "SCENARIO\n", argv[0]);
        return 2;
    }
    simulator sim;
    if (!load_scenario(argv[arg], sim.plan))
        return 2;
    sim.apply(sim.plan.triggers[0]);

    sim.link = link;
    sim.device = device;
    sim.control = control;
    sim.acks = acks;
    sim.plug_in();
    if (!sim.running || (device != nullptr && sim.master < 0))
        return 1;
    printf("%s\n", sim.slave.c_str());
    fflush(stdout);

    struct sigaction act = {};
    act.sa_handler = on_stop;
    sigaction(SIGTERM, &act, nullptr);
    sigaction(SIGINT, &act, nullptr);
    act.sa_handler = on_replug;
    sigaction(SIGUSR1, &act, nullptr);
    signal(SIGPIPE, SIG_IGN);

    log_line("--", "serving " + sim.slave + " as a " + sim.state.family + " modem");
    int status = serve(sim);
    if (sim.master >= 0)
        close(sim.master);
    if (link != nullptr)
        unlink(link);
    return status;
}
