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

void OnSignal(int signal) {
  caughtSignal.store(signal, std::memory_order_relaxed);
}

}  // namespace

void CatchInterrupts() {
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction before {};
    if (::sigaction(signal, nullptr, &before) != 0 || before.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;  // a write in progress goes on; the flag is seen after it
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
