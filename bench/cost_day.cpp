// A register's day, single-threaded and repeatable instruction for
// instruction, for tools/cost.sh to count under callgrind. The command core
// runs in this process on a board in DIR (fake clock, seeded random numbers,
// a primed printer line drained between commands), so no pause and no wait
// for the printer is in it; callgrind counts only inside
// CoreWorker::initialise and CoreWorker::dispatch.
//
//   cost_day DIR day       start-up on a blank board, then the day: serial
//                          number, registration, shift open, cash in,
//                          receipts, a return, cash out, X report, Z report
//   cost_day DIR setup     start-up, serial number, registration, shift open
//                          and cash in: the board for `receipt`
//   cost_day DIR receipt   start-up on that board, then one 10-line receipt:
//                          open, 10 lines, close (the store included)
//   cost_day DIR full      start-up on a board with a full archive (made by
//                          fr-archive-gen), then the period
//                          report over all its time and the shift-range
//                          report over all its shifts
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/fr_status.h"
#include "util/coding.h"
#include "platform/sandbox_env.h"
#include "tools/gen/device.h"

namespace {

using gen::host::Line;

// 2021-03-01 08:00 UTC, later than the generator's default start.
constexpr int64_t kMorning = 1614585600 + 8 * 3600;
// A fixed free space: the capacity the status shows must not follow the disk.
constexpr const char* kFreeBytes = "1073741824";

// The clock moves on before every document, as the register's would.
void Later(gen::Device* d, int64_t seconds = 97) { d->env().advance(seconds); }

bool Prepare(gen::Device* d) {
  if (!d->Prepare()) return false;
  return d->sandbox().WriteFile(platform::SandboxEnv::kFreeBytes, kFreeBytes);
}

bool Setup(gen::Device* d) {
  if (!d->SetUp()) return false;
  Later(d);
  if (!d->OpenShift()) return false;
  Later(d);
  return d->CashIn(500000);
}

bool Day(gen::Device* d) {
  if (!Setup(d)) return false;
  const std::vector<Line> ten = gen::TenLines();
  // Twenty sales of one to ten lines, every fourth paid by card.
  for (int i = 0; i < 20; ++i) {
    Later(d);
    const std::vector<Line> lines(ten.begin(), ten.begin() + 1 + (i * 7) % 10);
    if (!d->OpenReceipt(0)) return false;
    for (const Line& l : lines) {
      if (!d->AddLine(l)) return false;
    }
    const int64_t total = d->OpenTotal();
    if (total < 0) return false;
    const bool card = i % 4 == 3;
    if (!d->CloseReceipt(card ? 0 : (total + 99999) / 100000 * 100000, card ? total : 0)) return false;
  }
  Later(d);
  if (!d->Receipt(2, {ten[0]}, 5490, 0)) return false;  // a sale return in cash
  Later(d);
  if (!d->CashOut(200000)) return false;
  if (!d->Report(1)) return false;  // X report
  Later(d);
  if (!d->CashOut(FrStatus::cashInDrawer())) return false;
  Later(d);
  return d->CloseShift();
}

bool Receipt(gen::Device* d) {
  Later(d);
  return d->Receipt(0, gen::TenLines(), 0, 0);  // both 0: the total in cash
}

// Both reports over the whole archive: from before its first document to
// after its last, and from shift 1 to the last one.
bool Full(gen::Device* d) {
  if (FrStatus::lastDocumentNumber() == 0) return false;
  const uint32_t last = static_cast<uint32_t>(FrStatus::lastDocumentTime());
  d->env().set_now(last + 3600);
  std::string period, range;
  util::PutFixed32(&period, 0);
  util::PutFixed32(&period, last + 1);
  util::PutFixed16(&range, 1);
  util::PutFixed16(&range, FrStatus::shiftNumber());
  return d->Report(5, period, gen::host::kServiceCashier) && d->Report(6, range, gen::host::kServiceCashier);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || (strcmp(argv[2], "day") != 0 && strcmp(argv[2], "setup") != 0 &&
                    strcmp(argv[2], "receipt") != 0 && strcmp(argv[2], "full") != 0)) {
    fprintf(stderr, "usage: cost_day DIR day|setup|receipt|full\n");
    return 2;
  }
  const std::string mode = argv[2];
  gen::Device d(argv[1], kMorning, gen::Device::PrinterMode::kPump);
  bool ok = Prepare(&d);
  if (ok && mode == "full") {
    d.StartUp();
    ok = Full(&d);
    if (!ok && d.error().empty()) fprintf(stderr, "cost_day full: no archive in %s\n", argv[1]);
  } else if (ok && mode == "receipt") {
    // Continue where `setup` stopped: a little after its last document.
    d.StartUp();
    d.env().set_now(static_cast<int64_t>(FrStatus::lastDocumentTime()));
    ok = Receipt(&d);
  } else if (ok) {
    d.StartUp();
    ok = mode == "day" ? Day(&d) : Setup(&d);
  }
  if (!ok) {
    fprintf(stderr, "cost_day %s: %s\n", mode.c_str(), d.error().c_str());
    return 1;
  }
  printf("cost_day %s: %llu commands, last document %u, %llu bytes printed\n", mode.c_str(),
         static_cast<unsigned long long>(d.calls()), FrStatus::lastDocumentNumber(),
         static_cast<unsigned long long>(d.printer().bytes_received()));
  return 0;
}
