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

// Removes the lock file, but only while it is still the one this process created and holds this
// process's id: a lock removed by hand and since taken by another process is left to it.
void release_lock();
