#pragma once
// The system-wide lock file that every link's dialogue with its modem is held under.

constexpr const char LOCK_PATH[] = "/var/lock/failover";

// Creates the lock file. True when this process created it and so holds the lock; false when it
// exists already (someone else's, or one left behind; errno EEXIST) or cannot be created (errno
// says why).
bool take_lock();

// Removes the lock file; only its holder calls this.
void release_lock();
