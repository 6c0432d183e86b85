// Ctrl-C and its kin, for the command-line tool: caught instead of ending the process, so
// that the entry being written can be removed and the run can say what it did.
#pragma once

namespace platform {

// From now on SIGINT, SIGTERM and SIGHUP (on Windows Ctrl-C, Ctrl-Break and closing the
// console) only set a flag. Signals the process was started with ignored stay ignored
// (nohup, background jobs).
void CatchInterrupts();

// True once one of them has arrived.
bool Interrupted();

// The exit status that reports it: 128 + the signal's number on POSIX (130 for Ctrl-C,
// 143 for SIGTERM), STATUS_CONTROL_C_EXIT on Windows.
int InterruptExitCode();

}  // namespace platform
