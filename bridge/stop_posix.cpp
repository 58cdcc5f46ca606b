#include <signal.h>
#include <unistd.h>

#include "bridge/stop.h"

namespace bridge {

namespace {

const sigset_t& StopSignals() {
  static const sigset_t set = [] {
    sigset_t s;
    sigemptyset(&s);
    sigaddset(&s, SIGINT);
    sigaddset(&s, SIGTERM);
    return s;
  }();
  return set;
}

}  // namespace

void PrepareStop() { pthread_sigmask(SIG_BLOCK, &StopSignals(), nullptr); }

void WaitForStop() {
  int sig = 0;
  sigwait(&StopSignals(), &sig);
}

// Blocked in every thread, the signal waits for the one in WaitForStop.
void RequestStop() { kill(getpid(), SIGTERM); }

}  // namespace bridge
