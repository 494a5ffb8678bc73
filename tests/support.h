#pragma once
// Helpers shared by the tests: real descriptors, real processes, a real mount namespace.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

// A fresh directory under the system's temporary directory, removed with its contents.
struct temp_dir {
    std::string path;
    temp_dir();
    ~temp_dir();
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;
};

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& text, mode_t mode = 0644);
bool file_exists(const std::string& path);

// `text` repeated `times` times, and how often `needle` stands in `text`.
std::string repeat_text(const std::string& text, size_t times);
size_t count_of(const std::string& text, const std::string& needle);

// Polls `done` every 10 ms until it holds or `timeout` passes; returns its last value.
bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds timeout);

// A pseudo-terminal pair; both ends closed on destruction unless released.
struct pty_pair {
    int master = -1;
    int slave = -1;
    std::string slave_path;
    pty_pair();
    ~pty_pair();
    void close_master();
};

// Sends descriptor `fd` into a file while alive; text() reads what has arrived so far.
class fd_capture {
public:
    explicit fd_capture(int fd);
    ~fd_capture();
    std::string text();

private:
    int fd_;
    int saved_;
    temp_dir dir_;
    std::string path_;
};

// modemsim on its own pty, started from a scenario text.
class modem_sim {
public:
    explicit modem_sim(const std::string& scenario_text, const std::string& link = "");
    ~modem_sim();
    const std::string& port() const { return port_; }
    std::string log();
    std::vector<std::string> commands();  // every command received, in order
    int dialogues();                      // dialogues begun so far
    // Waits at most 10 seconds until at least `sent` commands were received and every command
    // received has had its answer written.
    bool wait_answered(size_t sent = 0);
    int stop();                           // SIGTERM, then the exit status
    // Plugs an unplugged modem back in (SIGUSR1) and waits at most 10 seconds for its link.
    bool replug();

private:
    temp_dir dir_;
    pid_t pid_ = -1;
    std::string port_;
    std::string link_;
};

// A directory laid out for tools/sandbox.sh-style namespaces: run/ (with lock/), bin/ with the
// DHCP and failover scripts, and ifconfig, all stubs that append their command line to
// calls.log.
struct sandbox_root {
    temp_dir dir;
    sandbox_root();
    std::string path(const std::string& relative) const { return dir.path + "/" + relative; }
    std::string calls() const;
};

// Puts the calling process into a private mount namespace with `root` over the fixed paths.
// Returns "" on success, or why it could not (for a skip).
std::string enter_sandbox(const sandbox_root& root);

// "" when a child can run inside a sandbox over `root`; otherwise why not (for a skip).
std::string sandbox_refusal(const sandbox_root& root);

// A test that runs programs in sandboxes of their own: skipped, with the reason, where no private
// mount namespace can be had.
class sandboxed_test : public ::testing::Test {
protected:
    void SetUp() override;
};

// The result of a finished process.
struct run_result {
    int status = -1;        // exit status, or 128 + signal
    std::string out, err, fd0;
};

// A child process with its standard descriptors captured to files.
class child {
public:
    // Runs argv; when `root` is given, inside a sandbox over it. `prepare` runs in the child
    // just before the exec, to hand the program a state that a careless parent would.
    child(const std::vector<std::string>& argv, const sandbox_root* root = nullptr,
          const std::function<void()>& prepare = nullptr);
    ~child();
    pid_t pid() const { return pid_; }
    std::string err() const;
    void signal(int signo);
    // Waits at most `timeout`; false when it did not end (it is then killed).
    bool wait(run_result& result, std::chrono::milliseconds timeout);

private:
    temp_dir dir_;
    pid_t pid_ = -1;
};

// The id of a process that existed a moment ago and has been reaped: no process has it now.
pid_t dead_pid();

// How many descriptors process `pid` has open (the listing's own counted too).
size_t open_descriptors(pid_t pid);

// True while process `pid` sleeps in nanosleep: the program's pauses, and nothing else it does.
bool sleeping(pid_t pid);

// True once cellwatch `cw` is in its 10-second pause after `commands` were received: the lock
// under `root` is gone again and it sleeps. A signal sent earlier would let that pause run in
// full. Waits at most `timeout`.
bool in_pause(modem_sim& sim, size_t commands, const sandbox_root& root, const child& cw,
              std::chrono::milliseconds timeout);

// One cellwatch against a modemsim of its own, each in a sandbox of its own, so that several can
// run at once: `args` follow the port on the command line.
// `arrange` may change the sandbox before the program starts.
struct one_link {
    sandbox_root root;
    modem_sim sim;
    std::unique_ptr<child> cw;
    one_link(const std::string& scenario, const std::vector<std::string>& args,
             const std::function<void(sandbox_root&)>& arrange = nullptr,
             const std::function<void()>& prepare = nullptr);
    // Waits for the pause after `commands`, stops the program with SIGTERM and returns what it
    // did; `status` is -1 when the pause never came.
    run_result stop_in_pause(size_t commands);
};

// The line the program prints for an address token: the number is the address as stored (its
// four bytes in network order) read in the host's byte order, so it differs between machines.
// `address` is the dotted address stored, or nullptr when the token yields none.
std::string ipv4_line(const std::string& token, const char* address);
inline std::string ipv4_line(const char* address) { return ipv4_line(address, address); }

// "" when `program` can be run under valgrind here; otherwise why not (for a skip).
std::string valgrind_refusal();
// The words to put in front of `program` to run it under valgrind, its report going to `log`.
std::vector<std::string> under_valgrind(const char* program, const std::string& log);
// True when valgrind's report in `log` says the program never used the heap and had no error.
bool heap_untouched(const std::string& report);

extern const char* const CELLWATCH;
extern const char* const CELLWATCH_CHECK;
extern const char* const CELLWATCH_EVENTD;
extern const char* const MODEMSIM;

// True when the program under test is a target binary that runs under an emulator.
bool emulated();

// Why the tests of another program's exclusive hold skip under qemu-user.
constexpr const char QEMU_NO_TIOCGEXCL[] =
    "qemu-user does not pass TIOCGEXCL on to the kernel (ENOSYS), so a program under it cannot "
    "see another's exclusive hold; the native and musl runs check it";

// Why what the kernel shows of a program's ignored signals means nothing under qemu-user.
constexpr const char QEMU_OWN_DISPOSITIONS[] =
    "qemu-user keeps the program's signal dispositions to itself: /proc shows the emulator's, and "
    "the commands it starts inherit the emulator's; the native and musl runs check them";

// `argv` with the emulator's words in front of the first target binary it names, when emulated.
std::vector<std::string> with_emulator(const std::vector<std::string>& argv);
