#include "app/fr_status.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

#include "app/codes.h"
#include "util/coding.h"

namespace FrStatus {
namespace {

constexpr int64_t kShiftMaxSeconds = 86400;
constexpr uint16_t kMaxReceiptsInShift = 3000;
constexpr uint8_t kMaxRegistrations = 50;
constexpr uint32_t kMinCapacity = 10;
constexpr uint32_t kMinCapacityCashOut = 5;

struct Records {
  std::mutex mu;
  StatusStruct status;
  CycleStatus cycle;
  int64_t build_time = 0;

  Records() { resetLocked(); }
  void resetLocked() {
    memset(status.bytes, 0, sizeof(status.bytes));
    memset(cycle.bytes, 0, sizeof(cycle.bytes));
    status.bytes[kConstantOffset] = kConstant;
  }
};

Records& records() {
  static Records* const r = new Records;  // lives until the process is killed
  return *r;
}

// Field access on a locked record.
template <typename T>
T Get(const uint8_t* base, size_t offset);
template <>
uint8_t Get<uint8_t>(const uint8_t* base, size_t offset) { return base[offset]; }
template <>
uint16_t Get<uint16_t>(const uint8_t* base, size_t offset) { return util::DecodeFixed16(base + offset); }
template <>
uint32_t Get<uint32_t>(const uint8_t* base, size_t offset) { return util::DecodeFixed32(base + offset); }
template <>
uint64_t Get<uint64_t>(const uint8_t* base, size_t offset) { return util::DecodeFixed64(base + offset); }

void Put(uint8_t* base, size_t offset, uint8_t v) { base[offset] = v; }
void Put(uint8_t* base, size_t offset, uint16_t v) { util::EncodeFixed16(base + offset, v); }
void Put(uint8_t* base, size_t offset, uint32_t v) { util::EncodeFixed32(base + offset, v); }
void Put(uint8_t* base, size_t offset, uint64_t v) { util::EncodeFixed64(base + offset, v); }

template <typename T>
T ReadStatus(size_t offset) {
  Records& r = records();
  std::lock_guard<std::mutex> lock(r.mu);
  return Get<T>(r.status.bytes, offset);
}
template <typename T>
void WriteStatus(size_t offset, T v) {
  Records& r = records();
  std::lock_guard<std::mutex> lock(r.mu);
  Put(r.status.bytes, offset, v);
}
template <typename T>
T ReadCycle(size_t offset) {
  Records& r = records();
  std::lock_guard<std::mutex> lock(r.mu);
  return Get<T>(r.cycle.bytes, offset);
}
template <typename T>
void WriteCycle(size_t offset, T v) {
  Records& r = records();
  std::lock_guard<std::mutex> lock(r.mu);
  Put(r.cycle.bytes, offset, v);
}

// REQUIRES: records().mu held.
int ReadinessLocked(const Records& r) {
  const uint16_t f = Get<uint16_t>(r.status.bytes, kFlagsOffset);
  if (f & kForeignArchive) return rc::kForeignArchive;
  if (!(f & kArchivePresent)) return rc::kNoArchiveStorage;
  if (!(f & kArchiveUsable)) return rc::kArchiveUnusable;
  if (f & kArchiveClosed) return rc::kArchiveClosed;
  if (f & kIdentityError) return rc::kIdentityFailure;
  if (f & kPrinterSilent) return rc::kPrinterSilent;
  if (f & kPaperOut) return rc::kPaperOut;
  return rc::kOk;
}

}  // namespace

void reset() {
  Records& r = records();
  std::lock_guard<std::mutex> lock(r.mu);
  r.resetLocked();
}

void setFlag(uint16_t mask, bool on) {
  Records& r = records();
  std::lock_guard<std::mutex> lock(r.mu);
  uint16_t f = Get<uint16_t>(r.status.bytes, kFlagsOffset);
  f = on ? static_cast<uint16_t>(f | mask) : static_cast<uint16_t>(f & ~mask);
  Put(r.status.bytes, kFlagsOffset, f);
}

bool testFlags(uint16_t mask) { return (flags() & mask) != 0; }
uint16_t flags() { return ReadStatus<uint16_t>(kFlagsOffset); }
void setFlags(uint16_t f) { WriteStatus(kFlagsOffset, f); }

uint8_t registrationCount() { return ReadStatus<uint8_t>(kRegistrationCountOffset); }
void setRegistrationCount(uint8_t count) { WriteStatus(kRegistrationCountOffset, count); }
void markConstant() { WriteStatus(kConstantOffset, kConstant); }
uint16_t shiftNumber() { return ReadStatus<uint16_t>(kShiftNumberOffset); }
void setShiftNumber(uint16_t number) { WriteStatus(kShiftNumberOffset, number); }
uint32_t lastDocumentNumber() { return ReadStatus<uint32_t>(kLastDocumentNumberOffset); }
void setLastDocumentNumber(uint32_t number) { WriteStatus(kLastDocumentNumberOffset, number); }
int32_t lastDocumentTime() {
  return static_cast<int32_t>(ReadStatus<uint32_t>(kLastDocumentTimeOffset));
}
void setLastDocumentTime(int32_t t) {
  WriteStatus(kLastDocumentTimeOffset, static_cast<uint32_t>(t));
}
uint16_t receiptsInShift() { return ReadStatus<uint16_t>(kReceiptsInShiftOffset); }
void setReceiptsInShift(uint16_t count) { WriteStatus(kReceiptsInShiftOffset, count); }
uint8_t openDocumentType() { return ReadStatus<uint8_t>(kOpenDocumentTypeOffset); }
void setOpenDocumentType(uint8_t type) { WriteStatus(kOpenDocumentTypeOffset, type); }
uint32_t capacity() { return ReadStatus<uint32_t>(kCapacityOffset); }
void setCapacity(uint32_t documents) { WriteStatus(kCapacityOffset, documents); }

uint32_t shiftOpenDocument() { return ReadCycle<uint32_t>(kShiftOpenDocumentOffset); }
void setShiftOpenDocument(uint32_t number) { WriteCycle(kShiftOpenDocumentOffset, number); }
uint32_t shiftOpenTime() { return ReadCycle<uint32_t>(kShiftOpenTimeOffset); }
void setShiftOpenTime(uint32_t t) { WriteCycle(kShiftOpenTimeOffset, t); }
uint32_t lastShiftDocument() { return ReadCycle<uint32_t>(kLastShiftDocumentOffset); }
void setLastShiftDocument(uint32_t number) { WriteCycle(kLastShiftDocumentOffset, number); }
uint32_t shiftCloseTime() { return ReadCycle<uint32_t>(kShiftCloseTimeOffset); }
void setShiftCloseTime(uint32_t t) { WriteCycle(kShiftCloseTimeOffset, t); }
int64_t cashInDrawer() { return static_cast<int64_t>(ReadCycle<uint64_t>(kCashInDrawerOffset)); }
void setCashInDrawer(int64_t amount) {
  WriteCycle(kCashInDrawerOffset, static_cast<uint64_t>(amount));
}

StatusStruct status() {
  Records& r = records();
  std::lock_guard<std::mutex> lock(r.mu);
  return r.status;
}

CycleStatus cycle() {
  Records& r = records();
  std::lock_guard<std::mutex> lock(r.mu);
  return r.cycle;
}

void copyRecords(std::string* status, std::string* cycle) {
  Records& r = records();
  std::lock_guard<std::mutex> lock(r.mu);
  status->assign(reinterpret_cast<const char*>(r.status.bytes), kStatusSize);
  cycle->assign(reinterpret_cast<const char*>(r.cycle.bytes), kCycleSize);
}

int readiness() {
  Records& r = records();
  std::lock_guard<std::mutex> lock(r.mu);
  return ReadinessLocked(r);
}

int check(Check which, int64_t now) {
  Records& r = records();
  std::lock_guard<std::mutex> lock(r.mu);
  const uint8_t* s = r.status.bytes;
  const uint8_t* c = r.cycle.bytes;
  const bool shift_open = (Get<uint16_t>(s, kFlagsOffset) & kShiftOpen) != 0;
  const uint32_t capacity = Get<uint32_t>(s, kCapacityOffset);
  const int64_t cash = static_cast<int64_t>(Get<uint64_t>(c, kCashInDrawerOffset));
  const int64_t shift_age = now - static_cast<int64_t>(Get<uint32_t>(c, kShiftOpenTimeOffset));
  switch (which) {
    case Check::A:
      if (shift_open) return rc::kShiftOpen;
      if (Get<uint8_t>(s, kRegistrationCountOffset) >= kMaxRegistrations) return rc::kRegistrationLimit;
      if (capacity < kMinCapacity) return rc::kCapacityLow;
      break;
    case Check::B:
      if (shift_open) return rc::kShiftOpen;
      if (capacity < kMinCapacity) return rc::kCapacityLow;
      break;
    case Check::C:
      if (shift_open) return rc::kShiftOpen;
      break;
    case Check::D:
      if (!shift_open) return rc::kShiftNotOpen;
      if (capacity < kMinCapacity) return rc::kCapacityLow;
      if (shift_age > kShiftMaxSeconds) return rc::kShiftTooLong;
      break;
    case Check::E:
      if (!shift_open) return rc::kShiftNotOpen;
      if (capacity < kMinCapacityCashOut) return rc::kCapacityLow;
      if (cash == 0) return rc::kNoCash;
      break;
    case Check::F:
      if (!shift_open) return rc::kShiftNotOpen;
      if (capacity < kMinCapacity) return rc::kCapacityLow;
      if (shift_age > kShiftMaxSeconds) return rc::kShiftTooLong;
      if (Get<uint16_t>(s, kReceiptsInShiftOffset) >= kMaxReceiptsInShift) return rc::kReceiptLimit;
      break;
    case Check::G:
      if (!shift_open) return rc::kShiftNotOpen;
      if (cash != 0) return rc::kCashNotZero;
      break;
    case Check::H:
      if (!shift_open) return rc::kShiftNotOpen;
      break;
  }
  return ReadinessLocked(r);
}

int64_t buildTime() {
  Records& r = records();
  std::lock_guard<std::mutex> lock(r.mu);
  return r.build_time;
}

void setBuildTime(int64_t t) {
  Records& r = records();
  std::lock_guard<std::mutex> lock(r.mu);
  r.build_time = t;
}

// The compiler's __DATE__ " " __TIME__ ("Jun 24 2022 15:08:59", the day
// padded with a space); read without strptime, which not every C library has.
bool parseBuildTime(platform::Env* env, const std::string& text, int64_t* t) {
  static const char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
  struct tm tm;
  memset(&tm, 0, sizeof(tm));
  char month[4] = {};
  if (sscanf(text.c_str(), "%3s %d %d %d:%d:%d", month, &tm.tm_mday, &tm.tm_year, &tm.tm_hour, &tm.tm_min,
             &tm.tm_sec) != 6 ||
      tm.tm_mday < 1 || tm.tm_mday > 31 || tm.tm_hour < 0 || tm.tm_hour > 23 || tm.tm_min < 0 || tm.tm_min > 59 ||
      tm.tm_sec < 0 || tm.tm_sec > 60) {
    return false;
  }
  const char* found = strlen(month) == 3 ? strstr(kMonths, month) : nullptr;
  if (found == nullptr || (found - kMonths) % 3 != 0) return false;
  tm.tm_mon = static_cast<int>(found - kMonths) / 3;
  tm.tm_year -= 1900;
  tm.tm_isdst = -1;
  *t = env->MakeLocalTime(&tm);
  return *t != -1;
}

bool clockCheck(int64_t t) {
  Records& r = records();
  std::lock_guard<std::mutex> lock(r.mu);
  const int32_t last = static_cast<int32_t>(Get<uint32_t>(r.status.bytes, kLastDocumentTimeOffset));
  const int32_t floor = static_cast<int32_t>(static_cast<uint32_t>(r.build_time));
  const int32_t when = static_cast<int32_t>(static_cast<uint32_t>(t));
  return last < when && floor < when;
}

}  // namespace FrStatus
