// Measures the AT dialogue against modemsim: the turnaround from the modem's final answer to
// the next command, and a whole check_link against the simulator's own answering time.
// usage: dialogue_bench MODEMSIM SCENARIO DIALOGUES
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <signal.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "modem/modem.h"

namespace {

struct entry {
    double t;        // seconds of the day
    std::string what;
};

std::vector<entry> read_log(const std::string& path)
{
    std::vector<entry> out;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        int h, m, s;
        long us;
        char what[4] = {};
        if (sscanf(line.c_str(), "%d:%d:%d.%ld %3s", &h, &m, &s, &us, what) == 5)
            out.push_back({(h * 60.0 + m) * 60 + s + us / 1e6, what});
        if (line.find(" -- dialogue ") != std::string::npos)
            out.back().what = "dialogue";
    }
    return out;
}

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[static_cast<size_t>(p * (v.size() - 1))];
}

pid_t start_sim(const char* sim, const char* scenario, const std::string& log, std::string& port)
{
    int out[2];
    if (pipe(out) != 0)
        exit(1);
    pid_t pid = fork();
    if (pid == 0) {
        int err = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(out[1], 1);
        dup2(err, 2);
        execl(sim, sim, scenario, (char*)nullptr);
        _exit(127);
    }
    close(out[1]);
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n')
        port += c;
    return pid;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 4) {
        fprintf(stderr, "usage: %s MODEMSIM SCENARIO DIALOGUES\n", argv[0]);
        return 2;
    }
    int dialogues = atoi(argv[3]);
    std::string log = "/tmp/dialogue_bench." + std::to_string(getpid()) + ".log";
    std::string port;
    pid_t sim = start_sim(argv[1], argv[2], log, port);

    int saved_out = dup(1), saved_err = dup(2);
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    link_info info{};
    info.modem_type = MODEM_GENERIC;
    std::vector<double> checks;
    for (int i = 0; i < dialogues; ++i) {
        int fd = open_port(port.c_str(), 115200);
        auto t0 = std::chrono::steady_clock::now();
        check_link(fd, info);
        auto t1 = std::chrono::steady_clock::now();
        close_port(fd);
        checks.push_back(std::chrono::duration<double>(t1 - t0).count());
    }
    fflush(stdout);
    dup2(saved_out, 1);
    dup2(saved_err, 2);
    kill(sim, SIGTERM);
    waitpid(sim, nullptr, 0);

    // Turnaround: the last write of one answer to the arrival of the next command, within a
    // dialogue. Answering: a command's arrival to its "answered" mark.
    std::vector<double> turnaround, answering;
    std::vector<entry> e = read_log(log);
    double last_write = -1, received = -1, answered_sum = 0;
    std::vector<double> per_dialogue;
    for (const entry& x : e) {
        if (x.what == "dialogue") {
            if (received >= 0)
                per_dialogue.push_back(answered_sum);
            last_write = -1;
            answered_sum = 0;
        } else if (x.what == "<-") {
            if (last_write >= 0)
                turnaround.push_back(x.t - last_write);
            received = x.t;
        } else if (x.what == "->") {
            last_write = x.t;
        } else if (x.what == ".." && received >= 0) {
            answering.push_back(x.t - received);
            answered_sum += x.t - received;
        }
    }
    per_dialogue.push_back(answered_sum);
    unlink(log.c_str());
    printf("dialogues: %d, turnarounds measured: %zu\n", dialogues, turnaround.size());
    printf("turnaround, final answer to next command: median %.1f us, max %.1f us\n",
           percentile(turnaround, 0.5) * 1e6, percentile(turnaround, 1.0) * 1e6);
    double check = percentile(checks, 0.5), sim_time = percentile(per_dialogue, 0.5);
    printf("check_link: median %.1f us per dialogue; simulator's own answering %.1f us;"
           " ratio %.1f\n", check * 1e6, sim_time * 1e6, sim_time > 0 ? check / sim_time : 0);
    return 0;
}
