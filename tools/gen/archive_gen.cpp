#include "tools/gen/archive_gen.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "app/fr_status.h"
#include "storage/sd_card.h"
#include "tools/gen/device.h"
#include "util/cp866.h"

namespace gen {
namespace {

constexpr int64_t kDay = 86400;
constexpr int64_t kShiftStart = 8 * 3600;  // 08:00
constexpr int64_t kFloat = 500000;         // 5 000.00 in the drawer each morning
constexpr int64_t kKeepInDrawer = 10000;   // refunds in cash leave at least 100.00
constexpr uint32_t kMinShift = 150, kMaxShift = 250;
constexpr uint32_t kTradingDay = 10 * 3600;

// Same seed, same numbers, on every machine.
class Rng {
 public:
  explicit Rng(uint32_t seed) : state_(seed * 2654435761u + 1) {}
  uint32_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
  }
  uint32_t Below(uint32_t n) { return Next() % n; }
  uint32_t Between(uint32_t lo, uint32_t hi) { return lo + Below(hi - lo + 1); }
  bool Percent(uint32_t p) { return Below(100) < p; }

 private:
  uint32_t state_;
};

struct Product {
  const char* name;
  int64_t price;  // per piece or per kilogram
  uint8_t tax, section;
  bool weighed;
};

const Product kProducts[] = {
    {"Хлеб Бородинский", 5490, 2, 3, false},
    {"Батон нарезной", 4290, 2, 3, false},
    {"Молоко 3,2% 1 л", 8990, 2, 2, false},
    {"Кефир 1% 0,9 л", 7650, 2, 2, false},
    {"Сыр Российский", 65000, 2, 2, true},
    {"Масло сливочное 180 г", 18990, 2, 2, false},
    {"Сахар 1 кг", 6500, 2, 1, false},
    {"Чай черный 100 пак.", 25990, 1, 1, false},
    {"Кофе молотый 250 г", 38900, 1, 1, false},
    {"Гречка 900 г", 9990, 2, 1, false},
    {"Яблоки", 12900, 2, 1, true},
    {"Вода минеральная 1,5 л", 5990, 1, 1, false},
    {"Шоколад молочный", 8990, 1, 1, false},
    {"Печенье овсяное", 6790, 1, 1, false},
    {"Пакет", 500, 1, 1, false},
};
constexpr uint32_t kProductCount = sizeof(kProducts) / sizeof(kProducts[0]);

host::Line MakeLine(Rng* rng) {
  const Product& p = kProducts[rng->Below(kProductCount)];
  host::Line line;
  line.name = util::Utf8ToCp866(p.name);
  line.price = p.price;
  line.tax = p.tax;
  line.section = p.section;
  if (p.weighed) {
    line.places = 3;
    line.quantity = rng->Between(150, 1800);  // grams
  } else {
    line.quantity = rng->Percent(80) ? 1 : rng->Between(2, 4);
  }
  if (rng->Percent(8)) line.discount = 1;
  return line;
}

// One receipt as a shop's day has them; false with the device's error.
bool OneReceipt(Device* d, Rng* rng, uint8_t cashier) {
  static const uint32_t kLinesWeights[] = {30, 25, 20, 15, 10};  // 1..5 lines, per cent
  const uint32_t r = rng->Below(100);
  uint8_t type = 0;
  size_t lines = 1;
  if (r < 88) {
    type = 0;  // sale
    uint32_t w = rng->Below(100);
    lines = 1;
    for (uint32_t i = 0; i < 5 && w >= kLinesWeights[i]; ++i) {
      w -= kLinesWeights[i];
      ++lines;
    }
  } else if (r < 94) {
    type = 2;  // sale return
  } else if (r < 98) {
    type = 1;  // purchase
    lines = rng->Between(1, 2);
  } else {
    type = 3;  // purchase return
  }
  if (!d->OpenReceipt(type, cashier)) return false;
  for (size_t i = 0; i < lines; ++i) {
    if (!d->AddLine(MakeLine(rng))) return false;
  }
  const int64_t total = d->OpenTotal();
  if (total < 0) return false;
  int64_t cash = 0, cashless = 0;
  // The device's rule (ReceiptDoc::isIncoming): types 0 and 2 bring cash in.
  const bool incoming = type == 0 || type == 2;
  if (incoming) {
    if (rng->Percent(55)) {
      // Notes handed over, the change given back.
      const int64_t note = rng->Percent(50) ? 10000 : 100000;
      cash = (total + note - 1) / note * note;
    } else {
      cashless = total;
    }
  } else if (total <= FrStatus::cashInDrawer() - kKeepInDrawer) {
    cash = total;
  } else {
    cashless = total;
  }
  return d->CloseReceipt(cash, cashless);
}

uint64_t FileBytes(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

}  // namespace

std::string ArchivePath(const std::string& dir) { return dir + sdcard::kMountPoint + sdcard::kArchiveName; }

// One shift up to document `end`: open, float, trade, empty the drawer,
// close; false when the register refused a step.
bool OneShift(Device* d, Rng* rng, uint32_t end, BoardSummary* summary) {
  auto stored = [] { return FrStatus::lastDocumentNumber(); };
  auto step = [d, rng](uint32_t lo, uint32_t hi) { d->env().advance(rng->Between(lo, hi)); };
  // About ten hours of trade, whatever the shift's length: a shift may
  // not pass 24 hours.
  const uint32_t gap = std::min<uint32_t>(600, 2 * kTradingDay / (end - stored()));
  // The next morning, a little after eight.
  const int64_t midnight = (d->env().Now() / kDay + 1) * kDay;
  d->env().set_now(midnight + kShiftStart + rng->Below(900));
  const uint8_t cashier = static_cast<uint8_t>(1 + rng->Below(2));

  if (!d->OpenShift(cashier)) return false;
  step(60, 600);
  if (!d->CashIn(kFloat, cashier)) return false;
  ++summary->cash_documents;
  bool ok = true;
  // Two documents are left for the drawer and the Z report; the drawer
  // never runs dry (refunds in cash keep some), so both are always made.
  while (ok && stored() + 2 < end) {
    step(gap / 8, gap);
    const uint32_t r = rng->Below(1000);
    if (r < 8 && FrStatus::cashInDrawer() > 2 * kFloat) {
      ok = d->CashOut(FrStatus::cashInDrawer() / 2, cashier);  // collection
      ++summary->cash_documents;
    } else if (r < 12) {
      ok = d->CashIn(kFloat / 5, cashier);  // change from the safe
      ++summary->cash_documents;
    } else {
      ok = OneReceipt(d, rng, cashier);
      ++summary->receipts;
    }
  }
  if (!ok) return false;
  step(60, 600);
  if (!d->CashOut(FrStatus::cashInDrawer(), cashier)) return false;
  ++summary->cash_documents;
  step(30, 120);
  return d->CloseShift(cashier);
}

::host::Status MakeBoard(const std::string& dir, const BoardOptions& options, BoardSummary* summary) {
  const auto began = std::chrono::steady_clock::now();
  *summary = BoardSummary();
  if (options.documents < kMinDocuments || options.documents > sdcard::kMaxDocuments) {
    return ::host::Status::Invalid("documents must be " + std::to_string(kMinDocuments) + " to " +
                                   std::to_string(sdcard::kMaxDocuments));
  }
  struct stat st;
  if (stat(ArchivePath(dir).c_str(), &st) == 0) {
    return ::host::Status::Invalid(dir + " already holds an archive");
  }
  Device d(dir, options.start + kShiftStart, Device::PrinterMode::kPump);
  if (!d.Prepare()) {
    return ::host::Status::Invalid(d.error());
  }
  d.StartUp();
  if (!FrStatus::testFlags(FrStatus::kArchiveUsable) || !d.SetUp()) {
    return ::host::Status::Invalid(d.error().empty() ? "the archive did not come up" : d.error());
  }
  Rng rng(options.seed);
  const uint32_t target = options.documents;
  auto stored = [] { return FrStatus::lastDocumentNumber(); };
  summary->first_time = FrStatus::lastDocumentTime();

  uint32_t reported = 0;
  while (stored() < target) {
    // Whole shifts; the last one takes what is left rather than leave a
    // shorter one behind.
    uint32_t end = stored() + rng.Between(kMinShift, kMaxShift);
    if (end > target || target - end < kMinShift) end = target;
    if (!OneShift(&d, &rng, end, summary)) break;
    ++summary->shifts;
    if (options.progress && stored() - reported >= 10000) {
      reported = stored();
      options.progress(reported);
    }
  }
  summary->documents = stored();
  summary->last_time = FrStatus::lastDocumentTime();
  summary->archive_bytes = FileBytes(ArchivePath(dir));
  summary->seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  if (summary->documents != target) {
    return ::host::Status::Invalid(d.error().empty() ? "stopped at document " + std::to_string(summary->documents)
                                                     : d.error());
  }
  return ::host::Status::OK();
}

}  // namespace gen
