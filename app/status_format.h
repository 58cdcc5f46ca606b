// The device and shift status records, packed little-endian byte images
// sent to the host exactly as stored.
//
// StatusStruct (21 bytes):
//   0 flags (2) | 2 registration count (1) | 3 constant 50 (1) |
//   4 shift number (2) | 6 last document number (4) |
//   10 last document time (4, signed) | 14 receipts in the shift (2) |
//   16 open-document type (1) | 17 free archive capacity (4)
// CycleStatus (24 bytes):
//   0 shift-opening document number (4) | 4 shift opening time (4) |
//   8 last document number of the shift (4) | 12 shift closing time (4) |
//   16 cash in drawer (8)
#ifndef FR_APP_STATUS_FORMAT_H_
#define FR_APP_STATUS_FORMAT_H_

#include <cstddef>
#include <cstdint>

namespace FrStatus {

constexpr size_t kStatusSize = 21;
constexpr size_t kFlagsOffset = 0;
constexpr size_t kRegistrationCountOffset = 2;
constexpr size_t kConstantOffset = 3;
constexpr size_t kShiftNumberOffset = 4;
constexpr size_t kLastDocumentNumberOffset = 6;
constexpr size_t kLastDocumentTimeOffset = 10;
constexpr size_t kReceiptsInShiftOffset = 14;
constexpr size_t kOpenDocumentTypeOffset = 16;
constexpr size_t kCapacityOffset = 17;
constexpr uint8_t kConstant = 50;

constexpr size_t kCycleSize = 24;
constexpr size_t kShiftOpenDocumentOffset = 0;
constexpr size_t kShiftOpenTimeOffset = 4;
constexpr size_t kLastShiftDocumentOffset = 8;
constexpr size_t kShiftCloseTimeOffset = 12;
constexpr size_t kCashInDrawerOffset = 16;

// Flags word.
constexpr uint16_t kArchivePresent = 0x0001;
constexpr uint16_t kRegistered = 0x0002;
constexpr uint16_t kForeignArchive = 0x0004;
constexpr uint16_t kShiftOpen = 0x0008;
constexpr uint16_t kArchiveUsable = 0x0010;
constexpr uint16_t kArchiveClosed = 0x0020;
constexpr uint16_t kIdentityError = 0x0040;
constexpr uint16_t kPrinterSilent = 0x1000;
constexpr uint16_t kPaperNearEnd = 0x2000;
constexpr uint16_t kPaperOut = 0x4000;

}  // namespace FrStatus

#endif  // FR_APP_STATUS_FORMAT_H_
