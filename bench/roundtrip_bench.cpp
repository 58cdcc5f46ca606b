// One host command's round trip on a pseudo-terminal against the real
// fr-core: written frame to read reply. The device pauses 10 ms before every
// good reply, and a queued command also waits for the main loop's next pass
// (it pauses 20 ms after each). Asked back to back, a queued command arrives
// 10 ms into that 20 ms pause (the reply pause of the one before), so it
// waits the other 10 ms: 20 ms are imposed in all. The counters give the
// median and the 99th percentile with the imposed pauses subtracted;
// link_bench measures the same path with no pauses at all.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "tools/sim/rig.h"

namespace {

constexpr double kReplyPauseMs = 10.0;
constexpr double kLoopWaitMs = 10.0;  // the rest of the loop's pause, back to back

// A static, not a leak: its destructor at exit kills the device, which must
// not outlive the benchmark.
sim::Rig* SharedRig() {
  static sim::Rig rig(FR_CORE_PATH);
  static const bool ready = rig.Prepare() && rig.Start() && rig.WaitReady();
  return ready ? &rig : nullptr;
}

void RoundTrip(benchmark::State& state, uint8_t command, double imposed_ms) {
  sim::Rig* rig = SharedRig();
  if (rig == nullptr) {
    state.SkipWithError("fr-core did not start");
    return;
  }
  std::vector<double> ms;
  uint32_t id = 1000;
  for (auto _ : state) {
    host::Reply reply;
    const auto start = std::chrono::steady_clock::now();
    if (!rig->host().Request(command, ++id, "", &reply)) {
      state.SkipWithError("no reply");
      return;
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    state.SetIterationTime(took.count());
    ms.push_back(took.count() * 1000.0);
  }
  std::sort(ms.begin(), ms.end());
  const double p50 = ms[ms.size() / 2];
  const double p99 = ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
  state.counters["p50_ms"] = p50;
  state.counters["p99_ms"] = p99;
  state.counters["p50_less_pause_ms"] = p50 - imposed_ms;
  state.counters["p99_less_pause_ms"] = p99 - imposed_ms;
}

// Served by the host link itself (version).
void BM_SelfServedCommand(benchmark::State& state) { RoundTrip(state, 51, kReplyPauseMs); }
// Through the queue and the main loop (a code the core answers with 10).
void BM_QueuedCommand(benchmark::State& state) { RoundTrip(state, 200, kReplyPauseMs + kLoopWaitMs); }

// The imposed pause alone: how late a 10 ms sleep wakes up on this machine
// at this moment. Its tail is the share of the tails above that no code of
// the device can take away.
void BM_PauseAlone(benchmark::State& state) {
  std::vector<double> ms;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    state.SetIterationTime(took.count());
    ms.push_back(took.count() * 1000.0);
  }
  std::sort(ms.begin(), ms.end());
  state.counters["p50_less_pause_ms"] = ms[ms.size() / 2] - kReplyPauseMs;
  state.counters["p99_less_pause_ms"] = ms[std::min(ms.size() - 1, ms.size() * 99 / 100)] - kReplyPauseMs;
}

BENCHMARK(BM_PauseAlone)->UseManualTime()->Iterations(300)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SelfServedCommand)->UseManualTime()->Iterations(300)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QueuedCommand)->UseManualTime()->Iterations(300)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
