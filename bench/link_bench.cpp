// A host command's round trip with the pauses taken out: the real host link
// (HostLink on a pseudo-terminal, its own thread) and the real command core
// (CoreWorker::processOne on a thread of its own) in this process, on a
// registered board with an open shift. The board's fake clock takes the
// link's 10 ms reply pause without waiting; the core thread looks for work
// every 20 us instead of every 20 ms, so up to that (plus the wake-up) is
// still in the queued figures. The printer line answers at once.
//
// Counters: median and 99th percentile in microseconds, written frame to
// reply read, as the host sees it.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "app/codes.h"
#include "app/core_link_state.h"
#include "bench/bench_boards.h"
#include "link/host_link.h"
#include "host/host_line.h"
#include "tools/common/pty_pair.h"

namespace {

class Link {
 public:
  Link() {
    if (!reg_.ok()) {
      error_ = reg_.error;
      return;
    }
    if (!line_.Open() || !line_.LinkAt(reg_.device->sandbox().Path(HostLink::kDevicePath))) {
      error_ = "cannot open the host line";
      return;
    }
    link_.reset(new HostLink(&reg_.device->env(), &state_));
    host_.reset(new host::HostLine(line_.master()));
    link_thread_ = std::thread([this] { link_->run(); });
    core_thread_ = std::thread([this] {
      prctl(PR_SET_TIMERSLACK, 1000UL);  // 1 us: the short waits stay short
      while (!stop_) {
        if (!reg_.device->core().processOne()) std::this_thread::sleep_for(std::chrono::microseconds(20));
      }
    });
  }
  ~Link() {
    if (link_thread_.joinable()) {
      // The link looks at its stop flag between frames: one more request.
      link_->requestStop();
      host::Reply r;
      host_->Request(51, 1, "", &r, 1000);
      link_thread_.join();
    }
    stop_ = true;
    if (core_thread_.joinable()) core_thread_.join();
  }
  const std::string& error() const { return error_; }
  host::HostLine& host() { return *host_; }
  gen::Device& device() { return *reg_.device; }

 private:
  bench::WorkingRegister reg_;
  sim::PtyPair line_;
  CoreLinkState state_;
  std::unique_ptr<HostLink> link_;
  std::unique_ptr<host::HostLine> host_;
  std::atomic<bool> stop_{false};
  std::thread link_thread_, core_thread_;
  std::string error_;
};

Link& SharedLink() {
  static Link link;
  return link;
}

void RoundTrip(benchmark::State& state, uint8_t command, const std::string& data) {
  Link& link = SharedLink();
  if (!link.error().empty()) {
    state.SkipWithError(link.error().c_str());
    return;
  }
  std::vector<double> us;
  uint32_t id = 1000;
  int code = -1;
  for (auto _ : state) {
    host::Reply reply;
    const auto start = std::chrono::steady_clock::now();
    if (!link.host().Request(command, ++id, data, &reply, 3000)) {
      state.SkipWithError("no reply");
      return;
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    state.SetIterationTime(took.count());
    us.push_back(took.count() * 1e6);
    code = reply.code;
  }
  std::sort(us.begin(), us.end());
  state.counters["p50_us"] = us[us.size() / 2];
  state.counters["p99_us"] = us[std::min(us.size() - 1, us.size() * 99 / 100)];
  state.counters["result"] = code;
}

// Served by the link itself: version, shift status.
void BM_Version(benchmark::State& state) { RoundTrip(state, 51, ""); }
void BM_ShiftStatus(benchmark::State& state) { RoundTrip(state, 16, ""); }
// Through the queue and the core: device status (a printer status check
// first), the shift totals (read from the archive), an unknown code (10).
void BM_DeviceStatus(benchmark::State& state) { RoundTrip(state, 48, ""); }
void BM_ShiftTotals(benchmark::State& state) { RoundTrip(state, 54, ""); }
void BM_UnknownCommand(benchmark::State& state) { RoundTrip(state, 200, ""); }

// The core's share of the queued ones: CoreWorker::dispatch alone, in this
// thread (the core thread stays idle meanwhile: nothing is queued).
void BM_CoreDispatch(benchmark::State& state) {
  Link& link = SharedLink();
  if (!link.error().empty()) {
    state.SkipWithError(link.error().c_str());
    return;
  }
  const uint8_t command = static_cast<uint8_t>(state.range(0));
  CoreTransaction t;
  // 48 asks the core for the printer status (192)
  t.command = command == cmd::kDeviceStatus ? cmd::kPrinterStatus : command;
  for (auto _ : state) {
    ++t.id;
    benchmark::DoNotOptimize(link.device().core().dispatch(t).code);
  }
}
BENCHMARK(BM_CoreDispatch)->ArgName("command")->Arg(48)->Arg(54)->Arg(200)->Unit(benchmark::kMicrosecond);

// The floor under all of them: the same pseudo-terminal with a thread that
// sends back what it reads (a frame's size each way), no device code at all.
void BM_LineEcho(benchmark::State& state) {
  sim::PtyPair line;
  if (!line.Open()) {
    state.SkipWithError("cannot open a line");
    return;
  }
  const int slave = open(line.slave_name().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  std::atomic<bool> stop{false};
  std::thread echo([&] {
    char buf[256];
    struct pollfd p = {slave, POLLIN, 0};
    while (!stop) {
      if (poll(&p, 1, 50) <= 0) continue;
      const ssize_t n = read(slave, buf, sizeof(buf));
      if (n > 0 && write(slave, buf, static_cast<size_t>(n)) != n) break;
    }
  });
  const std::string frame = host::EncodeRequest(51, 1, "");
  std::vector<double> us;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    if (write(line.master(), frame.data(), frame.size()) != static_cast<ssize_t>(frame.size())) break;
    size_t got = 0;
    char buf[256];
    while (got < frame.size()) {
      const ssize_t n = read(line.master(), buf, sizeof(buf));
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    state.SetIterationTime(took.count());
    us.push_back(took.count() * 1e6);
  }
  stop = true;
  echo.join();
  close(slave);
  std::sort(us.begin(), us.end());
  state.counters["p50_us"] = us[us.size() / 2];
  state.counters["p99_us"] = us[std::min(us.size() - 1, us.size() * 99 / 100)];
}
BENCHMARK(BM_LineEcho)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);

BENCHMARK(BM_Version)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ShiftStatus)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DeviceStatus)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ShiftTotals)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_UnknownCommand)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
