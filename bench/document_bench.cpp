// A ten-line receipt, the register's everyday work: built, closed and
// encoded by the document classes alone; stored by FiscalArchive::store in
// an archive file on disk; end to end through the command core as the host
// sends it (open, ten lines, close: printing and the store included, printer
// waits not: the printer line answers at once); and read back.
//
// Time is wall time; CPU is this thread's CPU time, the device's own cost.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "app/codes.h"
#include "app/fr_status.h"
#include "app/identity.h"
#include "bench/bench_boards.h"
#include "documents/receipt_doc.h"
#include "storage/fiscal_archive.h"
#include "storage/sd_card.h"
#include "storage/tables.h"

namespace {

using bench::WorkingRegister;

const std::string kArchive = std::string(sdcard::kMountPoint) + sdcard::kArchiveName;

std::vector<std::string> EncodedLines() {
  std::vector<std::string> out;
  for (const gen::host::Line& l : gen::TenLines()) out.push_back(gen::host::LineElement(l));
  return out;
}

// What the documents worker and the archive do with a receipt, minus the
// archive's file: the lines decoded and checked, the payment, the numbers,
// the sign, and the stored form (main data, tax rates, sections, lines).
std::unique_ptr<ReceiptDoc> BuildReceipt(platform::Env* env, const Cashier& cashier,
                                         const std::vector<std::string>& lines, uint32_t number,
                                         std::string* stored) {
  std::unique_ptr<ReceiptDoc> r(
      new ReceiptDoc(env, CoreIdentity::modelData(), CoreIdentity::regData(), cashier));
  if (r->setCashierName(std::string(1, '\0') + gen::host::Name(cashier.name)) != rc::kOk) return nullptr;
  for (const std::string& bytes : lines) {
    TlvElement e;
    if (!TlvElement::decode(bytes, &e) || r->addData(e) != rc::kOk) return nullptr;
  }
  uint16_t missing = 0;
  const std::string key = CoreIdentity::deviceKey();
  if (r->close(static_cast<uint32_t>(env->Now()), key, gen::host::Payment(0, 0), &missing) != rc::kOk) {
    return nullptr;
  }
  if (stored != nullptr) {
    r->setDocumentNumber(number);
    r->setFiscalisationNumber(1);
    r->sign(key, r->modelData().serialNumber());
    *stored = r->encode() + r->taxRateElements() + r->sectionElements();
    for (std::string line = r->firstLine(); !line.empty(); line = r->nextLine()) *stored += line;
  }
  return r;
}

void BM_ReceiptBuildCloseEncode(benchmark::State& state) {
  WorkingRegister reg;
  Cashier clerk;
  if (!reg.ok() || !tables::checkCashier(&reg.device->env(), 1, 1111, &clerk)) {
    state.SkipWithError(reg.error.c_str());
    return;
  }
  const std::vector<std::string> lines = EncodedLines();
  size_t bytes = 0;
  uint32_t number = 100;
  for (auto _ : state) {
    std::string stored;
    if (!BuildReceipt(&reg.device->env(), clerk, lines, ++number, &stored)) {
      state.SkipWithError("receipt refused");
      return;
    }
    bytes = stored.size();
    benchmark::DoNotOptimize(stored.data());
  }
  state.counters["stored_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_ReceiptBuildCloseEncode)->Unit(benchmark::kMicrosecond);

// Only the store is timed (by hand); the receipt is built outside it. With
// sync:1 every store ends in a real fsync, as on the board.
void BM_ReceiptStore(benchmark::State& state) {
  WorkingRegister reg;
  Cashier clerk;
  if (!reg.ok() || !tables::checkCashier(&reg.device->env(), 1, 1111, &clerk)) {
    state.SkipWithError(reg.error.c_str());
    return;
  }
  gen::BoardEnv& env = reg.device->env();
  env.set_sync(state.range(0) != 0);
  // An archive object of its own; the core's stays idle meanwhile.
  FiscalArchive archive(&env, kArchive);
  const std::vector<std::string> lines = EncodedLines();
  uint64_t size_before = 0, size_after = 0;
  env.FileSize(kArchive, &size_before);
  double cpu = 0;
  for (auto _ : state) {
    env.advance(1);
    std::unique_ptr<ReceiptDoc> r = BuildReceipt(&env, clerk, lines, 0, nullptr);
    if (!r) {
      state.SkipWithError("receipt refused");
      return;
    }
    const double cpu0 = bench::ThreadCpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    const int code = archive.store(r.get());
    const auto t1 = std::chrono::steady_clock::now();
    cpu += bench::ThreadCpuSeconds() - cpu0;
    if (code != rc::kOk) {
      state.SkipWithError("store refused");
      return;
    }
    state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
  }
  env.FileSize(kArchive, &size_after);
  const double n = static_cast<double>(state.iterations());
  state.counters["cpu_us"] = cpu / n * 1e6;
  state.counters["archive_bytes_per_store"] = static_cast<double>(size_after - size_before) / n;
}
BENCHMARK(BM_ReceiptStore)->ArgName("sync")->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMicrosecond);

// Open, ten lines, close (paid by card, so the drawer stays empty and the
// shift can be closed when it nears its 3000 receipts): 12 host commands.
void BM_ReceiptEndToEnd(benchmark::State& state) {
  WorkingRegister reg;
  if (!reg.ok()) {
    state.SkipWithError(reg.error.c_str());
    return;
  }
  gen::Device& d = *reg.device;
  const std::vector<gen::host::Line> lines = gen::TenLines();
  d.env().advance(1);
  if (!d.OpenReceipt(0)) {
    state.SkipWithError(d.error().c_str());
    return;
  }
  for (const auto& l : lines) d.AddLine(l);
  const int64_t total = d.OpenTotal();
  if (total <= 0 || !d.CloseReceipt(0, total)) {
    state.SkipWithError(d.error().c_str());
    return;
  }
  const uint64_t requests0 = d.printer().status_requests();
  const uint64_t printed0 = d.printer().bytes_received();
  uint32_t in_shift = 1;
  for (auto _ : state) {
    if (in_shift == 2900) {
      state.PauseTiming();
      d.env().advance(1);
      d.CloseShift();
      d.env().advance(1);
      d.OpenShift();
      in_shift = 0;
      state.ResumeTiming();
    }
    d.env().advance(1);
    if (!d.Receipt(0, lines, 0, total)) {
      state.SkipWithError(d.error().c_str());
      return;
    }
    ++in_shift;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["status_requests"] = static_cast<double>(d.printer().status_requests() - requests0) / n;
  state.counters["printed_bytes"] = static_cast<double>(d.printer().bytes_received() - printed0) / n;
}
BENCHMARK(BM_ReceiptEndToEnd)->Unit(benchmark::kMicrosecond);

// readDocument of a stored ten-line receipt.
void BM_ReadReceipt(benchmark::State& state) {
  WorkingRegister reg;
  if (!reg.ok()) {
    state.SkipWithError(reg.error.c_str());
    return;
  }
  gen::Device& d = *reg.device;
  for (int i = 0; i < 20; ++i) {
    d.env().advance(1);
    if (!d.Receipt(0, gen::TenLines(), 0, 0)) {
      state.SkipWithError(d.error().c_str());
      return;
    }
  }
  const uint32_t last = FrStatus::lastDocumentNumber();
  FiscalArchive archive(&d.env(), kArchive);
  const uint64_t lines0 = d.env().lines();
  uint32_t n = 0;
  size_t items = 0;
  for (auto _ : state) {
    std::shared_ptr<BaseWorkDocument> doc;
    if (archive.readDocument(last - (n++ % 20), &doc) != rc::kOk) {
      state.SkipWithError("read failed");
      return;
    }
    const auto* r = dynamic_cast<const ReceiptDoc*>(doc.get());
    items = r != nullptr ? r->lines().size() : 0;
  }
  state.counters["lines"] = static_cast<double>(items);
  state.counters["diagnostic_lines"] =
      static_cast<double>(d.env().lines() - lines0) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_ReadReceipt)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
