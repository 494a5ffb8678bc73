#pragma once
// Running a shell command as root and waiting for it, without system(): the command starts with
// every signal at its default action and an empty mask, whatever this process ignores or blocks,
// and this process keeps its own stop handlers while it waits.

// Puts every signal up to the platform's highest back to its default action and blocks none;
// what a started command runs with, whatever this process ignores or blocks. An ignored SIGHUP
// stays ignored: only a run started under nohup has one.
void reset_signals();

// Runs "/bin/sh -c COMMAND" and waits for it to end. Returns 0 when the shell ran (its exit status
// is not examined), or the errno value that says why it could not be started or waited for.
int run_shell(const char* command);
