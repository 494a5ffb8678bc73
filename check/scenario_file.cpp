// Writing the capture: opened early, emptied late, and never anything but a regular file.
#include "check/scenario_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "check/dialogue.h"
#include "check/text_out.h"
#include "supervisor/command_line.h"

scenario_file::~scenario_file()
{
    if (fd_ >= 0)
        close(fd_);
}

bool scenario_file::open(const char* path)
{
    path_ = path;
    constexpr int FLAGS = O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    struct stat st;
    not_regular_ = stat(path, &st) == 0 && !S_ISREG(st.st_mode);
    if (not_regular_)
        return false;
    fd_ = ::open(path, FLAGS | O_CREAT | O_EXCL, 0644);
    created_ = fd_ >= 0;
    if (fd_ < 0 && errno == EEXIST)
        fd_ = ::open(path, FLAGS);
    // What was opened may have been put there since the look.
    if (fd_ >= 0 && (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode))) {
        close(fd_);
        fd_ = -1;
        not_regular_ = true;
    }
    return fd_ >= 0;
}

const char* scenario_file::problem(int err) const
{
    return not_regular_ ? "not a regular file" : strerror(err);
}

bool scenario_file::finish(const outcome& o, const char* port, const char* type,
                           const link_info& info)
{
    if (o.stage != outcome::CHECKED) {
        if (created_)
            unlink(path_);
        return true;
    }
    if (ftruncate(fd_, 0) != 0)
        return false;
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
    return out.flush();
}
