// The totals records, as kept in memory and in the archive. Integers are
// little-endian and unaligned; amounts are signed hundredths of the currency.
//
// OperationCounters, 93 bytes (53 in GrossCounters, no tax sums):
//   0 type (1) | 1 receipt count, unsigned (4) | 5 total (8) | 13 cash (8) |
//   21 electronic (8) | 29 three reserved sums (24) | 53 tax sums, rates 1-5 (40)
// ShiftCounters, 406 bytes:
//   0 shift number or number of shifts (2) | 2 cash-in count (2) |
//   4 cash-out count (2) | 6 cash-in sum (8) | 14 cash-out sum (8) |
//   22 receipt count (4) | 26 cash in drawer (8) | 34 four 93-byte blocks
// GrossCounters, 238 bytes: offsets 0-25 as above | 26 four 53-byte blocks
// SectionTotals, 640 bytes: four tables, one per type, of 20 amounts, one
//   per section 1..20
#ifndef FR_WORKERS_COUNTERS_FORMAT_H_
#define FR_WORKERS_COUNTERS_FORMAT_H_

#include <cstddef>
#include <cstdint>

#include "documents/tlv_tags.h"

namespace counters {

// Operation types, the index of the blocks in a record.
enum OperationType : uint8_t {
  kSale = 0,
  kPurchase = 1,
  kSaleReturn = 2,
  kPurchaseReturn = 3,
};
constexpr size_t kTypeCount = 4;
// Block tag by type. Not in tag order: purchase comes before sale return.
constexpr uint16_t kBlockTags[kTypeCount] = {tag::kSaleCounters, tag::kPurchaseCounters,
                                             tag::kSaleReturnCounters,
                                             tag::kPurchaseReturnCounters};

constexpr size_t kOperationSize = 93;
constexpr size_t kGrossOperationSize = 53;
constexpr size_t kOpTypeOffset = 0;
constexpr size_t kOpReceiptCountOffset = 1;
constexpr size_t kOpTotalOffset = 5;
constexpr size_t kOpCashOffset = 13;
constexpr size_t kOpCashlessOffset = 21;
constexpr size_t kOpReservedOffset = 29;
constexpr size_t kReservedCount = 3;
constexpr size_t kOpTaxOffset = 53;
constexpr size_t kTaxCount = 5;
constexpr size_t kAmountSize = 8;

constexpr size_t kShiftSize = 406;
constexpr size_t kGrossSize = 238;
constexpr size_t kShiftNumberOffset = 0;
constexpr size_t kCashInCountOffset = 2;
constexpr size_t kCashOutCountOffset = 4;
constexpr size_t kCashInSumOffset = 6;
constexpr size_t kCashOutSumOffset = 14;
constexpr size_t kReceiptCountOffset = 22;
constexpr size_t kCashInDrawerOffset = 26;  // ShiftCounters only
constexpr size_t kShiftBlocksOffset = 34;
constexpr size_t kGrossBlocksOffset = 26;

constexpr size_t kSectionCount = 20;
constexpr size_t kSectionTableSize = kSectionCount * kAmountSize;      // 160
constexpr size_t kSectionTotalsSize = kTypeCount * kSectionTableSize;  // 640

}  // namespace counters

#endif  // FR_WORKERS_COUNTERS_FORMAT_H_
