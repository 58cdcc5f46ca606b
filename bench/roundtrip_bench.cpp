// One host command's round trip on a pseudo-terminal against the real
// fr-core: written frame to read reply. The device pauses 10 ms before every
// good reply, and a queued command also waits for the main loop's next pass
// (it pauses 20 ms after each); the counters give the median and the 99th
// percentile with the fixed 10 ms subtracted.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "tools/sim/rig.h"

namespace {

constexpr double kReplyPauseMs = 10.0;

sim::Rig* SharedRig() {
  static sim::Rig* rig = [] {
    auto* r = new sim::Rig(FR_CORE_PATH);
    if (!r->Prepare() || !r->Start() || !r->WaitReady()) {
      delete r;
      return static_cast<sim::Rig*>(nullptr);
    }
    return r;
  }();
  return rig;
}

void RoundTrip(benchmark::State& state, uint8_t command) {
  sim::Rig* rig = SharedRig();
  if (rig == nullptr) {
    state.SkipWithError("fr-core did not start");
    return;
  }
  std::vector<double> ms;
  uint32_t id = 1000;
  for (auto _ : state) {
    sim::Reply reply;
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
  state.counters["p50_less_pause_ms"] = p50 - kReplyPauseMs;
  state.counters["p99_less_pause_ms"] = p99 - kReplyPauseMs;
}

// Served by the host link itself (version).
void BM_SelfServedCommand(benchmark::State& state) { RoundTrip(state, 51); }
// Through the queue and the main loop (a code the core answers with 10).
void BM_QueuedCommand(benchmark::State& state) { RoundTrip(state, 200); }

BENCHMARK(BM_SelfServedCommand)->UseManualTime()->Iterations(300)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QueuedCommand)->UseManualTime()->Iterations(300)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
