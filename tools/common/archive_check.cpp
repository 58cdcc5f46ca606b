#include "tools/common/archive_check.h"

#include <map>
#include <memory>

#include "documents/base_document.h"
#include "documents/descriptor_format.h"
#include "documents/tlv_element.h"
#include "documents/tlv_tags.h"
#include "storage/archive_format.h"
#include "util/coding.h"
#include "util/crc.h"
#include "workers/counters_format.h"

namespace sim {
namespace {

namespace d = descriptor;

// The archive's sums wrap rather than trap; so do these.
int64_t Add(int64_t a, int64_t b) { return static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b)); }

std::string Num(uint64_t v) { return std::to_string(v); }
std::string Doc(uint32_t n) { return "document " + Num(n); }

struct Element {
  uint16_t tag;
  size_t offset;  // of its header, in the block
  std::string value;
};

// The elements from `from` on; false when they do not fill `bytes` exactly.
bool Split(const std::string& bytes, size_t from, std::vector<Element>* out) {
  size_t p = from;
  while (p + TlvElement::kHeaderSize <= bytes.size()) {
    const size_t n = util::GetFixed16(bytes, p + 2);
    if (p + TlvElement::kHeaderSize + n > bytes.size()) return false;
    out->push_back({util::GetFixed16(bytes, p), p, bytes.substr(p + TlvElement::kHeaderSize, n)});
    p += TlvElement::kHeaderSize + n;
  }
  return p == bytes.size();
}

// What a receipt stores after its main data.
bool IsReceiptPart(uint16_t t) {
  return (t >= tag::kTaxRateFirst && t < tag::kTaxRateFirst + 5) || t == tag::kSection || t == tag::kReceiptLine;
}

bool AllZero(const std::string& bytes) { return bytes.find_first_not_of('\0') == std::string::npos; }

// Named fields of a totals record image, for readable differences.
struct Field {
  std::string name;
  size_t offset, size;
  bool is_signed;
};

std::vector<Field> RecordFields(bool gross) {
  using namespace counters;
  std::vector<Field> f = {
      {"shift number", kShiftNumberOffset, 2, false},    {"cash-in count", kCashInCountOffset, 2, false},
      {"cash-out count", kCashOutCountOffset, 2, false}, {"cash-in sum", kCashInSumOffset, 8, true},
      {"cash-out sum", kCashOutSumOffset, 8, true},      {"receipt count", kReceiptCountOffset, 4, false}};
  if (!gross) f.push_back({"cash in drawer", kCashInDrawerOffset, 8, true});
  const size_t base = gross ? kGrossBlocksOffset : kShiftBlocksOffset;
  const size_t block = gross ? kGrossOperationSize : kOperationSize;
  for (size_t k = 0; k < kTypeCount; ++k) {
    const std::string b = "block " + Num(k) + " ";
    const size_t at = base + k * block;
    f.push_back({b + "type", at + kOpTypeOffset, 1, false});
    f.push_back({b + "receipt count", at + kOpReceiptCountOffset, 4, false});
    f.push_back({b + "total", at + kOpTotalOffset, 8, true});
    f.push_back({b + "cash", at + kOpCashOffset, 8, true});
    f.push_back({b + "cashless", at + kOpCashlessOffset, 8, true});
    for (size_t r = 0; r < kReservedCount; ++r) {
      f.push_back({b + "reserved " + Num(r), at + kOpReservedOffset + r * kAmountSize, 8, true});
    }
    for (size_t t = 0; t < kTaxCount && !gross; ++t) {
      f.push_back({b + "tax " + Num(t + 1), at + kOpTaxOffset + t * kAmountSize, 8, true});
    }
  }
  return f;
}

std::string FieldText(const std::string& image, const Field& f) {
  std::string bytes = image.substr(f.offset, f.size);
  bytes.resize(8, '\0');
  const uint64_t v = util::GetFixed64(bytes, 0);
  return f.is_signed ? std::to_string(static_cast<int64_t>(v)) : std::to_string(v);
}

class Checker {
 public:
  Checker(platform::Env* env, const std::string& path, ArchiveCheck* out)
      : env_(env), path_(path), out_(out), sum_(out->summary) {}

  void Run();

 private:
  void Problem(const std::string& text) { out_->problems.push_back(text); }
  bool Read(uint64_t offset, size_t n, std::string* bytes);
  void CheckHead();
  // False when the walk cannot go on past this descriptor.
  bool CheckDocument(uint32_t n, const std::string& desc);
  void CheckBase(const StoredDocument& doc, const std::vector<Element>& elements, uint32_t fiscalisation);
  void CheckShiftRules(const StoredDocument& doc);
  size_t CheckSeals(uint32_t n, const StoredDocument& doc, const std::string& desc, const std::string& block,
                    const std::vector<Element>& elements);
  void Remember(uint8_t type, uint32_t n, const std::string& desc);
  bool ReadReceipt(const std::vector<Element>& elements, size_t main, StoredDocument* doc,
                   std::map<uint8_t, int64_t>* taxes, std::map<uint8_t, int64_t>* sections);
  void Book(StoredDocument* doc, const std::vector<Element>& elements, size_t main);
  void BookCash(bool cash_in, int64_t amount);
  void BookReceipt(const StoredDocument& doc, const std::map<uint8_t, int64_t>& taxes,
                   const std::map<uint8_t, int64_t>& sections);
  void CheckCarriedCounters(const StoredDocument& doc, const std::vector<Element>& elements);
  void CompareRecord(const std::string& name, const std::string& stored, const std::string& computed, bool gross);
  void CompareTotals();
  void CompareSlots();

  platform::Env* const env_;
  const std::string path_;
  ArchiveCheck* const out_;
  ArchiveSummary& sum_;
  std::unique_ptr<platform::File> file_;
  uint64_t size_ = 0;

  uint64_t next_offset_ = archive::kDataOffset;
  uint32_t last_time_ = 0;
  uint32_t fiscalisation_ = 0;  // the last one walked
  bool archive_closed_ = false;
  std::vector<uint32_t> registrations_;
  // The last descriptor of each special slot's kind, as walked.
  std::string last_open_, last_close_, last_fiscalisation_;
};

bool Checker::Read(uint64_t offset, size_t n, std::string* bytes) {
  bytes->assign(n, '\0');
  return n == 0 || (file_->Seek(offset) && file_->Read(&(*bytes)[0], n) == n);
}

void Checker::Run() {
  file_ = env_->OpenFile(path_, "r");
  if (!file_ || !env_->FileSize(path_, &size_)) {
    Problem("cannot open " + path_);
    return;
  }
  CheckHead();
  std::string last;
  if (!Read(archive::kLastDocumentOffset, d::kSize, &last)) {
    Problem("cannot read the last-document slot");
    return;
  }
  const uint32_t n = util::GetFixed32(last, d::kDocumentNumberOffset);
  sum_.last_number = n;
  const bool empty = n == 0 && util::GetFixed16(last, d::kLengthOffset) == 0 &&
                     util::GetFixed16(last, d::kShiftNumberOffset) == 0 &&
                     util::GetFixed64(last, d::kDataOffsetOffset) == 0;
  if (n == 0 && !empty) Problem("last-document slot holds number 0 but is not empty");
  if (n > archive::kIndexSlots) {
    Problem("last-document slot names " + Doc(n) + ", past the index of " + Num(archive::kIndexSlots));
    return;
  }
  std::string index;
  if (!Read(archive::kIndexOffset, static_cast<size_t>(n) * d::kSize, &index)) {
    Problem("cannot read the index up to " + Doc(n));
    return;
  }
  if (n > 0 && index.substr((n - 1) * d::kSize) != last) {
    Problem("last-document slot differs from the descriptor of " + Doc(n));
  }
  bool complete = true;
  for (uint32_t i = 1; i <= n && complete; ++i) {
    complete = CheckDocument(i, index.substr((i - 1) * d::kSize, d::kSize));
  }
  // Sums of a walk that stopped early would only add noise.
  if (!complete) return;
  CompareTotals();
  CompareSlots();
}

void Checker::CheckHead() {
  std::string head, tail;
  if (!Read(archive::kMagicOffset, 8, &head) || !Read(archive::kSecondMagicOffset, 4, &tail)) {
    Problem("archive shorter than its head");
    return;
  }
  const std::string magic(reinterpret_cast<const char*>(archive::kMagic), 4);
  if (head.substr(0, 4) != magic) Problem("no magic at the start");
  if (tail != magic) Problem("no magic before the data blocks");
  if (util::GetFixed32(head, archive::kNumberOffset) == 0) Problem("archive number is 0");
}

// The data's CRC and the descriptor's; the size of the data the descriptor
// covers (a receipt's main data: the parts after it have no CRC).
size_t Checker::CheckSeals(uint32_t n, const StoredDocument& doc, const std::string& desc, const std::string& block,
                           const std::vector<Element>& elements) {
  size_t main = block.size();
  if (doc.type == doc::kReceipt) {
    for (const Element& e : elements) {
      if (IsReceiptPart(e.tag)) {
        main = e.offset;
        break;
      }
    }
  }
  if (util::Crc16(block.data(), main) != util::GetFixed16(desc, d::kDataCrcOffset)) {
    Problem(Doc(n) + " data CRC mismatch");
  }
  // The writer seals a receipt's descriptor while its length is still that
  // of the main data; one sealed over the final length is as good.
  std::string sealed = desc.substr(0, d::kCoveredByCrc);
  const uint16_t crc = util::GetFixed16(desc, d::kDescriptorCrcOffset);
  bool crc_ok = util::Crc16(sealed) == crc;
  if (!crc_ok && doc.type == doc::kReceipt) {
    std::string main_length;
    util::PutFixed16(&main_length, static_cast<uint16_t>(main));
    sealed.replace(d::kLengthOffset, 2, main_length);
    crc_ok = util::Crc16(sealed) == crc;
  }
  if (!crc_ok) Problem(Doc(n) + " descriptor CRC mismatch");
  return main;
}

// What the special slots and the later documents are checked against.
void Checker::Remember(uint8_t type, uint32_t n, const std::string& desc) {
  switch (type) {
    case doc::kFiscalisation:
      fiscalisation_ = n;
      registrations_.push_back(n);
      last_fiscalisation_ = desc;
      break;
    case doc::kShiftOpen: last_open_ = desc; break;
    case doc::kShiftClose: last_close_ = desc; break;
    case doc::kArchiveClose: archive_closed_ = true; break;
    default: break;
  }
}

bool Checker::CheckDocument(uint32_t n, const std::string& desc) {
  if (AllZero(desc)) {
    Problem("descriptor of " + Doc(n) + " is empty");
    return false;
  }
  StoredDocument doc;
  doc.number = util::GetFixed32(desc, d::kDocumentNumberOffset);
  doc.type = static_cast<uint8_t>(desc[d::kTypeOffset]);
  doc.time = util::GetFixed32(desc, d::kDateTimeOffset);
  doc.shift = util::GetFixed16(desc, d::kShiftNumberOffset);
  doc.fiscal_sign = util::GetFixed32(desc, d::kFiscalSignOffset);
  doc.cashier = static_cast<uint8_t>(desc[d::kCashierNumberOffset]);
  const uint16_t length = util::GetFixed16(desc, d::kLengthOffset);
  const uint64_t offset = util::GetFixed64(desc, d::kDataOffsetOffset);
  const uint32_t fiscalisation = util::GetFixed32(desc, d::kFiscalisationOffset);

  if (doc.number != n) Problem("descriptor " + Num(n) + " carries number " + Num(doc.number));
  if (!doc::isKnownType(doc.type)) {
    Problem(Doc(n) + " has unknown type " + Num(doc.type));
    return false;
  }
  if (offset != next_offset_) {
    Problem(Doc(n) + " data at " + Num(offset) + ", expected " + Num(next_offset_));
  }
  const size_t max = doc.type == doc::kReceipt ? archive::kMaxReceiptBlock : archive::kMaxDocumentBlock;
  if (length == 0 || length > max) Problem(Doc(n) + " data length " + Num(length));
  next_offset_ = offset + length;
  std::string block;
  if (length == 0 || offset + length > size_ || !Read(offset, length, &block)) {
    Problem(Doc(n) + " data block lies outside the file");
    return false;
  }
  if (static_cast<uint8_t>(block[0]) != doc.type) {
    Problem(Doc(n) + " data starts with type " + Num(static_cast<uint8_t>(block[0])));
  }
  std::vector<Element> elements;
  if (!Split(block, 1, &elements)) Problem(Doc(n) + " data does not divide into elements");
  for (const Element& e : elements) {
    if (e.tag == tag::kCashierName) {
      doc.cashier_name = e.value;
      break;
    }
  }

  const size_t main = CheckSeals(n, doc, desc, block, elements);

  const uint32_t expected_fiscalisation = doc.type == doc::kFiscalisation ? n : fiscalisation_;
  if (fiscalisation != expected_fiscalisation) {
    Problem(Doc(n) + " belongs to fiscalisation " + Num(fiscalisation) + ", expected " + Num(expected_fiscalisation));
  }
  CheckBase(doc, elements, fiscalisation);
  if (n > 1 && doc.time <= last_time_) {
    Problem(Doc(n) + " time " + Num(doc.time) + " not after the previous " + Num(last_time_));
  }
  last_time_ = doc.time;
  if (archive_closed_) Problem(Doc(n) + " stored after the archive close");
  CheckShiftRules(doc);
  CheckCarriedCounters(doc, elements);
  Book(&doc, elements, main);

  Remember(doc.type, n, desc);
  sum_.documents.push_back(doc);
  return true;
}

// Every document's data starts with the same five elements, which repeat
// its descriptor.
void Checker::CheckBase(const StoredDocument& doc, const std::vector<Element>& elements, uint32_t fiscalisation) {
  const uint16_t tags[] = {tag::kDocumentNumber, tag::kFiscalisationNumber, tag::kCashierName, tag::kDateTime,
                           tag::kFiscalSign};
  const uint32_t want[] = {doc.number, fiscalisation, 0, doc.time, doc.fiscal_sign};
  for (size_t i = 0; i < 5; ++i) {
    if (i >= elements.size() || elements[i].tag != tags[i]) {
      Problem(Doc(doc.number) + " data lacks element " + Num(tags[i]) + " in place " + Num(i + 1));
      return;
    }
    if (tags[i] == tag::kCashierName) continue;
    bool present = false;
    const uint32_t v = TlvElement(tags[i], elements[i].value).asU32(&present);
    if (!present || v != want[i]) {
      Problem(Doc(doc.number) + " element " + Num(tags[i]) + " is " + Num(v) + ", descriptor says " + Num(want[i]));
    }
  }
}

void Checker::CheckShiftRules(const StoredDocument& doc) {
  const std::string what = Doc(doc.number);
  switch (doc.type) {
    case doc::kShiftOpen:
      if (sum_.shift_open) Problem(what + " opens a shift while shift " + Num(sum_.shift_number) + " is open");
      if (doc.shift != sum_.shift_number + 1) {
        Problem(what + " opens shift " + Num(doc.shift) + " after shift " + Num(sum_.shift_number));
      }
      sum_.shift_number = doc.shift;
      sum_.shift_open = true;
      sum_.shift_open_document = doc.number;
      break;
    case doc::kShiftClose:
    case doc::kReceipt:
    case doc::kCashIn:
    case doc::kCashOut:
      if (!sum_.shift_open) Problem(what + " of type " + Num(doc.type) + " outside an open shift");
      if (doc.shift != sum_.shift_number) {
        Problem(what + " in shift " + Num(doc.shift) + ", the open shift is " + Num(sum_.shift_number));
      }
      if (doc.type == doc::kShiftClose) sum_.shift_open = false;
      break;
    default: break;
  }
}

// The Z report carries the shift record as it stood; the archive close the
// record since registration and the grand totals.
void Checker::CheckCarriedCounters(const StoredDocument& doc, const std::vector<Element>& elements) {
  for (const Element& e : elements) {
    TlvElement want;
    if (doc.type == doc::kShiftClose && e.tag == tag::kShiftCounters) {
      countersToTlv(&sum_.shift, true, &want);
    } else if (doc.type == doc::kArchiveClose && e.tag == tag::kRegistrationCounters) {
      countersToTlv(&sum_.since_registration, false, &want);
    } else if (doc.type == doc::kArchiveClose && e.tag == tag::kGrossCounters) {
      countersToTlv(&sum_.gross, &want);
    } else {
      continue;
    }
    if (want.value() != e.value) {
      Problem(Doc(doc.number) + " carries totals " + Num(e.tag) + " that differ from its documents");
    }
  }
}

bool Checker::ReadReceipt(const std::vector<Element>& elements, size_t main, StoredDocument* doc,
                          std::map<uint8_t, int64_t>* taxes, std::map<uint8_t, int64_t>* sections) {
  const std::string what = Doc(doc->number);
  bool have_type = false, have_total = false;
  for (const Element& e : elements) {
    const TlvElement t(e.tag, e.value);
    bool ok = true;
    if (e.offset < main) {
      switch (e.tag) {
        case tag::kReceiptTotal:
          doc->total = t.asVln(&ok);
          have_total = ok;
          break;
        case tag::kCashAmount: doc->cash = t.asVln(&ok); break;
        case tag::kCashlessAmount: doc->cashless = t.asVln(&ok); break;
        case tag::kReceiptNumber: doc->receipt_number = t.asU16(&ok); break;
        case tag::kReceiptType:
          doc->receipt_type = t.asByte(&ok);
          have_type = ok;
          break;
        default: break;
      }
      if (!ok) Problem(what + " element " + Num(e.tag) + " of a wrong length");
      continue;
    }
    if (e.tag >= tag::kTaxRateFirst && e.tag < tag::kTaxRateFirst + 5) {
      const uint8_t number = static_cast<uint8_t>(e.tag - tag::kTaxRateFirst + 1);
      for (const TlvElement& item : t.asList()) {
        if (item.tag() == tag::kTaxAmount && item.value().size() == 8) {
          (*taxes)[number] = static_cast<int64_t>(util::GetFixed64(item.value(), 0));
        }
      }
    } else if (e.tag == tag::kReceiptLine) {
      ++doc->lines;
      bool have_section = false, have_amount = false;
      uint8_t section = 0;
      int64_t amount = 0;
      for (const TlvElement& item : t.asList()) {
        if (item.tag() == tag::kSectionNumber) section = item.asByte(&have_section);
        if (item.tag() == tag::kLineAmount) amount = item.asVln(&have_amount);
      }
      if (!have_section || !have_amount) {
        Problem(what + " line " + Num(doc->lines) + " lacks its section or amount");
      } else {
        (*sections)[section] = Add((*sections)[section], amount);
      }
      doc->line_amounts.push_back(amount);
    } else if (e.tag != tag::kSection) {
      Problem(what + " holds element " + Num(e.tag) + " after its main data");
    }
  }
  if (!have_type || !have_total) Problem(what + " lacks its receipt type or total");
  if (doc->lines == 0) Problem(what + " has no lines");
  return have_type && have_total;
}

void Checker::Book(StoredDocument* doc, const std::vector<Element>& elements, size_t main) {
  switch (doc->type) {
    case doc::kFiscalisation: sum_.since_registration = ShiftCounters(); break;
    case doc::kShiftOpen: {
      sum_.shift = ShiftCounters();
      sum_.shift.setShiftNumber(doc->shift);
      sum_.since_registration.setShiftNumber(static_cast<uint16_t>(sum_.since_registration.shiftNumber() + 1));
      sum_.gross.setShiftNumber(doc->shift);
      sum_.sections = SectionTotals();
      break;
    }
    case doc::kCashIn:
    case doc::kCashOut: {
      bool have = false;
      for (const Element& e : elements) {
        if (e.tag == tag::kCashAmount) doc->amount = TlvElement(e.tag, e.value).asVln(&have);
      }
      if (!have) {
        Problem(Doc(doc->number) + " has no amount");
        break;
      }
      BookCash(doc->type == doc::kCashIn, doc->amount);
      break;
    }
    case doc::kReceipt: {
      std::map<uint8_t, int64_t> taxes, sections;
      if (!ReadReceipt(elements, main, doc, &taxes, &sections)) break;
      if (doc->receipt_number != static_cast<uint16_t>(sum_.shift.receiptCount() + 1)) {
        Problem(Doc(doc->number) + " is receipt " + Num(doc->receipt_number) + " of its shift, expected " +
                Num(static_cast<uint16_t>(sum_.shift.receiptCount() + 1)));
      }
      if (doc->receipt_type > counters::kPurchaseReturn) {
        Problem(Doc(doc->number) + " has receipt type " + Num(doc->receipt_type));
        break;
      }
      BookReceipt(*doc, taxes, sections);
      break;
    }
    default: break;
  }
}

void Checker::BookCash(bool cash_in, int64_t amount) {
  // A cash out above the drawer books the drawer, and the next record books
  // what the previous one did.
  for (ShiftCounters* c : {&sum_.shift, &sum_.since_registration}) {
    if (cash_in) {
      c->setCashInCount(static_cast<uint16_t>(c->cashInCount() + 1));
      c->setCashInSum(Add(c->cashInSum(), amount));
      c->setCashInDrawer(Add(c->cashInDrawer(), amount));
    } else {
      c->setCashOutCount(static_cast<uint16_t>(c->cashOutCount() + 1));
      if (amount > c->cashInDrawer()) amount = c->cashInDrawer();
      c->setCashOutSum(Add(c->cashOutSum(), amount));
      c->setCashInDrawer(Add(c->cashInDrawer(), -amount));
    }
  }
  GrossCounters& g = sum_.gross;
  if (cash_in) {
    g.setCashInCount(static_cast<uint16_t>(g.cashInCount() + 1));
    g.setCashInSum(Add(g.cashInSum(), amount));
  } else {
    g.setCashOutCount(static_cast<uint16_t>(g.cashOutCount() + 1));
    g.setCashOutSum(Add(g.cashOutSum(), amount));
  }
}

void Checker::BookReceipt(const StoredDocument& doc, const std::map<uint8_t, int64_t>& taxes,
                          const std::map<uint8_t, int64_t>& sections) {
  const uint8_t k = doc.receipt_type;
  const bool incoming = k == counters::kSale || k == counters::kSaleReturn;
  for (ShiftCounters* c : {&sum_.shift, &sum_.since_registration}) {
    c->setReceiptCount(c->receiptCount() + 1);
    const int64_t drawer = c->cashInDrawer();
    c->setCashInDrawer(incoming ? Add(drawer, doc.cash) : Add(drawer, -(doc.cash < drawer ? doc.cash : drawer)));
    OperationCounters b = c->block(k);
    b.setReceiptCount(b.receiptCount() + 1);
    b.setTotal(Add(b.total(), doc.total));
    b.setCash(Add(b.cash(), doc.cash));
    b.setCashless(Add(b.cashless(), doc.cashless));
    for (const auto& tax : taxes) {
      if (tax.first >= 1 && tax.first <= 5) b.setTax(tax.first - 1, Add(b.tax(tax.first - 1), tax.second));
    }
    c->setBlock(k, b);
  }
  GrossCounters& g = sum_.gross;
  g.setReceiptCount(g.receiptCount() + 1);
  OperationCounters b = g.block(k);
  b.setReceiptCount(b.receiptCount() + 1);
  b.setTotal(Add(b.total(), doc.total));
  b.setCash(Add(b.cash(), doc.cash));
  b.setCashless(Add(b.cashless(), doc.cashless));
  g.setBlock(k, b);
  for (const auto& s : sections) {
    if (s.first >= 1 && s.first <= counters::kSectionCount) {
      sum_.sections.setAmount(k, s.first - 1, Add(sum_.sections.amount(k, s.first - 1), s.second));
    }
  }
}

void Checker::CompareRecord(const std::string& name, const std::string& stored, const std::string& computed,
                            bool gross) {
  if (stored == computed) return;
  for (const Field& f : RecordFields(gross)) {
    const std::string a = FieldText(stored, f), b = FieldText(computed, f);
    if (a != b) Problem(name + " " + f.name + " is " + a + " in the archive, the documents give " + b);
  }
}

void Checker::CompareTotals() {
  std::string image;
  ShiftCounters shift;
  if (Read(archive::kShiftCountersOffset, counters::kShiftSize, &image) && shift.fromStored(image)) {
    CompareRecord("shift totals:", shift.image(), sum_.shift.image(), false);
  } else {
    Problem("cannot read the shift totals");
  }
  ShiftCounters since;
  if (Read(archive::kRegistrationCountersOffset, counters::kShiftSize, &image) && since.fromStored(image)) {
    CompareRecord("totals since registration:", since.image(), sum_.since_registration.image(), false);
  } else {
    Problem("cannot read the totals since registration");
  }
  GrossCounters gross;
  if (Read(archive::kGrossCountersOffset, counters::kGrossSize, &image) && gross.fromStored(image)) {
    CompareRecord("grand totals:", gross.image(), sum_.gross.image(), true);
  } else {
    Problem("cannot read the grand totals");
  }
  SectionTotals sections;
  if (Read(archive::kSectionTotalsOffset, counters::kSectionTotalsSize, &image) && sections.parse(image)) {
    for (size_t k = 0; k < counters::kTypeCount; ++k) {
      for (size_t s = 0; s < counters::kSectionCount; ++s) {
        if (sections.amount(k, s) != sum_.sections.amount(k, s)) {
          Problem("section totals: type " + Num(k) + " section " + Num(s + 1) + " is " +
                  std::to_string(sections.amount(k, s)) + " in the archive, the documents give " +
                  std::to_string(sum_.sections.amount(k, s)));
        }
      }
    }
  } else {
    Problem("cannot read the section totals");
  }
}

void Checker::CompareSlots() {
  const std::string none(d::kSize, '\0');
  const struct {
    const char* name;
    uint64_t offset;
    const std::string& want;
  } slots[] = {{"last shift open", archive::kLastShiftOpenOffset, last_open_},
               {"last shift close", archive::kLastShiftCloseOffset, last_close_},
               {"last fiscalisation", archive::kLastFiscalisationOffset, last_fiscalisation_}};
  for (const auto& slot : slots) {
    std::string bytes;
    if (!Read(slot.offset, d::kSize, &bytes)) {
      Problem(std::string("cannot read the ") + slot.name + " slot");
    } else if (bytes != (slot.want.empty() ? none : slot.want)) {
      Problem(std::string(slot.name) + " slot holds " + Doc(util::GetFixed32(bytes, d::kDocumentNumberOffset)) +
              ", the index gives " +
              (slot.want.empty() ? std::string("none") : Doc(util::GetFixed32(slot.want, d::kDocumentNumberOffset))));
    }
  }
  std::string count, list;
  if (!Read(archive::kRegistrationCountOffset, 1, &count) ||
      !Read(archive::kRegistrationListOffset, 4 * archive::kRegistrationListSize, &list)) {
    Problem("cannot read the registration list");
    return;
  }
  const size_t stored = static_cast<uint8_t>(count[0]);
  if (stored != registrations_.size()) {
    Problem("registration count is " + Num(stored) + ", the index holds " + Num(registrations_.size()));
  }
  for (size_t i = 0; i < registrations_.size() && i < archive::kRegistrationListSize; ++i) {
    if (util::GetFixed32(list, 4 * i) != registrations_[i]) {
      Problem("registration " + Num(i + 1) + " is " + Doc(util::GetFixed32(list, 4 * i)) + ", the index gives " +
              Doc(registrations_[i]));
    }
  }
}

}  // namespace

std::string ArchiveCheck::Text() const {
  std::string text;
  for (const std::string& p : problems) text += p + "\n";
  return text;
}

ArchiveCheck CheckArchive(platform::Env* env, const std::string& path) {
  ArchiveCheck result;
  Checker(env, path, &result).Run();
  return result;
}

}  // namespace sim
