#pragma once
// The system-wide lock file that every link's dialogue with its modem is held under.
#include <sys/types.h>

constexpr const char LOCK_DIR[] = "/var/lock";
constexpr const char LOCK_NAME[] = "failover";
constexpr const char LOCK_PATH[] = "/var/lock/failover";

// Takes the lock: the file appears under its name already holding "PID flock\n", and this
// process keeps an flock on it until release_lock, so that any process, in any PID namespace,
// can tell that its holder lives. Where the text cannot be written (a full file system) the
// lock is empty, which every judge waits for. A lock already there is judged first: a "PID flock" lock whose
// flock nobody holds, or a lock holding only the id of a process that does not exist, is
// removed, with one line on stderr naming it and that process, and taken. True when this
// process now holds the lock. False with errno EEXIST when the lock stands (an empty file, other
// text, a live holder), `holder` then its pid or -1 when it names none; false with another errno
// when the lock cannot be created (a missing or read-only directory, say).
bool take_lock(pid_t& holder);

// True when `path` leads to the lock file, whatever its spelling (/run/lock/failover, a hard
// link): the same file as the lock now, or the lock's name in the lock's directory, whether or
// not the lock exists. A tool that writes files as root must never write this one.
bool names_the_lock(const char* path);

// Removes the lock file, but only while its name still leads to the file this process created,
// then lets its flock go: a lock removed by hand and since taken by another is left to it.
void release_lock();
