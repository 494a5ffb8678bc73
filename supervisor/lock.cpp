// The file's existence is the lock: several processes, and no daemon, share it. Its content is
// the holder's process id, so that a lock whose holder died (killed by a service manager that did
// not wait, say) can be recognised and recovered instead of stopping every link for good.
#include "supervisor/lock.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Room for the classic layout ("%10d\n") and a little more; a longer file is not a pid.
constexpr size_t LOCK_TEXT_MAX = 32;
constexpr int READ_FLAGS = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

// The lock this process created, known by its file's identity.
struct held_lock {
    bool held = false;
    struct stat file = {};
};
held_lock ours;

// The process id that the whole of `text` holds: leading blanks, decimal digits and an optional
// line end. -1 for anything else, the empty text included.
pid_t pid_in(const char* text, size_t len)
{
    size_t i = 0;
    while (i < len && text[i] == ' ')
        ++i;
    int64_t value = 0; // wider than pid_t on every target
    size_t digits = 0;
    for (; i < len && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
        value = value * 10 + (text[i] - '0');
        if (value > INT_MAX)
            return -1;
    }
    if (i < len && text[i] == '\n')
        ++i;
    if (digits == 0 || i != len || value < 1)
        return -1;
    return static_cast<pid_t>(value);
}

// The id the lock file open on `fd` names, or -1.
pid_t holder_of(int fd)
{
    char text[LOCK_TEXT_MAX];
    ssize_t len = read(fd, text, sizeof text);
    if (len <= 0 || static_cast<size_t>(len) == sizeof text)
        return -1;
    return pid_in(text, static_cast<size_t>(len));
}

// True when no process `pid` exists. This process holds no lock when it judges one, so its own
// id in a lock is a predecessor's that happened to have the same number.
bool is_gone(pid_t pid)
{
    if (pid == getpid())
        return true;
    return kill(pid, 0) != 0 && errno == ESRCH;
}

bool same_file(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Judges and removes under an flock on the lock's directory, so that of several processes that
// find the same stale lock only one removes it: the others then read the lock its next holder
// created (or none), never the stale one, and the file removed is the one that was judged.
// The directory lock is only tried: no other holder of it may make this wait.
bool remove_if_stale()
{
    int dir = open(LOCK_DIR, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return false;
    bool removed = false;
    if (flock(dir, LOCK_EX | LOCK_NB) == 0) {
        int fd = open(LOCK_PATH, READ_FLAGS);
        struct stat judged;
        struct stat named;
        pid_t pid = fd >= 0 ? holder_of(fd) : -1;
        if (pid > 0 && is_gone(pid) && fstat(fd, &judged) == 0 && S_ISREG(judged.st_mode) &&
            lstat(LOCK_PATH, &named) == 0 && same_file(judged, named) && unlink(LOCK_PATH) == 0) {
            fprintf(stderr, "%s was left by process %d, which no longer exists; removed\n",
                    LOCK_PATH, static_cast<int>(pid));
            removed = true;
        }
        if (fd >= 0)
            close(fd);
    }
    close(dir);
    return removed;
}

// O_EXCL makes creation the test-and-set; O_NOFOLLOW keeps a planted symlink from pointing the
// lock anywhere else. The id goes in with one write, so a reader sees the file empty (someone
// else's, to be waited for) or whole.
bool create_lock()
{
    int fd = open(LOCK_PATH, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC,
                  0644);
    if (fd < 0)
        return false;
    char text[LOCK_TEXT_MAX];
    int len = snprintf(text, sizeof text, "%d\n", static_cast<int>(getpid()));
    bool written = write(fd, text, static_cast<size_t>(len)) == len && fstat(fd, &ours.file) == 0;
    int err = written ? 0 : errno;
    close(fd);
    if (!written) {
        // A lock without its holder's id could never be recovered: better none at all.
        unlink(LOCK_PATH);
        errno = err != 0 ? err : EIO;
        return false;
    }
    ours.held = true;
    return true;
}

} // namespace

bool names_the_lock(const char* path)
{
    struct stat named;
    struct stat lock;
    if (lstat(path, &named) == 0 && stat(LOCK_PATH, &lock) == 0 && same_file(named, lock))
        return true;
    const char* slash = strrchr(path, '/');
    const char* name = slash != nullptr ? slash + 1 : path;
    if (strcmp(name, LOCK_NAME) != 0)
        return false;
    char dir[PATH_MAX] = ".";
    if (slash != nullptr) {
        size_t len = slash == path ? 1 : static_cast<size_t>(slash - path);
        if (len >= sizeof dir)
            return false;
        memcpy(dir, path, len);
        dir[len] = '\0';
    }
    struct stat lock_dir;
    return stat(dir, &named) == 0 && stat(LOCK_DIR, &lock_dir) == 0 &&
           same_file(named, lock_dir);
}

bool take_lock()
{
    if (create_lock())
        return true;
    if (errno != EEXIST)
        return false;
    if (!remove_if_stale()) {
        errno = EEXIST;
        return false;
    }
    return create_lock();
}

void release_lock()
{
    if (!ours.held)
        return;
    ours.held = false;
    int fd = open(LOCK_PATH, READ_FLAGS);
    if (fd < 0)
        return;
    struct stat now;
    bool still_ours = fstat(fd, &now) == 0 && same_file(now, ours.file) && holder_of(fd) == getpid();
    close(fd);
    if (still_ours)
        unlink(LOCK_PATH);
}
