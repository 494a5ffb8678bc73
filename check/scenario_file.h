#pragma once
// The file --scenario names: the dialogue written as modemsim steps that replay it.
#include "check/one_check.h"
#include "supervisor/link_info.h"

// The file --scenario names. It is opened before the modem is touched, so that a path that
// cannot be written costs no dialogue, and it is only emptied once there is a dialogue to put in
// it: a run that had none leaves an existing file as it was and removes one it created.
class scenario_file {
public:
    scenario_file() = default;
    scenario_file(const scenario_file&) = delete;
    scenario_file& operator=(const scenario_file&) = delete;
    ~scenario_file();

    // False, with errno, when `path` cannot be written. Only a regular file is taken: opening
    // a FIFO for writing would wait for a reader, and the event pipe is one.
    bool open(const char* path);
    // Why open failed, given its errno.
    const char* problem(int err) const;
    // After the run `o` on `port` with `type` and `info`: writes the steps when there was a
    // dialogue, else puts the file back as it was. False, with errno, when the steps could not
    // be written whole.
    bool finish(const outcome& o, const char* port, const char* type, const link_info& info);

private:
    const char* path_ = nullptr;
    int fd_ = -1;
    bool created_ = false;
    bool not_regular_ = false;
};
