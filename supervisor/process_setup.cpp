// Start-up hygiene: standard descriptors and the inherited signal dispositions.
#include "supervisor/process_setup.h"

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

constexpr int STANDARD_DESCRIPTORS = 3;

} // namespace

void prepare_process()
{
    // open() takes the lowest free descriptor, so filling them in order fills the closed one.
    // Without /dev/null there is nothing better to put there; the descriptor stays closed.
    struct stat st;
    for (int fd = 0; fd < STANDARD_DESCRIPTORS; ++fd)
        if (fstat(fd, &st) != 0)
            open("/dev/null", O_RDWR);
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, nullptr);
    struct sigaction by_default = {};
    by_default.sa_handler = SIG_DFL;
    sigaction(SIGCHLD, &by_default, nullptr);
    // A stop signal blocked by the parent would never reach the handlers: only SIGKILL would end
    // the run, and that leaves the lock behind.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}
