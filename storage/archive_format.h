// The fiscal archive file, little-endian throughout.
//
//   0          magic 03 89 23 F4
//   4          archive number (4), never 0
//   8          document index: 250000 descriptors of 64 bytes, document n
//              at 8 + (n - 1) * 64
//   16000008   descriptor of the last shift open
//   16000072   descriptor of the last shift close
//   16000136   descriptor of the last fiscalisation
//   16000200   descriptor of the last document of any kind
//   16000264   ModelData copy (48), written at each fiscalisation
//   16000312   RegData copy (968)
//   16001280   ShiftCounters of the current shift (406)
//   16001686   ShiftCounters since the last fiscalisation (406)
//   16002092   GrossCounters (238)
//   16002330   registration count (1)
//   16002331   registration list: 50 document numbers (4 each)
//   16002531   SectionTotals (640)
//   16003200   recovery record: magic 52 43 56 31 (4), CRC-32 of the rest (4),
//              number of the document being stored (4), image of
//              16000008..16003170 as it was before the store (3163);
//              zero magic when no store is in progress
//   16777216   magic again
//   16777220   data blocks, in document order
#ifndef FR_STORAGE_ARCHIVE_FORMAT_H_
#define FR_STORAGE_ARCHIVE_FORMAT_H_

#include <cstddef>
#include <cstdint>

namespace archive {

constexpr uint8_t kMagic[4] = {0x03, 0x89, 0x23, 0xF4};
constexpr uint64_t kMagicOffset = 0;
constexpr uint64_t kNumberOffset = 4;
constexpr uint64_t kIndexOffset = 8;
constexpr uint64_t kDescriptorSize = 64;
constexpr uint32_t kIndexSlots = 250000;
constexpr uint64_t kLastShiftOpenOffset = 16000008;
constexpr uint64_t kLastShiftCloseOffset = 16000072;
constexpr uint64_t kLastFiscalisationOffset = 16000136;
constexpr uint64_t kLastDocumentOffset = 16000200;
constexpr uint64_t kModelDataOffset = 16000264;
constexpr uint64_t kRegDataOffset = 16000312;
constexpr uint64_t kShiftCountersOffset = 16001280;
constexpr uint64_t kRegistrationCountersOffset = 16001686;
constexpr uint64_t kGrossCountersOffset = 16002092;
constexpr uint64_t kRegistrationCountOffset = 16002330;
constexpr uint64_t kRegistrationListOffset = 16002331;
constexpr uint32_t kRegistrationListSize = 50;
constexpr uint64_t kSectionTotalsOffset = 16002531;
// Everything a store rewrites in the header region: the special slots, the
// identity copies, the counters, the registration list and the section totals.
constexpr uint64_t kHeaderStateOffset = kLastShiftOpenOffset;
constexpr size_t kHeaderStateSize = 3163;
constexpr uint64_t kRecoveryOffset = 16003200;
constexpr uint8_t kRecoveryMagic[4] = {0x52, 0x43, 0x56, 0x31};
constexpr size_t kRecoveryHeaderSize = 12;
constexpr uint64_t kSecondMagicOffset = 16777216;
constexpr uint64_t kDataOffset = 16777220;
constexpr uint64_t kNewFileSize = 16777220;
// Descriptors are read and written at the index and the four special slots.
constexpr uint64_t kLastDescriptorSlot = 250003;

constexpr size_t kMaxReceiptBlock = 32768;
constexpr size_t kMaxDocumentBlock = 4096;

inline uint64_t indexOffset(uint32_t number) {
  return kIndexOffset + static_cast<uint64_t>(number - 1) * kDescriptorSize;
}

}  // namespace archive

#endif  // FR_STORAGE_ARCHIVE_FORMAT_H_
