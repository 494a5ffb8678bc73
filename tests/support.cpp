// Test helpers over real descriptors and processes.
#include "support.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <pty.h>
#include <sched.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

// The test command runs this suite against another build's programs, the static musl ones, by
// naming them here; the tests themselves are the same.
const char* program_under_test(const char* variable, const char* built)
{
    const char* other = getenv(variable);
    return other != nullptr && *other != '\0' ? other : built;
}

} // namespace

const char* const CELLWATCH = program_under_test("CELLWATCH_UNDER_TEST", CELLWATCH_BIN);
const char* const CELLWATCH_CHECK =
    program_under_test("CELLWATCH_CHECK_UNDER_TEST", CELLWATCH_CHECK_BIN);
const char* const CELLWATCH_EVENTD =
    program_under_test("CELLWATCH_EVENTD_UNDER_TEST", CELLWATCH_EVENTD_BIN);
const char* const MODEMSIM = MODEMSIM_BIN;

bool emulated()
{
    return TARGET_EMULATOR[0] != '\0' && strcmp(CELLWATCH, CELLWATCH_BIN) == 0;
}

std::vector<std::string> with_emulator(const std::vector<std::string>& argv)
{
    std::vector<std::string> out;
    bool done = !emulated();
    for (const std::string& arg : argv) {
        if (!done && (arg == CELLWATCH || arg == CELLWATCH_CHECK || arg == CELLWATCH_EVENTD ||
                      arg == MODEMSIM)) {
            std::istringstream words(TARGET_EMULATOR);
            for (std::string w; words >> w;)
                out.push_back(w);
            done = true;
        }
        out.push_back(arg);
    }
    return out;
}

namespace {

[[noreturn]] void exec_argv(const std::vector<std::string>& argv)
{
    std::vector<std::string> full = with_emulator(argv);
    std::vector<char*> args;
    for (const std::string& a : full)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    execvp(args[0], args.data());
    _exit(127);
}

} // namespace

temp_dir::temp_dir()
{
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/cellwatch-test.XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr)
        abort();
    path = buf.data();
}

temp_dir::~temp_dir()
{
    std::string cmd = "rm -rf '" + path + "'";
    int rc = system(cmd.c_str());
    (void)rc;
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void write_file(const std::string& path, const std::string& text, mode_t mode)
{
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << text;
    }
    chmod(path.c_str(), mode);
}

bool file_exists(const std::string& path)
{
    return access(path.c_str(), F_OK) == 0;
}

pid_t dead_pid()
{
    pid_t pid = fork();
    if (pid == 0)
        _exit(0);
    waitpid(pid, nullptr, 0);
    return pid;
}

bool sleeping(pid_t pid)
{
    std::string wchan = read_file("/proc/" + std::to_string(pid) + "/wchan");
    return wchan.find("nanosleep") != std::string::npos;
}

std::string repeat_text(const std::string& text, size_t times)
{
    std::string out;
    for (size_t i = 0; i < times; ++i)
        out += text;
    return out;
}

size_t count_of(const std::string& text, const std::string& needle)
{
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++n;
    return n;
}

bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

pty_pair::pty_pair()
{
    char name[128];
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
        abort();
    slave_path = name;
    struct termios tio;
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
}

pty_pair::~pty_pair()
{
    close_master();
    if (slave >= 0)
        close(slave);
}

void pty_pair::close_master()
{
    if (master >= 0)
        close(master);
    master = -1;
}

fd_capture::fd_capture(int fd) : fd_(fd), saved_(dup(fd)), path_(dir_.path + "/captured")
{
    fflush(nullptr);
    int file = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(file, fd);
    close(file);
}

fd_capture::~fd_capture()
{
    fflush(nullptr);
    dup2(saved_, fd_);
    close(saved_);
}

std::string fd_capture::text()
{
    fflush(nullptr);
    return read_file(path_);
}

modem_sim::modem_sim(const std::string& scenario_text, const std::string& link) : link_(link)
{
    std::string scenario = dir_.path + "/scenario";
    write_file(scenario, scenario_text);
    std::string out = dir_.path + "/out", err = dir_.path + "/log";
    pid_ = fork();
    if (pid_ == 0) {
        int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(o, 1);
        dup2(e, 2);
        if (link.empty())
            exec_argv({MODEMSIM, scenario});
        else
            exec_argv({MODEMSIM, "--link", link, scenario});
    }
    wait_until([&] { return read_file(out).find('\n') != std::string::npos; },
               std::chrono::seconds(20));
    std::string first = read_file(out);
    port_ = first.substr(0, first.find('\n'));
}

modem_sim::~modem_sim()
{
    stop();
}

std::string modem_sim::log()
{
    return read_file(dir_.path + "/log");
}

std::vector<std::string> modem_sim::commands()
{
    std::vector<std::string> out;
    std::istringstream in(log());
    for (std::string line; std::getline(in, line);) {
        size_t at = line.find(" <- ");
        if (at != std::string::npos)
            out.push_back(line.substr(at + 4));
    }
    return out;
}

int modem_sim::dialogues()
{
    int n = 0;
    std::istringstream in(log());
    for (std::string line; std::getline(in, line);)
        n += line.find(" -- dialogue ") != std::string::npos;
    return n;
}

bool modem_sim::wait_answered(size_t sent)
{
    return wait_until([&] {
        std::string text = log();
        size_t received = count_of(text, " <- ");
        return received >= sent && received == count_of(text, " .. answered ");
    }, std::chrono::seconds(10));
}

bool modem_sim::replug()
{
    if (pid_ <= 0 || link_.empty() || kill(pid_, SIGUSR1) != 0)
        return false;
    return wait_until([&] { return file_exists(link_); }, std::chrono::seconds(10));
}

int modem_sim::stop()
{
    if (pid_ <= 0)
        return -1;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

namespace {

const char STUB[] = "#!/bin/sh\necho \"%s $*\" >> '%s/calls.log'\n";

void write_stub(const std::string& path, const std::string& name, const std::string& root)
{
    char text[512];
    snprintf(text, sizeof text, STUB, name.c_str(), root.c_str());
    write_file(path, text, 0755);
}

bool write_proc(const char* path, const std::string& text)
{
    int fd = open(path, O_WRONLY);
    if (fd < 0)
        return false;
    bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    return ok;
}

std::string mount_error(const char* what)
{
    return std::string(what) + ": " + strerror(errno);
}

} // namespace

sandbox_root::sandbox_root()
{
    mkdir(path("run").c_str(), 0755);
    mkdir(path("run/lock").c_str(), 0755);
    mkdir(path("bin").c_str(), 0755);
    for (const char* script : {"4dhcp.sh", "6dhcp.sh", "failover.sh"})
        write_stub(path(std::string("bin/") + script), script, dir.path);
    write_stub(path("ifconfig"), "ifconfig", dir.path);
}

std::string sandbox_root::calls() const
{
    return read_file(path("calls.log"));
}

std::string enter_sandbox(const sandbox_root& root)
{
    uid_t uid = getuid();
    gid_t gid = getgid();
    if (uid == 0) {
        if (unshare(CLONE_NEWNS) != 0)
            return mount_error("unshare(CLONE_NEWNS)");
    } else {
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
            return mount_error("unshare(CLONE_NEWUSER|CLONE_NEWNS)");
        write_proc("/proc/self/setgroups", "deny");
        if (!write_proc("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
            !write_proc("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
            return mount_error("writing the id maps");
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return mount_error("making / private");
    if (mount(root.path("run").c_str(), "/run", nullptr, MS_BIND, nullptr) != 0)
        return mount_error("binding /run");
    if (mount("cellwatch-opt", "/opt", "tmpfs", 0, "mode=0755") != 0)
        return mount_error("tmpfs on /opt");
    mkdir("/opt/vordane", 0755);
    mkdir("/opt/vordane/bin", 0755);
    if (mount(root.path("bin").c_str(), "/opt/vordane/bin", nullptr, MS_BIND, nullptr) != 0)
        return mount_error("binding /opt/vordane/bin");
    if (mount(root.path("ifconfig").c_str(), "/sbin/ifconfig", nullptr, MS_BIND, nullptr) != 0)
        return mount_error("binding /sbin/ifconfig");
    return "";
}

child::child(const std::vector<std::string>& argv, const sandbox_root* root,
             const std::function<void()>& prepare)
{
    std::vector<std::string> paths = {dir_.path + "/fd0", dir_.path + "/out", dir_.path + "/err"};
    pid_ = fork();
    if (pid_ != 0)
        return;
    for (int fd = 0; fd < 3; ++fd) {
        int f = open(paths[fd].c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
        dup2(f, fd);
        close(f);
    }
    if (root != nullptr) {
        std::string why = enter_sandbox(*root);
        if (!why.empty()) {
            fprintf(stderr, "sandbox: %s\n", why.c_str());
            _exit(126);
        }
    }
    if (prepare)
        prepare();
    exec_argv(argv);
}

child::~child()
{
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

std::string child::err() const
{
    return read_file(dir_.path + "/err");
}

void child::signal(int signo)
{
    if (pid_ > 0)
        kill(pid_, signo);
}

bool child::wait(run_result& result, std::chrono::milliseconds timeout)
{
    int status = 0;
    bool ended = wait_until([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, timeout);
    if (!ended) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
    }
    pid_ = -1;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.fd0 = read_file(dir_.path + "/fd0");
    result.out = read_file(dir_.path + "/out");
    result.err = read_file(dir_.path + "/err");
    return ended;
}

std::string sandbox_refusal(const sandbox_root& root)
{
    child probe({"/bin/true"}, &root);
    run_result r;
    probe.wait(r, std::chrono::seconds(10));
    return r.status == 0 ? "" : "no private mount namespace here: " + r.err;
}

bool in_pause(modem_sim& sim, size_t commands, const sandbox_root& root, const child& cw,
              std::chrono::milliseconds timeout)
{
    return wait_until([&] {
        return sim.commands().size() >= commands && !file_exists(root.path("run/lock/failover")) &&
               sleeping(cw.pid());
    }, timeout);
}

namespace {

std::vector<std::string> command_line(const std::string& port, const std::vector<std::string>& args)
{
    std::vector<std::string> argv = {CELLWATCH, port};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

} // namespace

one_link::one_link(const std::string& scenario, const std::vector<std::string>& args,
                   const std::function<void(sandbox_root&)>& arrange,
                   const std::function<void()>& prepare)
    : sim(scenario)
{
    if (arrange)
        arrange(root);
    cw = std::make_unique<child>(command_line(sim.port(), args), &root, prepare);
}

run_result one_link::stop_in_pause(size_t commands)
{
    bool paused = in_pause(sim, commands, root, *cw, std::chrono::seconds(30));
    cw->signal(SIGTERM);
    run_result r;
    cw->wait(r, std::chrono::seconds(5));
    if (!paused)
        r.status = -1;
    return r;
}

std::string ipv4_line(const std::string& token, const char* address)
{
    uint32_t stored = address != nullptr ? inet_addr(address) : 0;
    return " IPv4 - " + token + " = " + std::to_string(stored) + "\n";
}

void sandboxed_test::SetUp()
{
    sandbox_root probe;
    std::string why = sandbox_refusal(probe);
    if (!why.empty())
        GTEST_SKIP() << why;
}

std::string valgrind_refusal()
{
#ifdef CELLWATCH_SANITIZED
    return "the sanitizers' runtime allocates for itself; the Release run checks this";
#else
    if (access("/usr/bin/valgrind", X_OK) != 0)
        return "valgrind is not installed";
    if (emulated())
        return "valgrind cannot run a binary of another machine";
    return "";
#endif
}

std::vector<std::string> under_valgrind(const char* program, const std::string& log)
{
    std::vector<std::string> argv = {"/usr/bin/valgrind", "--log-file=" + log};
    // A static program has its allocator inside: valgrind must look for it there.
    if (read_file(program).find(".interp") == std::string::npos)
        argv.push_back("--soname-synonyms=somalloc=NONE");
    return argv;
}

bool heap_untouched(const std::string& report)
{
    return report.find("total heap usage: 0 allocs, 0 frees, 0 bytes allocated") !=
               std::string::npos &&
           report.find("ERROR SUMMARY: 0 errors") != std::string::npos;
}

size_t open_descriptors(pid_t pid)
{
    size_t n = 0;
    DIR* dir = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
    if (dir == nullptr)
        return 0;
    while (dirent* e = readdir(dir))
        n += e->d_name[0] != '.';
    closedir(dir);
    return n;
}
