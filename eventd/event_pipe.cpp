// The FIFO is root's door to a root script: it is made private, and a path that holds anything
// else, or that another program replaced, is never opened or changed.
#include "eventd/event_pipe.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr mode_t PIPE_MODE = 0600;

const char* kind_of(mode_t mode)
{
    if (S_ISREG(mode))
        return "a regular file";
    if (S_ISDIR(mode))
        return "a directory";
    if (S_ISLNK(mode))
        return "a symbolic link";
    return "not a FIFO";
}

int fail(const char* path, const char* what)
{
    int err = errno;
    fprintf(stderr, "cellwatch-eventd: %s: %s: %d (%s)\n", path, what, err, strerror(err));
    return -1;
}

// Opens the FIFO for reading without following a link and without waiting for a writer; -1
// with a message when what was opened is no FIFO (replaced since it was looked at).
int open_reader(const char* path)
{
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return fail(path, "cannot be opened");
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISFIFO(st.st_mode)) {
        close(fd);
        fprintf(stderr, "cellwatch-eventd: %s is not a FIFO; left alone\n", path);
        return -1;
    }
    return fd;
}

} // namespace

int open_event_pipe(const char* path)
{
    struct stat st;
    if (lstat(path, &st) != 0) {
        if (errno != ENOENT)
            return fail(path, "cannot be looked at");
        if (mkfifo(path, PIPE_MODE) != 0 && errno != EEXIST)
            return fail(path, "cannot be made");
    } else if (!S_ISFIFO(st.st_mode)) {
        fprintf(stderr, "cellwatch-eventd: %s is %s, not a FIFO; left alone\n", path,
                kind_of(st.st_mode));
        return -1;
    }
    int fd = open_reader(path);
    if (fd < 0)
        return -1;
    // Whoever may write to the pipe may have a root script run: nobody but root.
    if (fchmod(fd, PIPE_MODE) != 0 || (geteuid() == 0 && fchown(fd, 0, 0) != 0)) {
        fail(path, "cannot be made root's alone");
        close(fd);
        return -1;
    }
    return fd;
}

int reopen_event_pipe(const char* path, int fd)
{
    int again = open_reader(path);
    if (again < 0)
        return -1;
    int moved = dup3(again, fd, O_CLOEXEC);
    int err = errno;
    close(again);
    errno = err;
    return moved == fd ? 0 : fail(path, "cannot be opened again");
}
