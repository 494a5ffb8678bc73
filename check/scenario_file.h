#pragma once
// The file --scenario names: the dialogue written as modemsim steps that replay it.
#include <sys/types.h>

#include "check/one_check.h"
#include "supervisor/link_info.h"

// The capture is written into a fresh file beside the one named and renamed over it only once
// it is whole: a run that fails half-way (a full disk) or has no dialogue leaves what was there
// as it was, and no cut file. The fresh file is made before the modem is touched, so that a place
// that cannot be written costs no dialogue. Nothing is ever opened through a symbolic link.
class scenario_file {
public:
    scenario_file() = default;
    scenario_file(const scenario_file&) = delete;
    scenario_file& operator=(const scenario_file&) = delete;
    ~scenario_file();

    // False, with errno, when `path` cannot be written. Refused: a path that is a symbolic link
    // or anything but a regular file (a FIFO such as the event pipe would wait for a reader, or
    // take the steps), and the lock file, under any name that leads to it.
    bool open(const char* path);
    // Why open failed, given its errno.
    const char* problem(int err) const;
    // After the run `o` on `port` with `type` and `info`: puts the steps in place when there was
    // a dialogue. False, with errno, when they could not be written whole; the file named is
    // then as it was.
    bool finish(const outcome& o, const char* port, const char* type, const link_info& info);

private:
    bool refuse(const char* why);
    void discard();

    const char* path_ = nullptr;
    const char* refused_ = nullptr;
    int fd_ = -1;
    mode_t mode_ = 0;
    uid_t uid_ = 0;
    gid_t gid_ = 0;
    bool keep_owner_ = false;
};
