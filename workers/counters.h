// The totals records (layouts in workers/counters_format.h), their TLV form
// in documents and their print blocks on reports.
#ifndef FR_WORKERS_COUNTERS_H_
#define FR_WORKERS_COUNTERS_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "documents/tlv_element.h"
#include "platform/env.h"
#include "storage/reg_data.h"
#include "util/coding.h"
#include "workers/counters_format.h"

// The totals of one operation type, a copy of one block of a record.
class OperationCounters {
 public:
  // All zero, type 0; the 93-byte form with tax sums or the 53-byte one.
  explicit OperationCounters(bool with_taxes = true);

  // A block image; its size (93 or 53) decides the form. False, leaving the
  // block unchanged, for any other size.
  bool parse(const std::string& image);
  std::string image() const;
  size_t size() const { return size_; }
  bool hasTaxes() const { return size_ == counters::kOperationSize; }

  uint8_t type() const { return bytes_[counters::kOpTypeOffset]; }
  void setType(uint8_t type) { bytes_[counters::kOpTypeOffset] = type; }
  // The block tag of the type; 0 for a type above 3.
  uint16_t blockTag() const;
  uint32_t receiptCount() const;
  void setReceiptCount(uint32_t n);
  int64_t total() const { return amount(counters::kOpTotalOffset); }
  void setTotal(int64_t v) { setAmount(counters::kOpTotalOffset, v); }
  int64_t cash() const { return amount(counters::kOpCashOffset); }
  void setCash(int64_t v) { setAmount(counters::kOpCashOffset, v); }
  int64_t cashless() const { return amount(counters::kOpCashlessOffset); }
  void setCashless(int64_t v) { setAmount(counters::kOpCashlessOffset, v); }
  // Reserved sum k (0..2); another k reads 0 and writes nothing.
  int64_t reserved(size_t k) const;
  void setReserved(size_t k, int64_t v);
  // Tax sum of rate index 0..4 (rates 1 to 5 on paper); another index, or a
  // block without tax sums, reads 0 and writes nothing.
  int64_t tax(size_t index) const;
  void setTax(size_t index, int64_t v);

 private:
  int64_t amount(size_t offset) const;
  void setAmount(size_t offset, int64_t v);

  // Bytes past size_ stay 0, so a short block copies into a long place with
  // its tax sums zero.
  uint8_t bytes_[counters::kOperationSize];
  size_t size_;
};

namespace counters {

// The part ShiftCounters and GrossCounters share; instantiated for those two.
template <size_t kSize, size_t kBlockSize, size_t kBlocksOffset>
class TotalsRecord {
 public:
  // All zero, block types 0..3.
  TotalsRecord();
  // A record as storage holds it, its block types set to 0..3 again. False,
  // leaving the record unchanged, when the image is not kSize bytes.
  bool fromStored(const std::string& image);
  std::string image() const;

  uint16_t shiftNumber() const { return util::DecodeFixed16(bytes_ + kShiftNumberOffset); }
  void setShiftNumber(uint16_t n) { util::EncodeFixed16(bytes_ + kShiftNumberOffset, n); }
  uint16_t cashInCount() const { return util::DecodeFixed16(bytes_ + kCashInCountOffset); }
  void setCashInCount(uint16_t n) { util::EncodeFixed16(bytes_ + kCashInCountOffset, n); }
  uint16_t cashOutCount() const { return util::DecodeFixed16(bytes_ + kCashOutCountOffset); }
  void setCashOutCount(uint16_t n) { util::EncodeFixed16(bytes_ + kCashOutCountOffset, n); }
  int64_t cashInSum() const { return amount(kCashInSumOffset); }
  void setCashInSum(int64_t v) { setAmount(kCashInSumOffset, v); }
  int64_t cashOutSum() const { return amount(kCashOutSumOffset); }
  void setCashOutSum(int64_t v) { setAmount(kCashOutSumOffset, v); }
  uint32_t receiptCount() const { return util::DecodeFixed32(bytes_ + kReceiptCountOffset); }
  void setReceiptCount(uint32_t n) { util::EncodeFixed32(bytes_ + kReceiptCountOffset, n); }

  // Type 0..3; another type gives a zero block and writes nothing. A block
  // put in place takes that place's type, whatever its own type byte says.
  OperationCounters block(size_t type) const;
  void setBlock(size_t type, const OperationCounters& b);

 protected:
  void stampTypes();  // block i gets type i
  int64_t amount(size_t offset) const {
    return static_cast<int64_t>(util::DecodeFixed64(bytes_ + offset));
  }
  void setAmount(size_t offset, int64_t v) {
    util::EncodeFixed64(bytes_ + offset, static_cast<uint64_t>(v));
  }

  uint8_t bytes_[kSize];
};

}  // namespace counters

// The current shift's counters, or those since the last registration (then
// shiftNumber() is the number of shifts).
class ShiftCounters : public counters::TotalsRecord<counters::kShiftSize, counters::kOperationSize,
                                                    counters::kShiftBlocksOffset> {
 public:
  int64_t cashInDrawer() const { return amount(counters::kCashInDrawerOffset); }
  void setCashInDrawer(int64_t v) { setAmount(counters::kCashInDrawerOffset, v); }
};

// Totals over the register's life, blocks without tax sums. shiftNumber() is
// the last opened shift (stored record) or the number of shifts (range sums).
class GrossCounters
    : public counters::TotalsRecord<counters::kGrossSize, counters::kGrossOperationSize,
                                    counters::kGrossBlocksOffset> {};

// Sales totals by section: one table of 20 amounts per operation type.
class SectionTotals {
 public:
  SectionTotals();
  // False, leaving the record unchanged, unless the image is 640 bytes.
  bool parse(const std::string& image);
  std::string image() const;
  // Type 0..3, section index 0..19 (section number - 1); out of range reads
  // 0 and writes nothing.
  int64_t amount(size_t type, size_t section) const;
  void setAmount(size_t type, size_t section, int64_t v);

 private:
  uint8_t bytes_[counters::kSectionTotalsSize];
};

// Counters to TLV: a ShiftCounters as 11194 (current shift) or 11158 (since
// registration), a GrossCounters as 11157, a block as its type's tag. False
// for a null record or target, and for a block whose type is above 3.
bool countersToTlv(const ShiftCounters* c, bool current_shift, TlvElement* out);
bool countersToTlv(const GrossCounters* c, TlvElement* out);
bool countersToTlv(const OperationCounters* c, TlvElement* out);

// TLV to counters: the children are stored by tag into *out; fields whose
// tag is absent keep their values. Unknown child tags are skipped and
// reported through `env` (may be null). False for a null target; the block
// reader also for an element whose tag is not a block tag, and otherwise it
// sets the block's type from that tag.
bool tlvToCounters(platform::Env* env, const TlvElement& e, ShiftCounters* out);
bool tlvToCounters(platform::Env* env, const TlvElement& e, GrossCounters* out);
bool tlvToCounters(platform::Env* env, const TlvElement& e, OperationCounters* out);

// Printer text of the report blocks; empty for a null record. Tax lines are
// labelled with the names of the valid tax rates in `reg`.
std::string shiftTotalsText(bool current_shift, const ShiftCounters* c, const RegData& reg);
std::string grossTotalsText(const GrossCounters* c);
// Empty as well when table_count is not 4. Section names come from the
// section table (tables::getSection).
std::string sectionTotalsText(const SectionTotals* t, size_t table_count);

// One shift-close record into the sums of a range of shifts (the shift
// range report's); tax sums have no place there.
void AddShiftToRange(const ShiftCounters& s, GrossCounters* sum);

#endif  // FR_WORKERS_COUNTERS_H_
