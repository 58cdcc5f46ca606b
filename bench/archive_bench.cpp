// The archive when it is full: 250000 documents (1245 shifts) made by
// fr-archive-gen's generator once and kept under <build>/boards. Start-up
// (CoreWorker::initialise, what fr-core does before it serves the host), the
// period report and the shift-range report (command 177 kinds 5 and 6,
// through the command core, printing included) and reading documents back.
// The printer line answers at once, so no printer wait is counted: start-up
// asks its printer for a 500 ms pause after the reset, which the board's
// fake clock takes without waiting (excluded_pause_ms).
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "app/codes.h"
#include "app/fr_status.h"
#include "bench/bench_boards.h"
#include "storage/fiscal_archive.h"
#include "storage/sd_card.h"
#include "util/coding.h"

namespace {

constexpr uint32_t kFull = 250000;
const std::string kArchive = std::string(sdcard::kMountPoint) + sdcard::kArchiveName;

// The full board, started once for the whole program.
struct FullBoard {
  std::string dir;
  std::unique_ptr<gen::Device> device;
  std::string error;
  uint32_t first_time = 0, last_time = 0;
  uint16_t shifts = 0;

  FullBoard() {
    if (!bench::CachedBoard(kFull, &dir, &error)) return;
    device.reset(new gen::Device(dir, gen::BoardEnv::kDefaultStart, gen::Device::PrinterMode::kThread));
    if (!device->Prepare()) {
      error = device->error();
      return;
    }
    device->StartUp();
    if (FrStatus::lastDocumentNumber() != kFull || !FrStatus::testFlags(FrStatus::kArchiveUsable)) {
      error = "the board in " + dir + " is not whole: delete it to have it made again";
      return;
    }
    last_time = static_cast<uint32_t>(FrStatus::lastDocumentTime());
    shifts = FrStatus::shiftNumber();
    FiscalArchive archive(&device->env(), kArchive);
    DocDescriptor d;
    if (archive.readDescriptor(1, &d)) first_time = util::DecodeFixed32(d.bytes + descriptor::kDateTimeOffset);
    // Reports need a clock later than the last document.
    device->env().set_now(last_time + 3600);
  }
};

FullBoard& Board() {
  static FullBoard board;
  return board;
}

bool Ready(benchmark::State& state) {
  if (!Board().error.empty()) {
    state.SkipWithError(Board().error.c_str());
    return false;
  }
  return true;
}

std::string U32(uint32_t v) {
  std::string s;
  util::PutFixed32(&s, v);
  return s;
}
std::string U16(uint16_t v) {
  std::string s;
  util::PutFixed16(&s, v);
  return s;
}

void Report(benchmark::State& state, uint8_t kind, const std::string& args, double span_documents) {
  gen::Device& d = *Board().device;
  const uint64_t printed0 = d.printer().bytes_received();
  for (auto _ : state) {
    const int code = d.Call(177, gen::host::Prefix() + std::string(1, static_cast<char>(kind)) + args);
    if (code != rc::kOk) {
      state.SkipWithError(("report answered " + std::to_string(code)).c_str());
      return;
    }
  }
  state.counters["documents"] = span_documents;
  state.counters["printed_bytes"] =
      static_cast<double>(d.printer().bytes_received() - printed0) / static_cast<double>(state.iterations());
}

// The whole life of the archive, and one month in its middle.
void BM_PeriodReport(benchmark::State& state) {
  if (!Ready(state)) return;
  const FullBoard& b = Board();
  if (state.range(0) == 0) {
    Report(state, 5, U32(b.first_time - 1) + U32(b.last_time + 1), kFull);
  } else {
    const uint32_t middle = b.first_time + (b.last_time - b.first_time) / 2;
    Report(state, 5, U32(middle) + U32(middle + 30 * 86400), kFull * 30.0 / ((b.last_time - b.first_time) / 86400));
  }
}
BENCHMARK(BM_PeriodReport)->ArgName("month")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Every shift, and ten in the middle.
void BM_ShiftRangeReport(benchmark::State& state) {
  if (!Ready(state)) return;
  const uint16_t shifts = Board().shifts;
  if (state.range(0) == 0) {
    Report(state, 6, U16(1) + U16(shifts), kFull);
  } else {
    const uint16_t from = static_cast<uint16_t>(shifts / 2);
    Report(state, 6, U16(from) + U16(static_cast<uint16_t>(from + 9)), kFull * 10.0 / shifts);
  }
}
BENCHMARK(BM_ShiftRangeReport)->ArgName("ten")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// What fr-core does before it serves the host: tables, identity, the card,
// the archive checked and its state published, the printer and the banner.
void BM_StartUp(benchmark::State& state) {
  if (!Ready(state)) return;
  gen::Device& d = *Board().device;
  const int64_t slept0 = d.env().slept_ms();
  for (auto _ : state) {
    d.StartUp();
    if (FrStatus::lastDocumentNumber() != kFull) {
      state.SkipWithError("start-up lost the archive");
      return;
    }
  }
  state.counters["excluded_pause_ms"] =
      static_cast<double>(d.env().slept_ms() - slept0) / static_cast<double>(state.iterations());
  d.env().set_now(Board().last_time + 3600);
}
BENCHMARK(BM_StartUp)->Unit(benchmark::kMillisecond);

// readDocument of documents spread over the whole archive (mostly receipts
// of one to five lines, a Z report every ~200).
void BM_ReadDocument(benchmark::State& state) {
  if (!Ready(state)) return;
  FiscalArchive archive(&Board().device->env(), kArchive);
  uint32_t x = 1;
  for (auto _ : state) {
    x = x * 1103515245u + 12345u;
    const uint32_t number = 1 + (x >> 8) % kFull;
    std::shared_ptr<BaseWorkDocument> doc;
    if (archive.readDocument(number, &doc) != rc::kOk) {
      state.SkipWithError("read failed");
      return;
    }
  }
}
BENCHMARK(BM_ReadDocument)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
