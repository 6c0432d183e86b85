// POSIX side of catching interrupts.
#include <signal.h>

#include <atomic>
#include <csignal>
#include <initializer_list>

#include "platform/interrupt.h"

namespace platform {

namespace {

// Read by every thread extracting; a lock-free atomic may be set from a signal handler.
std::atomic<int> caughtSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");

// The first signal asks the run to stop and lets it tidy up. A second one means the user
// will not wait for that: the process ends at once, whatever call it is stuck in.
void OnSignal(int signal) {
  if (caughtSignal.exchange(signal, std::memory_order_relaxed) == 0) return;
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  ::sigaction(signal, &fallback, nullptr);
  ::raise(signal);  // delivered, and fatal, as soon as this handler returns
}

}  // namespace

void CatchInterrupts() {
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction before {};
    if (::sigaction(signal, nullptr, &before) != 0 || before.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a call waiting on something (a slow disk, a full pipe) returns with
    // EINTR, so the run sees the flag instead of waiting on.
    action.sa_flags = 0;
    ::sigaction(signal, &action, nullptr);
  }
}

bool Interrupted() {
  return caughtSignal.load(std::memory_order_relaxed) != 0;
}

int InterruptExitCode() {
  return 128 + caughtSignal.load(std::memory_order_relaxed);
}

}  // namespace platform
