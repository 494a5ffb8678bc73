// The lock as the field meets it: holders that die without releasing it, pids given again,
// holders in other PID namespaces, other processes' flocks. Runs in a private mount namespace,
// so the lock's directory is the test's own; PID namespaces and ns_last_pid give chosen pids.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <initializer_list>
#include <sched.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include "supervisor/lock.h"
#include "support.h"

namespace {

const std::string LOCK = "/var/lock/failover";

// Exit statuses of the helpers' processes, besides a test's own 0 and 1.
constexpr int NO_CHOSEN_PID = 90;
constexpr int NO_NAMESPACE = 91;

int wait_status(pid_t pid)
{
    int status = -1;
    if (waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Forks a process whose pid, in this process's PID namespace, is `pid`, to run `body` and exit
// with its result; NO_CHOSEN_PID when that pid could not be had.
pid_t fork_with_pid(pid_t pid, const std::function<int()>& body)
{
    int fd = open("/proc/sys/kernel/ns_last_pid", O_WRONLY | O_CLOEXEC);
    std::string last = std::to_string(pid - 1);
    bool set = fd >= 0 && write(fd, last.data(), last.size()) == static_cast<ssize_t>(last.size());
    if (fd >= 0)
        close(fd);
    pid_t child = fork();
    if (child == 0)
        _exit(set && getpid() == pid ? body() : NO_CHOSEN_PID);
    return child;
}

// Runs `body` as the first process of a new PID namespace, in a child; returns its exit status.
// With `wait_for_it` false the child's pid is returned instead, for the caller to wait for. The
// descriptors `unused` are closed in the child: the caller's own ends of its pipes.
int in_pid_namespace(const std::function<int()>& body, bool wait_for_it = true,
                     std::initializer_list<int> unused = {})
{
    pid_t outer = fork();
    if (outer == 0) {
        for (int fd : unused)
            close(fd);
        if (unshare(CLONE_NEWPID) != 0)
            _exit(NO_NAMESPACE);
        pid_t first = fork();
        if (first == 0)
            _exit(body());
        _exit(wait_status(first));
    }
    return wait_for_it ? wait_status(outer) : outer;
}

// A holder of the lock in a PID namespace of its own, with the pid `inner` there. It holds the
// lock until ended, and then dies without releasing it, as a SIGKILL would leave it.
class namespaced_holder {
public:
    explicit namespaced_holder(pid_t inner)
    {
        if (pipe2(end_, O_CLOEXEC) != 0 || pipe2(ready_, O_CLOEXEC) != 0)
            return;
        outer_ = in_pid_namespace([this, inner] {
            pid_t holder = fork_with_pid(inner, [this] {
                pid_t other = -1;
                char took = take_lock(other) ? 'y' : 'n';
                if (write(ready_[1], &took, 1) != 1)
                    return 1;
                char c;
                return static_cast<int>(read(end_[0], &c, 1)); // 0 at the end's close
            });
            return wait_status(holder);
        }, false, {end_[1], ready_[0]});
        close(ready_[1]);
        close(end_[0]);
    }
    // True once the holder says it took the lock.
    bool took()
    {
        char c = 0;
        return read(ready_[0], &c, 1) == 1 && c == 'y';
    }
    // Ends the holder; its exit status, NO_CHOSEN_PID or NO_NAMESPACE when it never ran.
    int die()
    {
        close(end_[1]);
        close(ready_[0]);
        return wait_status(outer_);
    }

private:
    int end_[2] = {-1, -1};
    int ready_[2] = {-1, -1};
    pid_t outer_ = -1;
};

class Lock : public ::testing::Test {
protected:
    sandbox_root root;
    void SetUp() override
    {
        std::string why = enter_sandbox(root);
        if (!why.empty())
            GTEST_SKIP() << "no private mount namespace: " << why;
    }
    // Takes the lock here; its stderr goes to `err`.
    bool take(std::string& err)
    {
        fd_capture capture(2);
        pid_t holder = -1;
        bool taken = take_lock(holder);
        err = capture.text();
        return taken;
    }
    // Holds `inner` in a namespace of its own, or skips when that cannot be had here.
    void expect_held(namespaced_holder& h)
    {
        if (!h.took()) {
            int status = h.die();
            if (status == NO_CHOSEN_PID || status == NO_NAMESPACE)
                GTEST_SKIP() << "no PID namespace with a chosen pid here (" << status << ")";
            FAIL() << "the holder did not take the lock: " << status;
        }
    }
};

std::string removed_line(pid_t pid)
{
    return LOCK + " was left by process " + std::to_string(pid) + ", which no longer exists; " +
           "removed\n";
}

// A live holder in another namespace is waited for, whatever its pid means here: nothing, or
// this process's own number.
TEST_F(Lock, ALiveHolderInAnotherPidNamespaceIsWaitedFor)
{
    for (pid_t inner : {getpid(), dead_pid()}) {
        namespaced_holder h(inner);
        expect_held(h);
        if (HasFatalFailure() || IsSkipped())
            return;
        std::string err;
        pid_t holder = -1;
        errno = 0;
        EXPECT_FALSE(take_lock(holder)) << "pid " << inner;
        EXPECT_EQ(errno, EEXIST);
        EXPECT_EQ(holder, inner);
        EXPECT_EQ(read_file(LOCK), std::to_string(inner) + " flock\n");
        EXPECT_EQ(h.die(), 0);
        // Dead now: recovered at once.
        EXPECT_TRUE(take(err)) << "pid " << inner;
        EXPECT_EQ(err, removed_line(inner));
        release_lock();
    }
}

// A holder that died in a namespace, under a pid that a live process has here, is recovered.
TEST_F(Lock, ADeadHoldersLockIsRecoveredWhereItsPidLives)
{
    namespaced_holder h(getppid());
    expect_held(h);
    if (HasFatalFailure() || IsSkipped())
        return;
    EXPECT_EQ(h.die(), 0);
    std::string err;
    EXPECT_TRUE(take(err));
    EXPECT_EQ(err, removed_line(getppid()));
    EXPECT_EQ(read_file(LOCK), std::to_string(getpid()) + " flock\n");
    release_lock();
    EXPECT_FALSE(file_exists(LOCK));
}

// In one namespace: the holder dies, its pid goes to a long-lived process, the lock is still
// recovered.
TEST_F(Lock, APidGivenAgainDoesNotKeepADeadHoldersLock)
{
    constexpr pid_t REUSED = 300;
    int status = in_pid_namespace([] {
        pid_t first = fork_with_pid(REUSED, [] {
            pid_t other = -1;
            return take_lock(other) ? 0 : 1; // and dies holding it
        });
        int took = wait_status(first);
        if (took != 0)
            return took;
        pid_t again = fork_with_pid(REUSED, [] {
            pause();
            return 0;
        });
        pid_t holder = -1;
        bool taken = take_lock(holder);
        kill(again, SIGKILL);
        int reuse = wait_status(again);
        if (reuse == NO_CHOSEN_PID)
            return reuse;
        release_lock();
        return taken ? 0 : 1;
    });
    if (status == NO_CHOSEN_PID || status == NO_NAMESPACE)
        GTEST_SKIP() << "no PID namespace with a chosen pid here (" << status << ")";
    EXPECT_EQ(status, 0) << "the dead holder's lock was kept by its pid's new owner";
    EXPECT_FALSE(file_exists(LOCK));
}

// Only the lock file itself speaks for its holder: an flock on the directory stops nothing.
TEST_F(Lock, AnotherProcesssFlockOnTheDirectoryDoesNotStopRecovery)
{
    int dir = open("/var/lock", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(flock(dir, LOCK_EX), 0);
    pid_t gone = dead_pid();
    for (const std::string& text : {std::to_string(gone) + "\n",
                                    std::to_string(getppid()) + " flock\n"}) {
        write_file(LOCK, text);
        std::string err;
        EXPECT_TRUE(take(err)) << text;
        EXPECT_NE(err.find(", which no longer exists; removed\n"), std::string::npos) << text;
        release_lock();
    }
    close(dir);
}

// Judged by the lock file alone: an flock on it is a live holder, and a lock that this process
// made and released, or that was removed and taken by another meanwhile, is not removed again.
TEST_F(Lock, AnFlockOnTheLockIsALiveHolderAndReleaseTakesOnlyOurs)
{
    write_file(LOCK, std::to_string(dead_pid()) + " flock\n");
    int other = open(LOCK.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(flock(other, LOCK_SH), 0);
    std::string err;
    EXPECT_FALSE(take(err));
    EXPECT_EQ(err, "");
    close(other);
    EXPECT_TRUE(take(err));
    ASSERT_EQ(unlink(LOCK.c_str()), 0);
    write_file(LOCK, "taken by hand\n");
    release_lock();
    EXPECT_EQ(read_file(LOCK), "taken by hand\n");
}

} // namespace
