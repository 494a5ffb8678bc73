// The file's existence is the lock: several processes, and no daemon, share it.
#include "supervisor/lock.h"

#include <fcntl.h>
#include <unistd.h>

// O_EXCL makes creation the test-and-set; O_NOFOLLOW keeps a planted symlink from pointing
// the lock anywhere else. The descriptor is not needed.
bool take_lock()
{
    int fd = open(LOCK_PATH, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    close(fd);
    return true;
}

void release_lock()
{
    unlink(LOCK_PATH);
}
