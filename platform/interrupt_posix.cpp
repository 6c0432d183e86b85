// POSIX side of catching interrupts.
#include <signal.h>

#include <csignal>
#include <initializer_list>

#include "platform/interrupt.h"

namespace platform {

namespace {

volatile std::sig_atomic_t caughtSignal = 0;

void OnSignal(int signal) {
  caughtSignal = signal;
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
  return caughtSignal != 0;
}

int InterruptExitCode() {
  return 128 + caughtSignal;
}

}  // namespace platform
