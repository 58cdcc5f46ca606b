// fr-bridge as a POS meets it: fr-emu (the real fr-core behind it) and
// fr-bridge, each a process in a temporary directory, the register given a
// serial number, registered and its shift opened over HTTP first. Then:
//
// - BM_StatusFromCache: 32 tills at once, each a thread with its own
//   keep-alive connection, asking the status the bridge keeps (no register
//   command). Counters: requests per second, median and 99th percentile once
//   all are connected; the connecting first requests apart (connect_*).
// - BM_ReceiptOwnTime: sale receipts one after another, each with its own
//   Idempotency-Key, back to back (gap_ms:0) and with a pause before each
//   (gap_ms:100). The answer's Server-Timing tells how long the bridge's
//   worker waited for the register in this job (register) and for the
//   register to finish what it was doing before, a status poll say (queue);
//   the rest of what the client measured (HTTP, the journal's synced writes,
//   hand-over to the worker) is the bridge's own time. Manual time is the
//   whole answer.
// - BM_ReceiptsUnderSiege: 32 tills with tokens send sale receipts at the
//   register's pace (its clock moves a second every 40 ms), first in quiet,
//   then while 200 connections without a token misbehave from eight other
//   loopback addresses: 50 slow heads (a header line every half second), 50
//   endless heads (header lines as fast as they go), 50 chunked bodies that
//   never end, 50 idle keep-alives. Counters: each phase's receipt p50 and
//   p99, their ratio, fr-bridge's largest VmRSS sampled during the siege,
//   and how many answers the attackers got.
// - BM_ResidentMemory: status requests until 10 000 requests have been made
//   in all (counted from the first one, preparation included), then
//   fr-bridge's VmRSS and VmHWM from /proc/PID/status.
//
// The journal lives in the temporary directory ($TMPDIR or /tmp): its fsyncs
// cost what that file system's fsync costs.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "bench/bench_proc.h"
#include "tools/common/device_process.h"
#include "tools/sim/raw_client.h"
#include "tools/common/sandbox.h"
#include "tools/sim/test_util.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using Clock = std::chrono::steady_clock;
using bench::ProcCpuMs;
using bench::ProcStatusMb;
using bench::Quantile;

const std::string kBin = fs::path(FR_CORE_PATH).parent_path().string();
constexpr const char* kAdmin = "admin-token-bench-0123456789abcdef";
constexpr const char* kPos = "pos-token-bench-0123456789abcdef";
constexpr int kClients = 32;
constexpr int kStatusPerClient = 200;  // 6400 status requests
constexpr int kReceipts = 300;
constexpr long kMemoryAfter = 10000;  // requests in all before the memory is read

// Every request made to the bridge, for the memory figure.
std::atomic<long> g_requests{0};

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

httplib::Headers Auth(const char* token) { return {{"Authorization", std::string("Bearer ") + token}}; }

json Cashier() { return {{"number", 20}, {"password", 30}, {"name", "Иванова"}}; }

// fr-emu on a fresh board and fr-bridge in front of it, prepared for receipts.
class BridgeRig {
 public:
  // Empty when ready, else what went wrong.
  std::string Start() {
    fs::create_directories(state_);
    // The register takes one document a second at most (a document's time
    // must be later than the last one's; the host library waits for the next
    // second). Its clock stands still here and moves a second before each
    // document, so receipts follow each other at the register's own pace.
    clock_ = static_cast<int64_t>(std::time(nullptr));
    if (!board_sandbox_.SetFixedClock(clock_)) return "cannot set the board's clock";
    std::ofstream(state_ + "/tokens") << "admin " << kAdmin << " bench\npos " << kPos << " till 1\n";
    if (!emu_.Start(kBin + "/fr-emu", {board_}, board_, tmp_.dir() + "/emu-log") ||
        !emu_.WaitForStdout("host line: " + board_ + "/host", 10000)) {
      return "fr-emu did not start: " + emu_.Stderr();
    }
    if (!bridge_.Start(kBin + "/fr-bridge",
                       {"--emu", "main=" + board_, "--state", state_, "--listen",
                        "127.0.0.1:" + std::to_string(port_), "--log", tmp_.dir() + "/bridge.log", "--wait", "20"},
                       board_, tmp_.dir() + "/bridge-log")) {
      return "fr-bridge did not start";
    }
    const bool online = sim::Eventually(
        [&] {
          const auto r = Client().Get("/healthz");
          ++g_requests;
          return r && r->status == 200 && json::parse(r->body, nullptr, false)["registers"]["main"] == "online";
        },
        20000);
    if (!online) return "fr-bridge did not come online: " + bridge_.Stderr();
    return Prepare();
  }

  // A keep-alive connection, as a till holds one. TCP_NODELAY: httplib
  // writes a request's headers and body apart, and a body held back by
  // Nagle's algorithm would be the client's delay, not the bridge's.
  httplib::Client Client() const {
    httplib::Client c("127.0.0.1", port_);
    c.set_keep_alive(true);
    c.set_tcp_nodelay(true);
    c.set_connection_timeout(2, 0);
    c.set_read_timeout(30, 0);
    return c;
  }

  // The board's clock a second on; before each document.
  void NextSecond() { board_sandbox_.SetFixedClock(++clock_); }

  pid_t bridge_pid() const { return bridge_.pid(); }
  int port() const { return port_; }
  double rss_after_start_mb() const { return rss_after_start_mb_; }

 private:
  // Serial number, registration, the discount the receipts use, the shift.
  std::string Prepare() {
    httplib::Client c = Client();
    auto call = [&](const char* method, const std::string& path, const json& body, const std::string& key,
                    int want) -> std::string {
      httplib::Headers h = Auth(kAdmin);
      if (!key.empty()) h.emplace("Idempotency-Key", key);
      NextSecond();
      const auto r = std::string(method) == "PUT" ? c.Put(path.c_str(), h, body.dump(), "application/json")
                                                  : c.Post(path.c_str(), h, body.dump(), "application/json");
      ++g_requests;
      if (r && r->status == want) return "";
      return std::string(method) + " " + path + ": " + (r ? std::to_string(r->status) + " " + r->body : "no answer");
    };
    const json reg = {{"inn", "7701234567"},
                      {"fn", "9999078900012345"},
                      {"texts", {"ООО Ромашка", "ул. Лесная, 1", "Москва"}},
                      {"tax_rates", {{{"number", 1}, {"type", 1}, {"rate", 2000}, {"name", "НДС 20%"}},
                                     {{"number", 2}, {"type", 1}, {"rate", 1000}, {"name", "НДС 10%"}}}}};
    for (const std::string& e :
         {call("PUT", "/v1/registers/main/serial-number", {{"serial", "4200012345"}}, "", 200),
          call("POST", "/v1/registers/main/registration", reg, "bench-registration", 201),
          call("PUT", "/v1/registers/main/tables/discounts/1",
               {{"type", "percent"}, {"value", 500}, {"name", "СКИДКА 5%"}}, "", 200),
          call("POST", "/v1/registers/main/shift/open", {{"cashier", Cashier()}}, "bench-open", 201)}) {
      if (!e.empty()) return e;
    }
    rss_after_start_mb_ = ProcStatusMb(bridge_.pid(), "VmRSS");
    return "";
  }

  sim::Sandbox tmp_ = sim::Sandbox::Temp();
  const std::string board_ = tmp_.dir() + "/board";
  sim::Sandbox board_sandbox_{board_};  // fr-emu's DIR is fr-core's root
  int64_t clock_ = 0;
  const std::string state_ = tmp_.dir() + "/state";
  const int port_ = sim::FreeLoopbackPort();
  double rss_after_start_mb_ = -1;
  sim::DeviceProcess emu_;
  sim::DeviceProcess bridge_;
};

// A static, not a leak: its destructor at exit stops both processes and
// removes the directory.
BridgeRig* SharedRig(std::string* error) {
  static BridgeRig rig;
  static const std::string failed = rig.Start();
  *error = failed;
  return failed.empty() ? &rig : nullptr;
}

// What StatusLoad saw; latencies in milliseconds, sorted.
struct Load {
  bool ok = true;
  std::vector<double> first;  // each connection's first request, connecting included
  std::vector<double> ms;     // the others, all connections asking at once
  double seconds = 0;         // from the moment all were connected to the last answer
};

// `requests` status requests shared out among `clients` keep-alive
// connections. Each connects with its first request; the others start when
// all are connected, so the rate is the steady one and connecting (a listen
// queue that overflows costs a SYN retried after 1 s) is told apart.
Load StatusLoad(BridgeRig* rig, int clients, long requests) {
  Load load;
  std::mutex mu;
  std::condition_variable cv;
  int connected = 0;
  bool go = false;
  std::atomic<bool> ok{true};
  std::vector<std::thread> tills;
  for (int c = 0; c < clients; ++c) {
    const long per_client = requests / clients + (c < requests % clients ? 1 : 0);
    tills.emplace_back([&, per_client] {
      httplib::Client client = rig->Client();
      const httplib::Headers h = Auth(kPos);
      auto ask = [&]() -> double {
        const auto start = Clock::now();
        const auto r = client.Get("/v1/registers/main/status", h);
        const auto end = Clock::now();
        ++g_requests;
        if (!r || r->status != 200) ok = false;
        return Ms(end - start);
      };
      std::vector<double> mine;
      mine.reserve(static_cast<size_t>(per_client));
      const double first = per_client > 0 ? ask() : -1;
      {
        std::unique_lock<std::mutex> l(mu);
        ++connected;
        cv.notify_all();
        cv.wait(l, [&] { return go; });
      }
      for (long i = 1; i < per_client && ok; ++i) mine.push_back(ask());
      std::lock_guard<std::mutex> l(mu);
      if (first >= 0) load.first.push_back(first);
      load.ms.insert(load.ms.end(), mine.begin(), mine.end());
    });
  }
  Clock::time_point start;
  {
    std::unique_lock<std::mutex> l(mu);
    cv.wait(l, [&] { return connected == clients; });
    go = true;
    start = Clock::now();
    cv.notify_all();
  }
  for (auto& t : tills) t.join();
  load.seconds = Ms(Clock::now() - start) / 1000.0;
  load.ok = ok;
  std::sort(load.first.begin(), load.first.end());
  std::sort(load.ms.begin(), load.ms.end());
  return load;
}

void BM_StatusFromCache(benchmark::State& state) {
  std::string error;
  BridgeRig* rig = SharedRig(&error);
  if (rig == nullptr) {
    state.SkipWithError(error.c_str());
    return;
  }
  Load load;
  double cpu_ms = 0;
  for (auto _ : state) {
    const double cpu_before = ProcCpuMs(rig->bridge_pid());
    load = StatusLoad(rig, kClients, kClients * kStatusPerClient);
    if (!load.ok) {
      state.SkipWithError("a status request failed");
      return;
    }
    cpu_ms = ProcCpuMs(rig->bridge_pid()) - cpu_before;
    state.SetIterationTime(load.seconds);
  }
  const std::vector<double>& ms = load.ms;
  state.counters["requests"] = static_cast<double>(ms.size());
  state.counters["requests_per_s"] = static_cast<double>(ms.size()) / load.seconds;
  state.counters["p50_ms"] = Quantile(ms, 0.5);
  state.counters["p99_ms"] = Quantile(ms, 0.99);
  state.counters["max_ms"] = ms.empty() ? 0 : ms.back();
  // The 32 first requests, each opening its connection at the same moment.
  state.counters["connect_p50_ms"] = Quantile(load.first, 0.5);
  state.counters["connect_max_ms"] = load.first.empty() ? 0 : load.first.back();
  // fr-bridge's CPU (all its threads) per request, in microseconds; the
  // first requests included.
  state.counters["bridge_cpu_us_per_req"] =
      cpu_ms * 1000.0 / static_cast<double>(ms.size() + load.first.size());
}

void BM_ReceiptOwnTime(benchmark::State& state) {
  const int gap_ms = static_cast<int>(state.range(0));
  std::string error;
  BridgeRig* rig = SharedRig(&error);
  if (rig == nullptr) {
    state.SkipWithError(error.c_str());
    return;
  }
  // The e2e test's sale: 1.5 × 129.90 less 5 % and 2 × 45.50, 300.00 in cash.
  const json sale = {
      {"type", "sale"},
      {"cashier", Cashier()},
      {"lines",
       {{{"name", "Чай"}, {"price", 12990}, {"quantity", "1.5"}, {"tax", 1}, {"section", 1}, {"discount", 1}},
        {{"name", "Хлеб"}, {"price", 4550}, {"quantity", 2}, {"tax", 2}, {"section", 1}}}},
      {"payment", {{"cash", 30000}, {"cashless", 0}}}};
  const std::string body = sale.dump();
  httplib::Client client = rig->Client();
  static int run = 0;  // keys stay unique across repetitions
  ++run;
  std::vector<double> total, own, reg, queued;
  long n = 0;
  const double cpu_before = ProcCpuMs(rig->bridge_pid());
  for (auto _ : state) {
    httplib::Headers h = Auth(kPos);
    h.emplace("Idempotency-Key", "bench-" + std::to_string(run) + "-" + std::to_string(++n));
    if (gap_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(gap_ms));
    rig->NextSecond();
    const auto start = Clock::now();
    const auto r = client.Post("/v1/registers/main/receipts", h, body, "application/json");
    const auto end = Clock::now();
    ++g_requests;
    if (!r || r->status != 201) {
      state.SkipWithError((r ? std::to_string(r->status) + " " + r->body : std::string("no answer")).c_str());
      return;
    }
    const std::string timing = r->get_header_value("Server-Timing");
    const size_t at = timing.find("register;dur=");
    if (at == std::string::npos) {
      state.SkipWithError("no Server-Timing: register;dur=");
      return;
    }
    const double register_ms = std::atof(timing.c_str() + at + 13);
    const size_t q = timing.find("queue;dur=");
    const double queue_ms = q == std::string::npos ? 0 : std::atof(timing.c_str() + q + 10);
    const double ms = Ms(end - start);
    state.SetIterationTime(ms / 1000.0);
    total.push_back(ms);
    reg.push_back(register_ms);
    queued.push_back(queue_ms);
    own.push_back(ms - register_ms - queue_ms);
  }
  // fr-bridge's CPU per receipt (its status refresh after each included):
  // how much of the own time is work rather than waiting.
  state.counters["bridge_cpu_ms_per_receipt"] =
      (ProcCpuMs(rig->bridge_pid()) - cpu_before) / static_cast<double>(std::max<size_t>(1, total.size()));
  for (auto* v : {&total, &own, &reg, &queued}) std::sort(v->begin(), v->end());
  bench::PutQuantiles(&state, "own", own);
  bench::PutQuantiles(&state, "total", total);
  state.counters["register_p50_ms"] = Quantile(reg, 0.5);
  state.counters["queue_p99_ms"] = Quantile(queued, 0.99);
}

// One of the siege's misbehaving clients, from `from`, until `stop`.
// Returns how many answers it got (each a refusal by the bridge).
int Misbehave(int kind, int port, const std::string& from, const std::atomic<bool>& stop) {
  const std::string host = "Host: 127.0.0.1:" + std::to_string(port) + "\r\n";
  const std::string chunk = "4000\r\n" + std::string(0x4000, 'x') + "\r\n";
  int answers = 0;
  for (int round = 0; !stop && round < 1000; ++round) {
    sim::RawClient c(port, from);
    if (!c.connected()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      continue;
    }
    switch (kind) {
      case 0:  // a slow head
        c.Send("GET /v1/registers HTTP/1.1\r\n" + host);
        while (!stop && !c.Answered() && c.Send("X-Slow: 1\r\n")) {
          std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
        break;
      case 1:  // an endless head
        c.Send("GET /v1/registers HTTP/1.1\r\n" + host);
        for (int i = 0; !stop && i < 10000 && !c.Answered() && c.Send(std::string(64, 'X') + ": y\r\n"); ++i) {
        }
        break;
      case 2:  // a chunked body that never ends, without a token
        c.Send("POST /v1/registers/main/receipts HTTP/1.1\r\n" + host + "Transfer-Encoding: chunked\r\n\r\n");
        for (int i = 0; !stop && i < 20000 && !c.Answered() && c.Send(chunk); ++i) {
        }
        break;
      default:  // a keep-alive connection left idle after one request
        c.Send("GET /healthz HTTP/1.1\r\n" + host + "\r\n");
        break;
    }
    bool closed = false;
    while (!stop && !closed) {
      if (sim::HttpStatus(c.Read(500, &closed)) != 0) ++answers;
    }
  }
  return answers;
}

void BM_ReceiptsUnderSiege(benchmark::State& state) {
  std::string error;
  BridgeRig* rig = SharedRig(&error);
  if (rig == nullptr) {
    state.SkipWithError(error.c_str());
    return;
  }
  const std::string body =
      json({{"type", "sale"},
            {"cashier", Cashier()},
            {"lines", {{{"name", "Хлеб"}, {"price", 4550}, {"quantity", 1}, {"tax", 2}, {"section", 1}}}},
            {"payment", {{"cash", 5000}}}})
          .dump();
  constexpr int kPerTill = 6;  // 192 receipts a phase
  static int run = 0;
  ++run;
  // The tills' receipts of one phase; latencies in ms, sorted; empty when one failed.
  auto receipts = [&](const char* phase) {
    std::mutex mu;
    std::vector<double> ms;
    std::atomic<bool> ok{true}, done{false};
    // The register takes a document a second by its clock: moved on quickly.
    std::thread ticker([&] {
      while (!done) {
        rig->NextSecond();
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
      }
    });
    std::vector<std::thread> tills;
    for (int t = 0; t < kClients; ++t) {
      tills.emplace_back([&, t] {
        httplib::Client client = rig->Client();
        for (int i = 0; i < kPerTill && ok; ++i) {
          httplib::Headers h = Auth(kPos);
          h.emplace("Idempotency-Key", std::string(phase) + "-" + std::to_string(run) + "-" + std::to_string(t) +
                                           "-" + std::to_string(i));
          const auto start = Clock::now();
          const auto r = client.Post("/v1/registers/main/receipts", h, body, "application/json");
          const double took = Ms(Clock::now() - start);
          ++g_requests;
          if (!r || r->status != 201) ok = false;
          std::lock_guard<std::mutex> l(mu);
          ms.push_back(took);
        }
      });
    }
    for (auto& t : tills) t.join();
    done = true;
    ticker.join();
    std::sort(ms.begin(), ms.end());
    if (!ok) ms.clear();
    return ms;
  };
  std::vector<double> quiet, siege;
  double rss_max = 0;
  int answers = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    quiet = receipts("quiet");
    std::atomic<bool> stop{false};
    std::atomic<int> answered{0};
    std::vector<std::thread> attackers;
    for (int i = 0; i < 200; ++i) {
      attackers.emplace_back([&, i] {
        answered += Misbehave(i % 4, rig->port(), "127.0.0." + std::to_string(2 + i / 25), stop);
      });
    }
    std::thread sampler([&] {
      while (!stop) {
        rss_max = std::max(rss_max, ProcStatusMb(rig->bridge_pid(), "VmRSS"));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    });
    std::this_thread::sleep_for(std::chrono::seconds(2));  // the siege in full swing first
    siege = receipts("siege");
    stop = true;
    sampler.join();
    for (auto& t : attackers) t.join();
    answers = answered;
    state.SetIterationTime(Ms(Clock::now() - start) / 1000.0);
  }
  if (quiet.empty() || siege.empty()) {
    state.SkipWithError("a receipt failed");
    return;
  }
  state.counters["quiet_p50_ms"] = Quantile(quiet, 0.5);
  state.counters["quiet_p99_ms"] = Quantile(quiet, 0.99);
  state.counters["siege_p50_ms"] = Quantile(siege, 0.5);
  state.counters["siege_p99_ms"] = Quantile(siege, 0.99);
  state.counters["p99_ratio"] = Quantile(siege, 0.99) / Quantile(quiet, 0.99);
  state.counters["rss_max_mb"] = rss_max;
  state.counters["attackers_answered"] = answers;
}

void BM_ResidentMemory(benchmark::State& state) {
  std::string error;
  BridgeRig* rig = SharedRig(&error);
  if (rig == nullptr) {
    state.SkipWithError(error.c_str());
    return;
  }
  for (auto _ : state) {
    // Status requests make up what the benchmarks before did not ask.
    const long missing = kMemoryAfter - g_requests.load();
    if (missing > 0) {
      const auto start = Clock::now();
      if (!StatusLoad(rig, kClients, missing).ok) {
        state.SkipWithError("a status request failed");
        return;
      }
      state.SetIterationTime(Ms(Clock::now() - start) / 1000.0);
    } else {
      state.SetIterationTime(1e-9);
    }
  }
  state.counters["requests"] = static_cast<double>(g_requests.load());
  state.counters["rss_start_mb"] = rig->rss_after_start_mb();
  state.counters["rss_mb"] = ProcStatusMb(rig->bridge_pid(), "VmRSS");
  state.counters["hwm_mb"] = ProcStatusMb(rig->bridge_pid(), "VmHWM");
}

BENCHMARK(BM_StatusFromCache)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
// Back to back, as a busy till sends them; and with a pause before each, long
// enough for the worker's status poll after the job before (two register
// commands) to run and be over when the next arrives.
BENCHMARK(BM_ReceiptOwnTime)->ArgName("gap_ms")->Arg(0)->UseManualTime()->Iterations(kReceipts)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReceiptOwnTime)->ArgName("gap_ms")->Arg(100)->UseManualTime()->Iterations(kReceipts / 2)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReceiptsUnderSiege)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResidentMemory)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
