// Writing the capture: into a fresh file made beside the one named, renamed into place when whole.
// The check runs as root, often in a world-writable directory, so nothing here follows a link.
#include "check/scenario_file.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "check/dialogue.h"
#include "check/text_out.h"
#include "supervisor/command_line.h"
#include "supervisor/lock.h"

namespace {

constexpr char TEMP_SUFFIX[] = ".XXXXXX";
char temp_path[PATH_MAX + sizeof TEMP_SUFFIX];

} // namespace

scenario_file::~scenario_file()
{
    discard();
}

void scenario_file::discard()
{
    if (fd_ < 0)
        return;
    close(fd_);
    unlink(temp_path);
    fd_ = -1;
}

bool scenario_file::refuse(const char* why)
{
    refused_ = why;
    errno = EINVAL;
    return false;
}

bool scenario_file::open(const char* path)
{
    path_ = path;
    int len = snprintf(temp_path, sizeof temp_path, "%s%s", path, TEMP_SUFFIX);
    if (len < 0 || static_cast<size_t>(len) >= sizeof temp_path) {
        errno = ENAMETOOLONG;
        return false;
    }
    if (names_the_lock(path))
        return refuse("the lock file");
    struct stat st;
    if (lstat(path, &st) == 0) {
        if (S_ISLNK(st.st_mode))
            return refuse("a symbolic link, not followed");
        if (!S_ISREG(st.st_mode))
            return refuse("not a regular file");
        // The capture takes the place of the old file with its permissions and owner.
        mode_ = st.st_mode & 07777;
        uid_ = st.st_uid;
        gid_ = st.st_gid;
        keep_owner_ = true;
    } else {
        mode_t mask = umask(0);
        umask(mask);
        mode_ = 0644 & ~mask;
    }
    // Made with O_EXCL under a name nobody knew: never a link, never someone else's file.
    fd_ = mkostemp(temp_path, O_CLOEXEC);
    return fd_ >= 0;
}

const char* scenario_file::problem(int err) const
{
    return refused_ != nullptr ? refused_ : strerror(err);
}

bool scenario_file::finish(const outcome& o, const char* port, const char* type,
                           const link_info& info)
{
    if (o.stage != outcome::CHECKED) {
        discard();
        return true;
    }
    text_out out(fd_);
    out.text("# Recorded by cellwatch-check on ");
    out.visible(port, strlen(port));
    out.text(", TYPE ");
    out.visible(type, strlen(type));
    out.text(info.use_ipv6 == 1 ? ", ip6: " : ": ");
    report_outcome(out, o, port, info);
    out.text("# Replay: modemsim on this file, then cellwatch-check on the port it prints "
             "with the same TYPE and IP_FAMILY.\n");
    write_scenario_steps(out, family_name_of(info.modem_type));
    // Only root may give the file to its old owner; anyone else's capture is theirs anyway.
    int given = keep_owner_ ? fchown(fd_, uid_, gid_) : 0;
    (void)given;
    bool whole = out.flush() && fchmod(fd_, mode_) == 0 && fsync(fd_) == 0;
    int err = errno;
    if (close(fd_) != 0 && whole) {
        whole = false;
        err = errno;
    }
    fd_ = -1;
    if (whole && rename(temp_path, path_) != 0) {
        whole = false;
        err = errno;
    }
    if (!whole) {
        unlink(temp_path);
        errno = err;
    }
    return whole;
}
