#include "storage/tables.h"

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "documents/tlv_tags.h"
#include "util/coding.h"
#include "util/cp866.h"

using platform::Env;
using platform::File;

namespace tables {
namespace {

// The holders. Built on first use so that no static initialisation order
// matters; each guarded by its own mutex, never two held at once.
struct CashierHolder {
  std::mutex mu;
  std::map<uint8_t, Cashier> cache;  // filled lazily, by saves and checks
};

struct DiscountHolder {
  std::mutex mu;
  std::map<uint8_t, Discount> cache;  // valid discounts only
};

struct SectionHolder {
  std::mutex mu;
  std::vector<Section> entries;  // empty until the first initialisation
};

CashierHolder& Cashiers() {
  static CashierHolder h;
  return h;
}

DiscountHolder& Discounts() {
  static DiscountHolder h;
  return h;
}

SectionHolder& Sections() {
  static SectionHolder h;
  return h;
}

bool ValidNumber(uint8_t number) { return number >= 1 && number <= kSlotCount; }

uint64_t SlotOffset(uint8_t number, size_t record_size) {
  return static_cast<uint64_t>(number - 1) * record_size;
}

uint8_t* At(std::string* image, size_t offset) {
  return reinterpret_cast<uint8_t*>(&(*image)[offset]);
}

// Text up to its first NUL, at most `max` bytes.
std::string FieldText(const std::string& image, size_t offset, size_t max) {
  std::string text = image.substr(offset, max);
  const size_t nul = text.find('\0');
  if (nul != std::string::npos) text.resize(nul);
  return text;
}

void PutText(std::string* image, size_t offset, const std::string& text, size_t max) {
  const size_t n = std::min(text.size(), max);
  image->replace(offset, n, text, 0, n);
}

// Reads `size` bytes at `offset` into *buf; what could not be read stays zero,
// so an unread record looks empty. True when the whole record was read.
bool ReadAt(File* f, uint64_t offset, size_t size, std::string* buf) {
  buf->assign(size, '\0');
  return f->Seek(offset) && f->Read(&(*buf)[0], size) == size;
}

// A write counts once it is flushed; the file is closed either way.
bool WriteAndClose(File* f, uint64_t offset, const std::string& bytes) {
  const bool ok = f->Seek(offset) && f->Write(bytes.data(), bytes.size()) == bytes.size() &&
                  f->Flush();
  return f->Close() && ok;
}

bool ReadRecord(Env* env, const char* path, uint8_t number, size_t size, std::string* buf) {
  std::unique_ptr<File> f = env->OpenFile(path, "r+");
  if (f == nullptr) return false;
  const bool ok = ReadAt(f.get(), SlotOffset(number, size), size, buf);
  f->Close();
  return ok;
}

bool WriteRecord(Env* env, const char* path, uint8_t number, const std::string& image) {
  std::unique_ptr<File> f = env->OpenFile(path, "r+");
  if (f == nullptr) return false;
  return WriteAndClose(f.get(), SlotOffset(number, image.size()), image);
}

// 20 records, all zero but for byte 0 = the slot number.
std::string BlankSlots(size_t record_size) {
  std::string all(kSlotCount * record_size, '\0');
  for (uint8_t n = 1; n <= kSlotCount; ++n) all[SlotOffset(n, record_size)] = static_cast<char>(n);
  return all;
}

bool CreateTable(Env* env, const char* path, const std::string& contents) {
  std::unique_ptr<File> f = env->OpenFile(path, "w+");
  if (f == nullptr) return false;
  return WriteAndClose(f.get(), 0, contents);
}

// A table cut short (its creation failed half-way, the card was full) gets
// its missing records from `defaults`; the whole records it holds stay.
// Without this a cut cashier table would lock everybody out for good.
bool CompleteTable(Env* env, const char* path, const std::string& defaults, size_t record_size) {
  uint64_t size = 0;
  if (!env->FileSize(path, &size)) return false;
  if (size >= defaults.size()) return true;
  const size_t keep = static_cast<size_t>(size) / record_size * record_size;
  std::unique_ptr<File> f = env->OpenFile(path, "r+");
  if (f == nullptr) return false;
  return WriteAndClose(f.get(), keep, defaults.substr(keep));
}

std::string DefaultCashiers() {
  Cashier service;
  service.number = kServiceCashierNumber;
  service.rights = kAllRights;
  service.password = kServiceDefaultPassword;
  service.name = util::Utf8ToCp866(kServiceNameUtf8);
  std::string contents = BlankSlots(kCashierSize);
  contents.replace(SlotOffset(kServiceCashierNumber, kCashierSize), kCashierSize, cashierImage(service));
  return contents;
}

}  // namespace

// ---- Images -------------------------------------------------------------

std::string cashierImage(const Cashier& c) {
  std::string image(kCashierSize, '\0');
  image[kCashierNumberOffset] = static_cast<char>(c.number);
  util::EncodeFixed16(At(&image, kCashierRightsOffset), c.rights);
  util::EncodeFixed32(At(&image, kCashierPasswordOffset), static_cast<uint32_t>(c.password));
  PutText(&image, kCashierNameOffset, c.name, kCashierNameMax);
  return image;
}

bool parseCashierImage(const std::string& image, Cashier* out) {
  if (image.size() != kCashierSize) return false;
  Cashier c;
  c.number = static_cast<uint8_t>(image[kCashierNumberOffset]);
  c.rights = util::GetFixed16(image, kCashierRightsOffset);
  c.password = static_cast<int32_t>(util::GetFixed32(image, kCashierPasswordOffset));
  c.name = FieldText(image, kCashierNameOffset, kCashierNameMax);  // byte 262 never counts
  *out = c;
  return ValidNumber(c.number);
}

std::string discountImage(const Discount& d) {
  std::string image(kDiscountSize, '\0');
  image[kDiscountNumberOffset] = static_cast<char>(d.number);
  util::EncodeFixed32(At(&image, kDiscountTypeOffset), static_cast<uint32_t>(d.type));
  util::EncodeFixed64(At(&image, kDiscountValueOffset), static_cast<uint64_t>(d.value));
  PutText(&image, kDiscountNameOffset, d.name, kDiscountNameMax);
  return image;
}

bool parseDiscountImage(const std::string& image, Discount* out) {
  if (image.size() != kDiscountSize) return false;
  Discount d;
  d.number = static_cast<uint8_t>(image[kDiscountNumberOffset]);
  d.type = static_cast<int32_t>(util::GetFixed32(image, kDiscountTypeOffset));
  d.value = static_cast<int64_t>(util::GetFixed64(image, kDiscountValueOffset));
  d.name = FieldText(image, kDiscountNameOffset, kDiscountNameMax);  // byte 140 never counts
  *out = d;
  return ValidNumber(d.number);
}

std::string sectionImage(const Section& s) {
  std::string image(kSectionSize, '\0');
  image[kSectionNumberOffset] = static_cast<char>(s.number);
  PutText(&image, kSectionNameOffset, s.name, kSectionNameMax);
  return image;
}

bool parseSectionImage(const std::string& image, Section* out) {
  if (image.size() != kSectionSize) return false;
  Section s;
  s.number = static_cast<uint8_t>(image[kSectionNumberOffset]);
  s.name = FieldText(image, kSectionNameOffset, kSectionNameMax);
  *out = s;
  return ValidNumber(s.number);
}

// ---- Cashiers -----------------------------------------------------------

bool initCashiers(Env* env) {
  CashierHolder& h = Cashiers();
  std::lock_guard<std::mutex> lock(h.mu);
  // On the board this runs once, on an empty cache; clearing it anyway keeps
  // a process that initialises twice (the tests) in step with the new file.
  h.cache.clear();
  // The cache fills lazily.
  if (env->PathExists(kCashiersPath)) return CompleteTable(env, kCashiersPath, DefaultCashiers(), kCashierSize);
  return CreateTable(env, kCashiersPath, DefaultCashiers());
}

bool readCashier(Env* env, uint8_t number, Cashier* out) {
  if (!ValidNumber(number)) return false;
  CashierHolder& h = Cashiers();
  std::lock_guard<std::mutex> lock(h.mu);
  std::string image;
  if (!ReadRecord(env, kCashiersPath, number, kCashierSize, &image)) return false;
  Cashier c;
  parseCashierImage(image, &c);  // a foreign byte 0 does not matter here
  c.number = number;
  *out = c;
  return true;
}

bool saveCashier(Env* env, const Cashier& c) {
  if (!ValidNumber(c.number)) return false;
  const std::string image = cashierImage(c);
  CashierHolder& h = Cashiers();
  std::lock_guard<std::mutex> lock(h.mu);
  if (!WriteRecord(env, kCashiersPath, c.number, image)) return false;
  // Cache what a later read of the file gives (name cut, stops at a NUL).
  Cashier stored;
  parseCashierImage(image, &stored);
  h.cache[c.number] = stored;
  return true;
}

bool checkCashier(Env* env, uint8_t number, int32_t password, Cashier* out) {
  CashierHolder& h = Cashiers();
  std::lock_guard<std::mutex> lock(h.mu);
  Cashier c;
  auto it = h.cache.find(number);
  if (it != h.cache.end()) {
    c = it->second;
  } else {
    if (!ValidNumber(number)) return false;
    std::string image;
    if (!ReadRecord(env, kCashiersPath, number, kCashierSize, &image)) return false;
    parseCashierImage(image, &c);
    h.cache[c.number] = c;  // filed under what the record says it is
  }
  if (c.password != password || !c.isValid()) return false;
  *out = c;
  return true;
}

bool isServiceCashier(const Cashier& c) { return c.number == kServiceCashierNumber; }

// ---- Discounts ----------------------------------------------------------

bool initDiscounts(Env* env) {
  DiscountHolder& h = Discounts();
  std::lock_guard<std::mutex> lock(h.mu);
  h.cache.clear();
  if (!env->PathExists(kDiscountsPath)) {
    return CreateTable(env, kDiscountsPath, BlankSlots(kDiscountSize));
  }
  if (!CompleteTable(env, kDiscountsPath, BlankSlots(kDiscountSize), kDiscountSize)) return false;
  std::unique_ptr<File> f = env->OpenFile(kDiscountsPath, "r+");
  if (f == nullptr) return false;
  for (uint8_t n = 1; n <= kSlotCount; ++n) {
    std::string image;
    // A record past the end of a short file counts as empty.
    if (!ReadAt(f.get(), SlotOffset(n, kDiscountSize), kDiscountSize, &image)) continue;
    Discount d;
    // Filed under its own byte 0; one outside 1..20 could never be looked up.
    if (parseDiscountImage(image, &d) && d.isValid()) h.cache[d.number] = d;
  }
  f->Close();
  return true;
}

bool getDiscount(uint8_t number, Discount* out) {
  if (!ValidNumber(number)) return false;
  DiscountHolder& h = Discounts();
  std::lock_guard<std::mutex> lock(h.mu);
  auto it = h.cache.find(number);
  if (it != h.cache.end()) {
    *out = it->second;
  } else {
    Discount empty;
    empty.number = number;
    *out = empty;
  }
  return true;
}

bool saveDiscount(Env* env, const Discount& d) {
  if (!ValidNumber(d.number)) return false;
  const std::string image = discountImage(d);
  DiscountHolder& h = Discounts();
  std::lock_guard<std::mutex> lock(h.mu);
  std::unique_ptr<File> f = env->OpenFile(kDiscountsPath, "r+");
  if (f == nullptr) return false;
  // A refused save changes nothing the register applies: the cache keeps
  // the record it had, as the caller is told the new one was not saved.
  if (!WriteAndClose(f.get(), SlotOffset(d.number, kDiscountSize), image)) return false;
  h.cache.erase(d.number);
  Discount stored;
  parseDiscountImage(image, &stored);
  if (stored.isValid()) h.cache[d.number] = stored;
  return true;
}

Decimal discountAmount(const Discount& d, const Decimal& base) {
  const Decimal zero(base.scale());
  if (base.mantissa() <= 0 || d.value <= 0) return zero;
  if (d.type != kPercentDiscount) return Decimal(Decimal::kMoneyScale, d.value);
  const double percent = static_cast<double>(d.value) / 100.0;
  return Decimal::fromReal(base.scale(), base.toDouble() * percent / 100.0);
}

std::string discountPrintName(const Discount& d) {
  if (!d.isValid()) return std::string();
  if (!d.name.empty()) return d.name;
  std::string text = util::Utf8ToCp866("СКИДКА");
  if (d.type == kPercentDiscount) {
    text += " " + Decimal(Decimal::kMoneyScale, d.value).percentText();
  }
  return text;
}

// ---- Sections -----------------------------------------------------------

bool initSections(Env* env) {
  SectionHolder& h = Sections();
  std::lock_guard<std::mutex> lock(h.mu);
  // Allocated before the file is looked at, so lookups work even when the
  // file cannot be opened.
  if (h.entries.empty()) h.entries.resize(kSlotCount);
  for (uint8_t n = 1; n <= kSlotCount; ++n) h.entries[n - 1].number = n;

  if (!env->PathExists(kSectionsPath)) {
    // The new file's slots are empty, and so must the entries be; on the
    // board they still are (this runs once), in tests they may not.
    for (Section& s : h.entries) s.name.clear();
    return CreateTable(env, kSectionsPath, BlankSlots(kSectionSize));
  }
  if (!CompleteTable(env, kSectionsPath, BlankSlots(kSectionSize), kSectionSize)) return false;
  std::unique_ptr<File> f = env->OpenFile(kSectionsPath, "r+");
  if (f == nullptr) return false;
  for (uint8_t n = 1; n <= kSlotCount; ++n) {
    std::string image;
    ReadAt(f.get(), SlotOffset(n, kSectionSize), kSectionSize, &image);  // short: empty
    // The slot decides the number, whatever byte 0 holds.
    h.entries[n - 1].name = FieldText(image, kSectionNameOffset, kSectionNameMax);
  }
  f->Close();
  return true;
}

bool getSection(uint8_t number, Section* out) {
  if (!ValidNumber(number)) return false;
  SectionHolder& h = Sections();
  std::lock_guard<std::mutex> lock(h.mu);
  if (h.entries.empty()) return false;
  Section s = h.entries[number - 1];
  s.number = number;
  *out = s;
  return true;
}

bool saveSection(Env* env, const Section& s) {
  if (!ValidNumber(s.number)) return false;
  const std::string image = sectionImage(s);
  SectionHolder& h = Sections();
  std::lock_guard<std::mutex> lock(h.mu);
  if (!WriteRecord(env, kSectionsPath, s.number, image)) return false;
  // Before the first initialisation there is no array to keep in step.
  if (!h.entries.empty()) parseSectionImage(image, &h.entries[s.number - 1]);
  return true;
}

TlvElement sectionToTlv(const Section& s) {
  if (!s.isValid()) return TlvElement();
  std::vector<TlvElement> inner = {TlvElement::fromByte(tag::kSectionNumber, s.number)};
  if (!s.name.empty()) inner.push_back(TlvElement::fromString(tag::kSectionName, s.name));
  return TlvElement::fromList(tag::kSection, inner);
}

bool sectionFromTlv(const TlvElement& e, Section* s) {
  if (e.tag() != tag::kSection) return false;
  const std::vector<TlvElement> inner = e.asList();
  if (inner.empty()) return false;
  Section r;
  for (const TlvElement& item : inner) {
    if (item.tag() == tag::kSectionNumber) {
      r.number = item.asByte();  // not one byte: 0, so not valid
    } else if (item.tag() == tag::kSectionName) {
      r.setName(item.asString());
    }
  }
  *s = r;
  return r.isValid();
}

}  // namespace tables

// ---- Records ------------------------------------------------------------

bool Cashier::isValid() const {
  return number >= 1 && number <= tables::kSlotCount && password != 0 && rights != 0 &&
         !name.empty();
}

// Type 1 is a percentage, any lower type a fixed sum.
bool Discount::isValid() const { return type <= 1 && value >= 1; }

bool Section::isValid() const { return number >= 1 && number <= tables::kSlotCount; }

void Section::setName(const std::string& cp866) { name = cp866.substr(0, tables::kSectionNameMax); }
