// The file's existence is the lock: several processes, and no daemon, share it. Its content
// begins with the holder's process id, and a lock made here says " flock" behind it: its holder
// keeps an flock on the file for as long as it holds it, and the kernel lets that go when the
// holder dies, however it dies. So a dead holder's lock is known for one even where its pid has
// been given to another process, or belongs to another PID namespace, and a live holder's is
// never taken for a dead one's.
#include "supervisor/lock.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Room for the classic layout ("%10d\n") and the mark; a longer file is no lock of ours.
constexpr size_t LOCK_TEXT_MAX = 32;
constexpr size_t PATH_CAPACITY = 128;
constexpr char MARK[] = " flock";
constexpr int READ_FLAGS = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
constexpr int NEW_FILE_FLAGS = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC;

// The lock's file while this process holds it: its flock says the holder lives.
int held_fd = -1;

// What a lock file says of its holder.
struct lock_text {
    pid_t pid = -1;      // -1: no pid (an empty file, other text)
    bool marked = false; // " flock": the holder's flock alone says whether it lives
};

// Leading blanks, decimal digits, then MARK or nothing, then an optional line end: the whole
// text, or it names no holder.
lock_text parse_lock_text(const char* text, size_t len)
{
    lock_text t;
    size_t i = 0;
    while (i < len && text[i] == ' ')
        ++i;
    int64_t value = 0; // wider than pid_t on every target
    size_t digits = 0;
    for (; i < len && text[i] >= '0' && text[i] <= '9' && value <= INT_MAX; ++i, ++digits)
        value = value * 10 + (text[i] - '0');
    bool marked = len - i >= sizeof MARK - 1 && memcmp(text + i, MARK, sizeof MARK - 1) == 0;
    if (marked)
        i += sizeof MARK - 1;
    if (i < len && text[i] == '\n')
        ++i;
    if (digits > 0 && i == len && value >= 1 && value <= INT_MAX) {
        t.pid = static_cast<pid_t>(value);
        t.marked = marked;
    }
    return t;
}

lock_text read_lock_text(int fd)
{
    char text[LOCK_TEXT_MAX];
    ssize_t len = read(fd, text, sizeof text);
    if (len <= 0 || static_cast<size_t>(len) == sizeof text)
        return lock_text{};
    return parse_lock_text(text, static_cast<size_t>(len));
}

bool same_file(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// True while the lock's name leads to the file open on `fd`. That file stays open meanwhile, so
// its inode number cannot have been given to another.
bool named_by_lock(int fd)
{
    struct stat open_file;
    struct stat named;
    return fstat(fd, &open_file) == 0 && lstat(LOCK_PATH, &named) == 0 &&
           same_file(open_file, named);
}

// Whether the holder that `t` names is gone. The flock is already this process's, so nobody
// holds the file: for a marked lock that is the answer. Otherwise only a pid that no process has
// proves it; this process's own pid proves nothing, since another PID namespace may have it too.
bool holder_gone(const lock_text& t)
{
    if (t.marked)
        return true;
    return t.pid > 0 && kill(t.pid, 0) != 0 && errno == ESRCH;
}

// Judges the lock that stands under an flock on the lock file itself, so that of several
// processes that judge the same file only one acts, and only on that file: a lock that a third
// created since is another file. Nothing outside the lock file can hold this up. True when the
// lock is gone, by its holder's hand or as stale here; false while it stands, `holder` then
// naming its pid.
bool lock_cleared(pid_t& holder)
{
    int fd = open(LOCK_PATH, READ_FLAGS);
    if (fd < 0)
        return errno == ENOENT;
    lock_text t = read_lock_text(fd);
    holder = t.pid;
    bool removed = flock(fd, LOCK_EX | LOCK_NB) == 0 && holder_gone(t) && named_by_lock(fd) &&
                   unlink(LOCK_PATH) == 0;
    if (removed)
        fprintf(stderr, "%s was left by process %d, which no longer exists; removed\n", LOCK_PATH,
                static_cast<int>(t.pid));
    close(fd);
    return removed;
}

// The lock is made whole under a name of its own in the lock's directory and then linked to the
// lock's name, which fails when a lock is there: no reader ever sees it empty, even when this
// process is killed halfway. The flock is taken before the link, so the lock is never without
// it either; where the file system has no flock, the lock says only the pid. The temporary name
// carries the clock's nanoseconds too, since another PID namespace may have this pid.
bool create_lock()
{
    char temp[PATH_CAPACITY];
    int fd = -1;
    for (int tries = 0; fd < 0 && tries < 2; ++tries) {
        struct timespec now = {};
        clock_gettime(CLOCK_MONOTONIC, &now);
        snprintf(temp, sizeof temp, "%s/.%s.%d.%lx", LOCK_DIR, LOCK_NAME,
                 static_cast<int>(getpid()), static_cast<unsigned long>(now.tv_nsec));
        fd = open(temp, NEW_FILE_FLAGS, 0644);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;
    bool marked = flock(fd, LOCK_EX | LOCK_NB) == 0;
    char text[LOCK_TEXT_MAX];
    int len = snprintf(text, sizeof text, "%d%s\n", static_cast<int>(getpid()), marked ? MARK : "");
    ssize_t written = write(fd, text, static_cast<size_t>(len));
    // A full file system (a firmware image in the RAM disk) takes the file but not its text: an
    // empty lock is still a lock, only one whose holder's life nobody can judge.
    bool text_done = written == len || ftruncate(fd, 0) == 0;
    int err = 0;
    if (!text_done || link(temp, LOCK_PATH) != 0)
        err = errno;
    unlink(temp);
    if (err != 0) {
        close(fd);
        errno = err;
        return false;
    }
    held_fd = fd;
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

bool take_lock(pid_t& holder)
{
    holder = -1;
    // Once more after a lock that went away: another process may have taken it meanwhile.
    for (int tries = 0; tries < 2; ++tries) {
        if (create_lock())
            return true;
        if (errno != EEXIST)
            return false;
        if (!lock_cleared(holder))
            break;
    }
    errno = EEXIST;
    return false;
}

void release_lock()
{
    if (held_fd < 0)
        return;
    // The name goes first, the flock with the close: a judge never sees this lock unheld.
    if (named_by_lock(held_fd))
        unlink(LOCK_PATH);
    close(held_fd);
    held_fd = -1;
}
