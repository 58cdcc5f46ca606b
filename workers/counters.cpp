#include "workers/counters.h"

#include <cstring>
#include <vector>

#include "documents/decimal.h"
#include "documents/tlv_tags.h"
#include "printer/print_layout.h"
#include "printer/render.h"
#include "storage/tables.h"
#include "storage/tax_rate.h"
#include "util/coding.h"
#include "util/cp866.h"

namespace {

// Reader numbers in the unknown-tag text: they tell the readers apart in the log.
constexpr int kBlockReader = 291;
constexpr int kGrossBlockReader = 351;
constexpr int kShiftReader = 81;
constexpr int kGrossReader = 105;

int64_t GetAmount(const uint8_t* p) { return static_cast<int64_t>(util::DecodeFixed64(p)); }
void PutAmount(uint8_t* p, int64_t v) { util::EncodeFixed64(p, static_cast<uint64_t>(v)); }

std::string Image(const uint8_t* p, size_t n) {
  return std::string(reinterpret_cast<const char*>(p), n);
}

// Every diagnostic of this file leaves here, without a line end.
void Diagnostic(platform::Env* env, const std::string& text) {
  if (env != nullptr) env->WriteText(text);
}

void ReportUnknown(platform::Env* env, int reader, uint16_t t) {
  Diagnostic(env, "tlvToCounters " + std::to_string(reader) + " UNKNOWN TAG " + std::to_string(t));
}

// The type of a block tag, or -1.
int TypeOfTag(uint16_t t) {
  for (size_t i = 0; i < counters::kTypeCount; ++i) {
    if (counters::kBlockTags[i] == t) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

// ---- OperationCounters ----

OperationCounters::OperationCounters(bool with_taxes)
    : size_(with_taxes ? counters::kOperationSize : counters::kGrossOperationSize) {
  memset(bytes_, 0, sizeof(bytes_));
}

bool OperationCounters::parse(const std::string& image) {
  if (image.size() != counters::kOperationSize && image.size() != counters::kGrossOperationSize) {
    return false;
  }
  memset(bytes_, 0, sizeof(bytes_));
  memcpy(bytes_, image.data(), image.size());
  size_ = image.size();
  return true;
}

std::string OperationCounters::image() const { return Image(bytes_, size_); }

uint16_t OperationCounters::blockTag() const {
  return type() < counters::kTypeCount ? counters::kBlockTags[type()] : 0;
}

uint32_t OperationCounters::receiptCount() const {
  return util::DecodeFixed32(bytes_ + counters::kOpReceiptCountOffset);
}

void OperationCounters::setReceiptCount(uint32_t n) {
  util::EncodeFixed32(bytes_ + counters::kOpReceiptCountOffset, n);
}

int64_t OperationCounters::reserved(size_t k) const {
  return k < counters::kReservedCount
             ? amount(counters::kOpReservedOffset + k * counters::kAmountSize)
             : 0;
}

void OperationCounters::setReserved(size_t k, int64_t v) {
  if (k < counters::kReservedCount) {
    setAmount(counters::kOpReservedOffset + k * counters::kAmountSize, v);
  }
}

int64_t OperationCounters::tax(size_t index) const {
  if (!hasTaxes() || index >= counters::kTaxCount) return 0;
  return amount(counters::kOpTaxOffset + index * counters::kAmountSize);
}

void OperationCounters::setTax(size_t index, int64_t v) {
  if (hasTaxes() && index < counters::kTaxCount) {
    setAmount(counters::kOpTaxOffset + index * counters::kAmountSize, v);
  }
}

int64_t OperationCounters::amount(size_t offset) const { return GetAmount(bytes_ + offset); }
void OperationCounters::setAmount(size_t offset, int64_t v) { PutAmount(bytes_ + offset, v); }

// ---- ShiftCounters and GrossCounters ----

namespace counters {

template <size_t kSize, size_t kBlockSize, size_t kBlocksOffset>
TotalsRecord<kSize, kBlockSize, kBlocksOffset>::TotalsRecord() {
  memset(bytes_, 0, sizeof(bytes_));
  stampTypes();
}

template <size_t kSize, size_t kBlockSize, size_t kBlocksOffset>
bool TotalsRecord<kSize, kBlockSize, kBlocksOffset>::fromStored(const std::string& image) {
  if (image.size() != kSize) return false;
  memcpy(bytes_, image.data(), kSize);
  // Storage may hold anything there; the block index is the type.
  stampTypes();
  return true;
}

template <size_t kSize, size_t kBlockSize, size_t kBlocksOffset>
void TotalsRecord<kSize, kBlockSize, kBlocksOffset>::stampTypes() {
  for (size_t i = 0; i < kTypeCount; ++i) {
    bytes_[kBlocksOffset + i * kBlockSize + kOpTypeOffset] = static_cast<uint8_t>(i);
  }
}

template <size_t kSize, size_t kBlockSize, size_t kBlocksOffset>
std::string TotalsRecord<kSize, kBlockSize, kBlocksOffset>::image() const {
  return Image(bytes_, kSize);
}

template <size_t kSize, size_t kBlockSize, size_t kBlocksOffset>
OperationCounters TotalsRecord<kSize, kBlockSize, kBlocksOffset>::block(size_t type) const {
  OperationCounters b(kBlockSize == kOperationSize);
  if (type < kTypeCount) b.parse(Image(bytes_ + kBlocksOffset + type * kBlockSize, kBlockSize));
  return b;
}

template <size_t kSize, size_t kBlockSize, size_t kBlocksOffset>
void TotalsRecord<kSize, kBlockSize, kBlocksOffset>::setBlock(size_t type,
                                                              const OperationCounters& b) {
  if (type >= kTypeCount) return;
  // A 53-byte block in a 93-byte place leaves tax sums of 0 (image pads with 0).
  std::string image = b.image();
  image.resize(kBlockSize, '\0');
  uint8_t* place = bytes_ + kBlocksOffset + type * kBlockSize;
  memcpy(place, image.data(), kBlockSize);
  place[kOpTypeOffset] = static_cast<uint8_t>(type);
}

template class TotalsRecord<kShiftSize, kOperationSize, kShiftBlocksOffset>;
template class TotalsRecord<kGrossSize, kGrossOperationSize, kGrossBlocksOffset>;

}  // namespace counters

// ---- SectionTotals ----

SectionTotals::SectionTotals() { memset(bytes_, 0, sizeof(bytes_)); }

bool SectionTotals::parse(const std::string& image) {
  if (image.size() != sizeof(bytes_)) return false;
  memcpy(bytes_, image.data(), sizeof(bytes_));
  return true;
}

std::string SectionTotals::image() const { return Image(bytes_, sizeof(bytes_)); }

int64_t SectionTotals::amount(size_t type, size_t section) const {
  if (type >= counters::kTypeCount || section >= counters::kSectionCount) return 0;
  return GetAmount(bytes_ + type * counters::kSectionTableSize + section * counters::kAmountSize);
}

void SectionTotals::setAmount(size_t type, size_t section, int64_t v) {
  if (type >= counters::kTypeCount || section >= counters::kSectionCount) return;
  PutAmount(bytes_ + type * counters::kSectionTableSize + section * counters::kAmountSize, v);
}

// ---- TLV ----

namespace {

TlvElement BlockTlv(const OperationCounters& b, uint16_t block_tag) {
  std::vector<TlvElement> list{TlvElement::fromU32(tag::kReceiptCount, b.receiptCount())};
  // A block without receipts carries its count alone, whatever its sums say.
  if (b.receiptCount() != 0) {
    list.push_back(TlvElement::fromVln(tag::kTotalAmount, b.total()));
    if (b.cash() != 0) list.push_back(TlvElement::fromVln(tag::kCashSum, b.cash()));
    if (b.cashless() != 0) list.push_back(TlvElement::fromVln(tag::kCashlessSum, b.cashless()));
    for (size_t i = 0; i < counters::kTaxCount; ++i) {
      if (b.tax(i) != 0) {
        list.push_back(TlvElement::fromVln(static_cast<uint16_t>(tag::kTaxSumFirst + i), b.tax(i)));
      }
    }
  }
  return TlvElement::fromList(block_tag, list);
}

template <class Record>
std::vector<TlvElement> HeadTlv(const Record& c) {
  return {TlvElement::fromU16(tag::kShiftNumber, c.shiftNumber()),
          TlvElement::fromU16(tag::kCashInCount, c.cashInCount()),
          TlvElement::fromU16(tag::kCashOutCount, c.cashOutCount()),
          TlvElement::fromVln(tag::kCashInSum, c.cashInSum()),
          TlvElement::fromVln(tag::kCashOutSum, c.cashOutSum()),
          TlvElement::fromU32(tag::kReceiptCount, c.receiptCount())};
}

template <class Record>
void AppendBlocks(const Record& c, std::vector<TlvElement>* list) {
  for (size_t i = 0; i < counters::kTypeCount; ++i) {
    // The record keeps each block's type equal to its index (setBlock, fromStored).
    list->push_back(BlockTlv(c.block(i), counters::kBlockTags[i]));
  }
}

bool ReadBlock(platform::Env* env, const TlvElement& e, OperationCounters* out) {
  const int type = TypeOfTag(e.tag());
  if (type < 0) return false;
  out->setType(static_cast<uint8_t>(type));
  for (const TlvElement& c : e.asList()) {
    const uint16_t t = c.tag();
    if (t == tag::kReceiptCount) {
      out->setReceiptCount(c.asU32());
    } else if (t == tag::kTotalAmount) {
      out->setTotal(c.asVln());
    } else if (t == tag::kCashSum) {
      out->setCash(c.asVln());
    } else if (t == tag::kCashlessSum) {
      out->setCashless(c.asVln());
    } else if (out->hasTaxes() && t >= tag::kTaxSumFirst &&
               t < tag::kTaxSumFirst + counters::kTaxCount) {
      out->setTax(t - tag::kTaxSumFirst, c.asVln());
    } else {
      ReportUnknown(env, out->hasTaxes() ? kBlockReader : kGrossBlockReader, t);
    }
  }
  return true;
}

// Stores one child of a ShiftCounters or GrossCounters element when it is a
// field of the shared head or a block; false when it is neither.
template <class Record>
bool ReadHeadOrBlock(platform::Env* env, const TlvElement& c, Record* out) {
  switch (c.tag()) {
    case tag::kShiftNumber: out->setShiftNumber(c.asU16()); return true;
    case tag::kCashInCount: out->setCashInCount(c.asU16()); return true;
    case tag::kCashOutCount: out->setCashOutCount(c.asU16()); return true;
    case tag::kCashInSum: out->setCashInSum(c.asVln()); return true;
    case tag::kCashOutSum: out->setCashOutSum(c.asVln()); return true;
    case tag::kReceiptCount: out->setReceiptCount(c.asU32()); return true;
    default: break;
  }
  const int type = TypeOfTag(c.tag());
  if (type < 0) return false;
  OperationCounters b = out->block(static_cast<size_t>(type));
  ReadBlock(env, c, &b);
  out->setBlock(static_cast<size_t>(type), b);
  return true;
}

}  // namespace

bool countersToTlv(const ShiftCounters* c, bool current_shift, TlvElement* out) {
  if (c == nullptr || out == nullptr) return false;
  std::vector<TlvElement> list = HeadTlv(*c);
  list.push_back(TlvElement::fromVln(tag::kCashSum, c->cashInDrawer()));
  AppendBlocks(*c, &list);
  *out =
      TlvElement::fromList(current_shift ? tag::kShiftCounters : tag::kRegistrationCounters, list);
  return true;
}

bool countersToTlv(const GrossCounters* c, TlvElement* out) {
  if (c == nullptr || out == nullptr) return false;
  std::vector<TlvElement> list = HeadTlv(*c);
  AppendBlocks(*c, &list);
  *out = TlvElement::fromList(tag::kGrossCounters, list);
  return true;
}

bool countersToTlv(const OperationCounters* c, TlvElement* out) {
  if (c == nullptr || out == nullptr || c->blockTag() == 0) return false;
  *out = BlockTlv(*c, c->blockTag());
  return true;
}

bool tlvToCounters(platform::Env* env, const TlvElement& e, ShiftCounters* out) {
  if (out == nullptr) return false;
  for (const TlvElement& c : e.asList()) {
    if (c.tag() == tag::kCashSum) {
      out->setCashInDrawer(c.asVln());
    } else if (!ReadHeadOrBlock(env, c, out)) {
      ReportUnknown(env, kShiftReader, c.tag());
    }
  }
  return true;
}

bool tlvToCounters(platform::Env* env, const TlvElement& e, GrossCounters* out) {
  if (out == nullptr) return false;
  // No cash in drawer here: 11136 is unknown to this reader.
  for (const TlvElement& c : e.asList()) {
    if (!ReadHeadOrBlock(env, c, out)) ReportUnknown(env, kGrossReader, c.tag());
  }
  return true;
}

bool tlvToCounters(platform::Env* env, const TlvElement& e, OperationCounters* out) {
  return out != nullptr && ReadBlock(env, e, out);
}

// ---- Print blocks ----

namespace {

const char* const kOperationLabels[counters::kTypeCount] = {"ПРОДАЖ", "ПОКУПОК", "ВОЗВРАТОВ ПРОДАЖ",
                                                            "ВОЗВРАТОВ ПОКУПОК"};

std::string Cp(const char* utf8) { return util::Utf8ToCp866(utf8); }
std::string Money(int64_t v) { return Decimal(Decimal::kMoneyScale, v).toString(); }

PrintItem Title(const char* utf8) {
  PrintStyle style;
  style.set(PrintStyle::kCentre);
  style.setFont(1);
  return PrintItem{PrintBlock::fromText(style, Cp(utf8)), false};
}

PrintBlock LinesBlock() {
  PrintStyle style;
  style.set(PrintStyle::kMarker);
  style.setFont(1);
  return PrintBlock(style);
}

template <class Record>
void AddHeadLines(const Record& c, PrintBlock* block) {
  block->addText(Cp("ВНЕСЕНИЙ ") + std::to_string(c.cashInCount()) + Cp("\tНА ") +
                 Money(c.cashInSum()));
  block->addText(Cp("ВЫПЛАТ ") + std::to_string(c.cashOutCount()) + Cp("\tНА ") +
                 Money(c.cashOutSum()));
  block->addText(Cp("ВСЕГО ЧЕКОВ\t") + std::to_string(c.receiptCount()));
}

std::string TaxLine(const RegData& reg, size_t index, int64_t sum) {
  if (sum <= 0) return std::string();
  TaxRate rate;
  const bool named = rate.parse(reg.taxRateImage(index)) && rate.isValid();
  return (named ? rate.name() : Cp("НАЛОГ ") + std::to_string(index + 1)) + "\t" + Money(sum);
}

// Tax lines only when `reg` is given (the shift blocks).
PrintItem OperationItem(const OperationCounters& b, size_t type, const RegData* reg) {
  PrintBlock block = LinesBlock();
  block.addText(Cp(kOperationLabels[type]) + " " + std::to_string(b.receiptCount()) + Cp("\tНА ") +
                Money(b.total()));
  if (b.receiptCount() != 0) {
    block.addText(Cp("НАЛИЧНЫМИ\t") + Money(b.cash()));
    block.addText(Cp("БЕЗНАЛИЧНЫМИ\t") + Money(b.cashless()));
    for (size_t i = 0; reg != nullptr && i < counters::kTaxCount; ++i) {
      block.addText(TaxLine(*reg, i, b.tax(i)));
    }
  }
  return PrintItem{block, false};
}

}  // namespace

std::string shiftTotalsText(bool current_shift, const ShiftCounters* c, const RegData& reg) {
  if (c == nullptr) return std::string();
  PrintData data{Title(current_shift ? "ИТОГИ СМЕНЫ" : "ИТОГО С ПОСЛЕДНЕЙ РЕГИСТРАЦИИ")};
  PrintBlock head = LinesBlock();
  if (!current_shift) head.addText(Cp("СМЕН\t") + std::to_string(c->shiftNumber()));
  AddHeadLines(*c, &head);
  if (current_shift) head.addText(Cp("НАЛ. В КАССЕ\t") + Money(c->cashInDrawer()));
  data.push_back(PrintItem{head, false});
  for (size_t i = 0; i < counters::kTypeCount; ++i) {
    data.push_back(OperationItem(c->block(i), i, &reg));
  }
  return printer::render(data);
}

std::string grossTotalsText(const GrossCounters* c) {
  if (c == nullptr) return std::string();
  PrintData data{Title("ГРОСС ИТОГИ")};
  PrintBlock head = LinesBlock();
  head.addText(Cp("СМЕН\t") + std::to_string(c->shiftNumber()));
  AddHeadLines(*c, &head);
  data.push_back(PrintItem{head, false});
  for (size_t i = 0; i < counters::kTypeCount; ++i) {
    data.push_back(OperationItem(c->block(i), i, nullptr));
  }
  return printer::render(data);
}

std::string sectionTotalsText(const SectionTotals* t, size_t table_count) {
  if (t == nullptr || table_count != counters::kTypeCount) return std::string();
  PrintBlock block = LinesBlock();
  for (size_t s = 0; s < counters::kSectionCount; ++s) {
    // Summed unsigned: stored amounts may be anything, and wrap-around is defined.
    uint64_t sum = 0;
    for (size_t type = 0; type < counters::kTypeCount; ++type) {
      sum += static_cast<uint64_t>(t->amount(type, s));
    }
    if (sum == 0) continue;
    Section section;
    const std::string name =
        tables::getSection(static_cast<uint8_t>(s + 1), &section) ? section.name : "";
    block.addText(Cp("ОТДЕЛ ") + std::to_string(s + 1) + "\t" + name);
    for (size_t type = 0; type < counters::kTypeCount; ++type) {
      block.addText(Cp(kOperationLabels[type]) + Cp(" НА\t") + Money(t->amount(type, s)));
    }
  }
  return printer::render(PrintData{Title("ИТОГИ ПО ОТДЕЛАМ"), PrintItem{block, false}});
}

namespace {

int64_t AddWrapped(int64_t a, int64_t b) {
  return static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b));
}

}  // namespace

void AddShiftToRange(const ShiftCounters& s, GrossCounters* sum) {
  sum->setShiftNumber(static_cast<uint16_t>(sum->shiftNumber() + 1));
  sum->setReceiptCount(sum->receiptCount() + s.receiptCount());
  sum->setCashInCount(static_cast<uint16_t>(sum->cashInCount() + s.cashInCount()));
  sum->setCashInSum(AddWrapped(sum->cashInSum(), s.cashInSum()));
  sum->setCashOutCount(static_cast<uint16_t>(sum->cashOutCount() + s.cashOutCount()));
  sum->setCashOutSum(AddWrapped(sum->cashOutSum(), s.cashOutSum()));
  for (size_t type = 0; type < counters::kTypeCount; ++type) {
    const OperationCounters from = s.block(type);
    OperationCounters to = sum->block(type);
    to.setType(static_cast<uint8_t>(type));
    to.setReceiptCount(to.receiptCount() + from.receiptCount());
    to.setTotal(AddWrapped(to.total(), from.total()));
    to.setCash(AddWrapped(to.cash(), from.cash()));
    to.setCashless(AddWrapped(to.cashless(), from.cashless()));
    for (size_t k = 0; k < 3; ++k) to.setReserved(k, AddWrapped(to.reserved(k), from.reserved(k)));
    sum->setBlock(type, to);
  }
}
