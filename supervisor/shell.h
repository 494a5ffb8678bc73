#pragma once
// Running a shell command as root and waiting for it, without system(): the command starts with
// every signal at its default action and an empty mask, whatever this process ignores or blocks,
// and a stop signal during the wait is kept for the cycle, and bounds the wait.

// Puts every signal up to the platform's highest back to its default action and blocks none;
// what a started command runs with, whatever this process ignores or blocks. An ignored SIGHUP
// stays ignored: only a run started under nohup has one.
void reset_signals();

// Runs "/bin/sh -c COMMAND" in a process group of its own and waits for it to end. A stop signal,
// asked before or during the wait, is recorded in `stop_requested` and bounds the wait: the
// command has 5 s to end, then its group gets SIGTERM, and 5 s later SIGKILL. Returns 0 when the
// shell ran (its exit status is not examined), or the errno value that says why it could not be
// started or waited for.
int run_shell(const char* command);

// The same for the program at `path`, with `argv` (nullptr-terminated) and no shell between:
// its words are never parsed. When `limit_ms` is not 0, a command still running after that long
// gets SIGTERM to its group, and SIGKILL 5 s later.
int run_program(const char* path, char* const argv[], int limit_ms);
