#pragma once
// Reading a DHCP client's pid file before a signal is sent as root on its word.
#include <sys/types.h>

// The process id in `path` when the file holds one decimal number greater than 1, optionally
// followed by white space, in at most a few dozen bytes. Otherwise -1, with one line on stderr
// that names the file and says why: "-9 -1" would reach every process, 0 this process's own
// group, and 1 init, which on router init systems reboots on SIGTERM.
pid_t read_pid_file(const char* path);
