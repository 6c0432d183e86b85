// Win32 side of catching interrupts: a console control handler.
#include <windows.h>

#include "platform/interrupt.h"

namespace platform {

namespace {

volatile LONG caught = 0;

// Runs on a thread of its own that the system starts for the event.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  const bool again = ::InterlockedExchange(&caught, 1) != 0;
  // A second Ctrl-C: the user will not wait for the run to tidy up. The system's own
  // handler ends the process at once, whatever call it is stuck in.
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return again ? FALSE : TRUE;
  // Closing the console, logging off, shutting down: the process ends as soon as this
  // returns, so hold it here while the main thread removes the entry it was writing and
  // exits (the system ends the process after a few seconds in any case).
  ::Sleep(INFINITE);
  return TRUE;
}

}  // namespace

void CatchInterrupts() {
  ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool Interrupted() {
  return caught != 0;
}

int InterruptExitCode() {
  return static_cast<int>(STATUS_CONTROL_C_EXIT);
}

}  // namespace platform
