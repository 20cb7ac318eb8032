// Running a command line through "/bin/sh -c" and waiting for it, as the C library's system does, but safe
// for a program whose threads keep SIGINT and SIGTERM blocked: the child starts with no signal blocked and
// default dispositions, and the shell replaces itself with the command ("exec"), so signals sent to the
// process group reach the command itself and its own exit code is the result. While any command runs,
// the caller's process ignores SIGINT and SIGQUIT, so a Ctrl-C at the terminal reaches only the command.
#pragma once

#include <atomic>

#include "runtime/sandbox.h"
#include "runtime/types.h"

// The command's exit code (0 to 255; 0 also when a signal ended it), or -1 when the shell cannot be
// started. Thread-safe; several commands may run at once. When processId is given it holds the command's
// process ID while the command runs (0 before and after), for v3ShellSignal from another thread. With a
// prepared sandbox the shell, and so the command it becomes, is confined before it starts; a sandbox that
// cannot be applied ends the child with 127 before anything runs.
[[nodiscard]] int v3ShellRun(const char* commandLine, std::atomic<u64>* processId = nullptr,
                             const CoreSandbox* sandbox = nullptr);
// Sends signal (SIGINT, SIGKILL, SIGTERM, SIGSTOP or SIGCONT) to a command that v3ShellRun started and has
// not yet collected, and to nothing else: a process ID that has ended and been reused is never signalled.
// A SIGCONT goes only to a command that a SIGSTOP from here stopped (0 without sending otherwise): a
// running command may use stops of its own (a sanitizer's leak check at exit). 0 when sent, -1 otherwise.
[[nodiscard]] int v3ShellSignal(u64 processId, int signal);
// Continues every command v3ShellRun runs now that a SIGSTOP from here stopped. Async-signal-safe: for the
// termination handler, so that a client that ends never leaves a paused command stopped for ever. A SIGINT
// to the process while commands run does the same (and nothing else).
void v3ShellContinueAll();
