#pragma once
// The system-wide lock file that every link's dialogue with its modem is held under.

constexpr const char LOCK_DIR[] = "/var/lock";
constexpr const char LOCK_NAME[] = "failover";
constexpr const char LOCK_PATH[] = "/var/lock/failover";

// Creates the lock file holding this process's id ("1234\n"). A lock left by a process that no
// longer exists is removed first, with one line on stderr naming it and that process. True when
// this process now holds the lock; false when someone else's lock is there (errno EEXIST: an
// empty file, other text or a live process's id) or the lock cannot be created or written
// (errno says why).
bool take_lock();

// True when `path` leads to the lock file, whatever its spelling (/run/lock/failover, a hard
// link): the same file as the lock now, or the lock's name in the lock's directory, whether or
// not the lock exists. A tool that writes files as root must never write this one.
bool names_the_lock(const char* path);

// Removes the lock file, but only while it is still the one this process created and holds this
// process's id: a lock removed by hand and since taken by another process is left to it.
void release_lock();
