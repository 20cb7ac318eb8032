// Running a command line through "/bin/sh -c" and waiting for it, as the C library's system does, but safe
// for a program whose threads keep SIGINT and SIGTERM blocked: the child starts with no signal blocked and
// default dispositions, and the shell replaces itself with the command ("exec"), so signals sent to the
// process group reach the command itself and its own exit code is the result. While any command runs,
// the caller's process ignores SIGINT and SIGQUIT, so a Ctrl-C at the terminal reaches only the command.
#pragma once

#include "runtime/types.h"

// The command's exit code (0 to 255; 0 also when a signal ended it), or -1 when the shell cannot be
// started. Thread-safe; several commands may run at once.
[[nodiscard]] int v3ShellRun(const char* commandLine);
