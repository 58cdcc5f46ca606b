// The back office's path: documents through a real Mosquitto into fr-ledger
// and a real PostgreSQL, on the end-to-end tests' rig (tests/fleet_rig.h).
//
// - BM_LedgerIntake: FR_BENCH_PUBLISHERS (10) simulated registers, each a
//   libmosquitto client of its own site and serial, publish
//   FR_BENCH_DOCUMENTS (20 000) sale receipts of three lines in all, in the
//   JSON a bridge publishes, QoS 1, as fast as the broker takes them, into a
//   running `fr-ledger run`. Timed from the first publish until
//   `SELECT count(*) FROM documents` holds them all. Counters: documents per
//   second; when the broker had acknowledged the last one; fr-ledger's and
//   Mosquitto's CPU per document.
// - BM_StoreToLedger: fr-emu and fr-bridge with its uplink, fr-ledger
//   running; FR_BENCH_RECEIPTS (200) sale receipts posted one after another.
//   For each, from the bridge's 201 to the ledger's `received` (PostgreSQL's
//   now(): the start of the ledger's transaction, a little before its
//   commit) and to the moment a reader polling every 2 ms first sees the row
//   (after the commit, by up to a poll and a query).
// - BM_BacklogMemory: the bridge's journal filled with FR_BENCH_BACKLOG
//   (100 000) documents waiting in its outbox before fr-bridge starts; then
//   the register says its serial and the outbox drains to the broker.
//   fr-bridge's VmRSS and VmHWM at start, the most seen while draining, and
//   after; how long the fill and the drain took (the drain given up after
//   FR_BENCH_DRAIN_LIMIT_S, 600, with what is left said); fr-bridge's CPU
//   per document drained.
//
// The broker logs no packets here (the tests' rig logs every one); its
// limits are those docs/fleet.md deploys: the queue per client unbounded
// (Mosquitto's default of 1000 would drop what the ledger has not taken yet
// when the registers publish faster) and 100 messages in flight to a client.
// Everything runs in temporary directories ($TMPDIR or /tmp).
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <thread>

#include "app/codes.h"
#include "bench/bench_proc.h"
#include "bridge/journal.h"
#include "documents/base_document.h"
#include "host/model/document.h"
#include "tests/fleet_rig.h"
#include "util/cp866.h"

namespace {

using bench::ProcCpuMs;
using bench::ProcStatusMb;
using bridgetest::EnvInt;
using bridgetest::json;
using Clock = std::chrono::steady_clock;

constexpr const char* kBrokerSettings =
    "log_type error\nlog_type warning\nlog_type notice\nlog_type information\n"
    "max_queued_messages 0\nmax_inflight_messages 100\n";
constexpr int kPollMs = 2;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }
double WallNow() { return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count(); }

// A sale receipt of three lines as a register's bridge answers it.
json Receipt(uint32_t number, uint32_t time) {
  host::Document d;
  d.number = number;
  d.type = doc::kReceipt;
  d.time = time;
  d.has_shift = true;
  d.shift = 1;
  d.fiscal_sign = 0x5A3C0000u + number;
  d.cashier = 20;
  d.cashier_name = util::Utf8ToCp866("Иванова");
  d.receipt_type = receipt::kSale;
  d.receipt_number = static_cast<uint16_t>(number);
  d.has_lines = true;
  const struct {
    const char* name;
    int64_t price;
    uint8_t tax;
  } goods[] = {{"Чай", 12990, 1}, {"Хлеб", 4550, 2}, {"Молоко", 8900, 2}};
  for (const auto& [name, price, tax] : goods) {
    host::Line line;
    line.name = util::Utf8ToCp866(name);
    line.price = price;
    line.tax = tax;
    d.lines.push_back(line);
    d.line_amounts.push_back(price);
    d.total += price;
  }
  d.has_payment = true;
  d.cash = d.total;
  d.taxes = {{1, 2165}, {2, 1223}};
  return host::DocumentJson(d);
}

// The machine's CPU time so far, all cores: {busy, all} in clock ticks.
std::pair<double, double> MachineTicks() {
  std::ifstream in("/proc/stat");
  std::string cpu;
  in >> cpu;
  double busy = 0, all = 0, v = 0;
  for (int i = 0; i < 8 && in >> v; ++i) {
    all += v;
    if (i != 3 && i != 4) busy += v;  // idle and iowait
  }
  return {busy, all};
}


// PostgreSQL, the broker and a running fr-ledger; empty error() when ready.
class BackOffice {
 public:
  // The database flushes each commit to the disk, as in production.
  explicit BackOffice(const std::string& dir) : db_(/*durable=*/true), broker_(dir + "/broker", kBrokerSettings) {
    if (!db_.Start()) error_ = "PostgreSQL did not start";
    if (error_.empty() && !broker_.Start()) error_ = "Mosquitto did not start: " + broker_.log();
    if (error_.empty() && bridgetest::RunLedger({"migrate", "--db", db_.conninfo()}, dir + "/migrate") != 0) {
      error_ = "fr-ledger migrate failed";
    }
    if (!error_.empty()) return;
    ledger_.Start(bridgetest::kBin + "/fr-ledger", {"run", "--mqtt", mqtt(), "--db", db_.conninfo()}, dir,
                  dir + "/ledger");
    // Subscribed: what is published from now on reaches it.
    if (!sim::Eventually([&] { return ledger_.Stderr().find("taking documents") != std::string::npos; }, 20000)) {
      error_ = "fr-ledger did not connect: " + ledger_.Stderr();
    }
  }
  ~BackOffice() { ledger_.Kill(SIGTERM); }

  // Documents the ledger holds; -1 when the database does not answer.
  long Held() const {
    const std::vector<std::string> rows = db_.Rows("SELECT count(*) FROM documents");
    return rows.empty() ? -1 : std::atol(rows[0].c_str());
  }
  bool WaitHeld(long n, int timeout_ms) const {
    return sim::Eventually([&] { return Held() >= n; }, timeout_ms);
  }

  std::string mqtt() const { return "mqtt://127.0.0.1:" + std::to_string(broker_.port()); }
  const std::string& error() const { return error_; }
  const bridgetest::Postgres& db() const { return db_; }
  const bridgetest::Broker& broker() const { return broker_; }
  pid_t ledger_pid() const { return ledger_.pid(); }
  // The PostgreSQL process serving fr-ledger: the one other client; -1 if none.
  pid_t ledger_backend_pid() const {
    const std::vector<std::string> rows =
        db_.Rows("SELECT pid FROM pg_stat_activity WHERE backend_type = 'client backend' AND pid <> pg_backend_pid()");
    return rows.size() == 1 ? static_cast<pid_t>(std::atol(rows[0].c_str())) : -1;
  }
  std::string ledger_log() const { return ledger_.Stderr(); }

 private:
  std::string error_;
  bridgetest::Postgres db_;
  bridgetest::Broker broker_;
  sim::DeviceProcess ledger_;
};

// A simulated register: its own MQTT session publishing its documents.
class Publisher {
 public:
  Publisher(int port, const std::string& site, const std::string& serial, int documents)
      : topic_("fr/v1/" + site + "/main/documents") {
    const uint32_t start = static_cast<uint32_t>(std::time(nullptr));
    for (int i = 1; i <= documents; ++i) {
      json d = Receipt(static_cast<uint32_t>(i), start + static_cast<uint32_t>(i));
      d["serial"] = serial;
      payloads_.push_back(d.dump());
    }
    m_ = mosquitto_new(("bench " + site).c_str(), true, this);
    mosquitto_max_inflight_messages_set(m_, 1000);
    mosquitto_connect_callback_set(m_, [](struct mosquitto*, void* self, int rc) {
      if (rc == 0) static_cast<Publisher*>(self)->connected_ = true;
    });
    mosquitto_publish_callback_set(m_, [](struct mosquitto*, void* self, int) {
      auto* p = static_cast<Publisher*>(self);
      if (p->acked_ + 1 == p->payloads_.size()) p->all_acked_ = Clock::now();
      ++p->acked_;  // after the time: whoever sees them all sees it
    });
    mosquitto_connect(m_, "127.0.0.1", port, 30);
    mosquitto_loop_start(m_);
  }
  ~Publisher() {
    mosquitto_disconnect(m_);
    mosquitto_loop_stop(m_, false);
    mosquitto_destroy(m_);
  }
  // Every document handed to the client, which sends them as the broker
  // acknowledges the ones before.
  bool PublishAll() {
    for (const std::string& p : payloads_) {
      if (mosquitto_publish(m_, nullptr, topic_.c_str(), static_cast<int>(p.size()), p.data(), 1, false) !=
          MOSQ_ERR_SUCCESS) {
        return false;
      }
    }
    return true;
  }
  bool connected() const { return connected_; }
  bool all_acked() const { return acked_ == payloads_.size(); }
  Clock::time_point all_acked_at() const { return all_acked_; }
  size_t bytes() const { return payloads_.empty() ? 0 : payloads_[0].size(); }

 private:
  const std::string topic_;
  std::vector<std::string> payloads_;
  struct mosquitto* m_ = nullptr;
  std::atomic<bool> connected_{false};
  std::atomic<size_t> acked_{0};
  Clock::time_point all_acked_;
};

void BM_LedgerIntake(benchmark::State& state) {
  const int publishers = EnvInt("FR_BENCH_PUBLISHERS", 10);
  const int each = EnvInt("FR_BENCH_DOCUMENTS", 20000) / publishers;
  const long total = static_cast<long>(each) * publishers;
  for (auto _ : state) {
    sim::Sandbox tmp = sim::Sandbox::Temp();
    BackOffice office(tmp.dir());
    if (!office.error().empty()) {
      state.SkipWithError(office.error().c_str());
      return;
    }
    mosquitto_lib_init();
    std::vector<std::unique_ptr<Publisher>> registers;
    for (int i = 0; i < publishers; ++i) {
      registers.push_back(std::make_unique<Publisher>(office.broker().port(), "shop" + std::to_string(i + 1),
                                                      std::to_string(4200900000 + i), each));
    }
    if (!sim::Eventually(
            [&] { return std::all_of(registers.begin(), registers.end(), [](auto& r) { return r->connected(); }); },
            10000)) {
      state.SkipWithError("a publisher did not connect");
      return;
    }
    const pid_t broker_pid = office.broker().pid();
    const pid_t backend_pid = office.ledger_backend_pid();
    const double ledger_cpu = ProcCpuMs(office.ledger_pid()), broker_cpu = ProcCpuMs(broker_pid);
    const double backend_cpu = ProcCpuMs(backend_pid);
    const std::pair<double, double> machine = MachineTicks();
    const auto start = Clock::now();
    std::vector<std::thread> threads;
    std::atomic<bool> published{true};
    for (auto& r : registers) threads.emplace_back([&, p = r.get()] { published = p->PublishAll() && published; });
    for (auto& t : threads) t.join();
    // Looked at every 50 ms: the figure is late by that at most.
    const bool held = office.WaitHeld(total, 600000);
    const auto end = Clock::now();
    if (!published || !held) {
      state.SkipWithError(("the ledger holds " + std::to_string(office.Held()) + " of " + std::to_string(total) + "\n" +
                           office.ledger_log())
                              .c_str());
      return;
    }
    auto acked = start;
    for (auto& r : registers) acked = std::max(acked, r->all_acked() ? r->all_acked_at() : end);
    const double seconds = Seconds(end - start);
    state.SetIterationTime(seconds);
    state.counters["documents"] = static_cast<double>(total);
    state.counters["documents_per_s"] = static_cast<double>(total) / seconds;
    state.counters["broker_acked_s"] = Seconds(acked - start);
    state.counters["payload_bytes"] = static_cast<double>(registers[0]->bytes());
    state.counters["ledger_cpu_us_per_doc"] =
        (ProcCpuMs(office.ledger_pid()) - ledger_cpu) * 1000.0 / static_cast<double>(total);
    state.counters["broker_cpu_us_per_doc"] =
        (ProcCpuMs(broker_pid) - broker_cpu) * 1000.0 / static_cast<double>(total);
    // Its own transactions' work in PostgreSQL: parsing, planning, inserting.
    state.counters["ledger_backend_cpu_us_per_doc"] =
        (ProcCpuMs(backend_pid) - backend_cpu) * 1000.0 / static_cast<double>(total);
    // Both cores busy means the machine is the bound, else waiting is.
    const std::pair<double, double> machine_end = MachineTicks();
    state.counters["machine_busy"] = (machine_end.first - machine.first) / (machine_end.second - machine.second);
    // The database's room for a document with its lines and indexes.
    const std::vector<std::string> size = office.db().Rows(
        "SELECT pg_total_relation_size('documents') + pg_total_relation_size('lines')");
    state.counters["db_bytes_per_doc"] = size.empty() ? -1 : std::atof(size[0].c_str()) / static_cast<double>(total);
    const std::string log = office.broker().log();
    state.counters["broker_dropped"] = log.find("being dropped") != std::string::npos;
    registers.clear();
    mosquitto_lib_cleanup();
  }
}

// The register's clock a second on every 40 ms: it takes a document a second
// by its own clock, and the receipts are not held back by the real one.
class Ticker {
 public:
  explicit Ticker(const std::string& board) : board_(board) { board_.SetFixedClock(clock_); }
  void Start() {
    thread_ = std::thread([this] {
      while (!stop_) {
        board_.SetFixedClock(++clock_);
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
      }
    });
  }
  ~Ticker() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }

 private:
  sim::Sandbox board_;
  int64_t clock_ = static_cast<int64_t>(std::time(nullptr));
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

json Sale(int i) {
  using bridgetest::Line;
  return {{"type", "sale"},
          {"cashier", bridgetest::Cashier()},
          {"lines", {Line("Чай", 12990, "1.5", 1, 1), Line("Хлеб", 4550, 2, 2), Line("Молоко", 8900 + i, 1, 2)}},
          {"payment", {{"cash", 50000}}}};
}

void BM_StoreToLedger(benchmark::State& state) {
  const int receipts = EnvInt("FR_BENCH_RECEIPTS", 200);
  const std::string serial = "4200012345";
  for (auto _ : state) {
    bridgetest::BridgeRig rig;
    BackOffice office(rig.dir() + "/office");
    if (!office.error().empty()) {
      state.SkipWithError(office.error().c_str());
      return;
    }
    Ticker ticker(rig.board());
    rig.AddBridgeArgs({"--uplink", office.mqtt(), "--site", "shop1"});
    rig.Start();
    ticker.Start();
    bridgetest::Prepare(&rig, serial);
    if (rig.Post("/shift/open", {{"cashier", bridgetest::Cashier()}}, "open").status != 201) {
      state.SkipWithError("the shift did not open");
      return;
    }
    // Documents before the receipts reach the ledger first.
    const long before = static_cast<long>(rig.Archive().summary.documents.size());
    if (!office.WaitHeld(before, 30000)) {
      state.SkipWithError("the preparation's documents did not reach the ledger");
      return;
    }
    // First seen by a reader, by number; the reader's own connection.
    std::map<uint32_t, double> seen;
    std::atomic<bool> stop{false};
    std::thread reader([&] {
      PGconn* db = PQconnectdb(office.db().conninfo().c_str());
      const std::string sql = "SELECT coalesce(max(number), 0) FROM documents WHERE serial = '" + serial + "'";
      uint32_t last = 0;
      while (!stop) {
        PGresult* r = PQexec(db, sql.c_str());
        const double now = WallNow();
        const uint32_t max = PQresultStatus(r) == PGRES_TUPLES_OK ? std::atol(PQgetvalue(r, 0, 0)) : 0;
        PQclear(r);
        for (; last < max; ++last) seen.emplace(last + 1, now);
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
      }
      PQfinish(db);
    });
    std::map<uint32_t, double> answered;
    const auto start = Clock::now();
    for (int i = 0; i < receipts; ++i) {
      const bridgetest::Got r = rig.Post("/receipts", Sale(i), "receipt-" + std::to_string(i));
      const double now = WallNow();
      if (r.status != 201 || !r.body.contains("number")) {
        stop = true;
        reader.join();
        state.SkipWithError(("receipt " + std::to_string(i) + ": " + r.body.dump()).c_str());
        return;
      }
      answered[r.body["number"].get<uint32_t>()] = now;
    }
    const double posting_s = Seconds(Clock::now() - start);
    const bool held = office.WaitHeld(before + receipts, 60000);
    std::this_thread::sleep_for(std::chrono::milliseconds(20 * kPollMs));
    stop = true;
    reader.join();
    if (!held) {
      state.SkipWithError("the receipts did not all reach the ledger");
      return;
    }
    std::vector<double> to_received, to_seen;
    for (const std::string& row : office.db().Rows(
             "SELECT number, extract(epoch FROM received) FROM documents WHERE serial = '" + serial + "'")) {
      const uint32_t number = static_cast<uint32_t>(std::atol(row.c_str()));
      const auto a = answered.find(number);
      if (a == answered.end()) continue;
      to_received.push_back((std::atof(row.c_str() + row.find('|') + 1) - a->second) * 1000.0);
      if (seen.count(number)) to_seen.push_back((seen[number] - a->second) * 1000.0);
    }
    std::sort(to_received.begin(), to_received.end());
    std::sort(to_seen.begin(), to_seen.end());
    state.SetIterationTime(posting_s);
    state.counters["receipts"] = static_cast<double>(to_received.size());
    bench::PutQuantiles(&state, "received", to_received);
    bench::PutQuantiles(&state, "seen", to_seen);
  }
}


void BM_BacklogMemory(benchmark::State& state) {
  const int backlog = EnvInt("FR_BENCH_BACKLOG", 100000);
  const int limit_s = EnvInt("FR_BENCH_DRAIN_LIMIT_S", 600);
  for (auto _ : state) {
    bridgetest::BridgeRig rig;
    // As fr-bridge names it under --state.
    const std::string journal_path = rig.state() + "/journal.sqlite";
    const auto fill_start = Clock::now();
    {
      bridge::Journal journal;
      if (!journal.Open(journal_path).ok()) {
        state.SkipWithError("cannot open the journal");
        return;
      }
      journal.KeepOutbox(true);
      const uint32_t start = static_cast<uint32_t>(std::time(nullptr)) - static_cast<uint32_t>(backlog);
      for (int i = 1; i <= backlog; ++i) {
        bridge::JournalDocument d;
        d.number = static_cast<uint32_t>(i);
        d.time = start + d.number;
        d.shift = 1;
        d.body = Receipt(d.number, d.time).dump();
        if (!journal.Keep("main", d)) {
          state.SkipWithError(("Keep: " + journal.last_error()).c_str());
          return;
        }
      }
    }
    const double fill_s = Seconds(Clock::now() - fill_start);
    bridgetest::Broker broker(rig.dir() + "/broker", kBrokerSettings);
    if (!broker.Start()) {
      state.SkipWithError("Mosquitto did not start");
      return;
    }
    rig.AddBridgeArgs({"--uplink", "mqtt://127.0.0.1:" + std::to_string(broker.port()), "--site", "shop1"});
    rig.Start();
    const pid_t pid = rig.bridge().pid();
    const double rss_start = ProcStatusMb(pid, "VmRSS"), hwm_start = ProcStatusMb(pid, "VmHWM");
    const long waiting_start = bridgetest::Waiting(journal_path);
    // Until the register says its serial, nothing goes out.
    const auto drain_start = Clock::now();
    const double cpu_start = ProcCpuMs(pid);
    if (rig.Call("PUT", "/v1/registers/main/serial-number", {{"serial", "4200012345"}}).status != 200) {
      state.SkipWithError("the serial number was refused");
      return;
    }
    double rss_max = rss_start;
    long waiting = waiting_start;
    while (waiting != 0 && Clock::now() - drain_start < std::chrono::seconds(limit_s)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      rss_max = std::max(rss_max, ProcStatusMb(pid, "VmRSS"));
      waiting = bridgetest::Waiting(journal_path);
    }
    const double drain_s = Seconds(Clock::now() - drain_start);
    // Against the drain's wall time: how much of it is the bridge's work.
    state.counters["bridge_cpu_us_per_doc"] =
        (ProcCpuMs(pid) - cpu_start) * 1000.0 / static_cast<double>(std::max(1L, waiting_start - waiting));
    state.SetIterationTime(drain_s);
    state.counters["backlog"] = static_cast<double>(waiting_start);
    state.counters["fill_s"] = fill_s;
    state.counters["fill_per_s"] = backlog / fill_s;
    state.counters["left"] = static_cast<double>(waiting);
    state.counters["drain_s"] = drain_s;
    state.counters["drain_per_s"] = static_cast<double>(waiting_start - waiting) / drain_s;
    state.counters["rss_start_mb"] = rss_start;
    state.counters["hwm_start_mb"] = hwm_start;
    state.counters["rss_draining_max_mb"] = rss_max;
    state.counters["rss_after_mb"] = ProcStatusMb(pid, "VmRSS");
    state.counters["hwm_after_mb"] = ProcStatusMb(pid, "VmHWM");
  }
}

BENCHMARK(BM_LedgerIntake)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StoreToLedger)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BacklogMemory)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
