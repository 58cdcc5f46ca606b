// Small helpers for tests and benchmarks that drive real processes.
#ifndef FR_TOOLS_SIM_TEST_UTIL_H_
#define FR_TOOLS_SIM_TEST_UTIL_H_

#include <chrono>
#include <thread>

namespace sim {

// Polls `done` every 50 ms until it is true or `timeout_ms` has passed;
// processes take their time to come up, and a fixed sleep is either too
// long or flaky.
template <typename F>
bool Eventually(F done, int timeout_ms) {
  for (int waited = 0; waited < timeout_ms; waited += 50) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return done();
}

// A TCP port on 127.0.0.1 that nothing listens on just now (0 on failure),
// for a server a test starts and starts again on the same port.
int FreeLoopbackPort();

}  // namespace sim

#endif  // FR_TOOLS_SIM_TEST_UTIL_H_
