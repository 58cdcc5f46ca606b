// The 64-byte descriptor of a stored document, little-endian. The document
// fills the head; the archive fills the rest when it stores the document.
//
//   0 document type (1) | 1 document number (4) | 5 date-time (4) |
//   9 shift number (2) | 11 fiscal sign (4) | 15 cashier number (1) |
//   16 data block length (2) | 18 data block offset (8) |
//   26 CRC-16 of the main data (2) | 28 fiscalisation number (4) |
//   32 zero (6) | 38 CRC-16 of bytes 0..37 (2) | 40 zero (24)
#ifndef FR_DOCUMENTS_DESCRIPTOR_FORMAT_H_
#define FR_DOCUMENTS_DESCRIPTOR_FORMAT_H_

#include <cstddef>
#include <cstdint>

namespace descriptor {

constexpr size_t kSize = 64;
constexpr size_t kTypeOffset = 0;
constexpr size_t kDocumentNumberOffset = 1;
constexpr size_t kDateTimeOffset = 5;
constexpr size_t kShiftNumberOffset = 9;
constexpr size_t kFiscalSignOffset = 11;
constexpr size_t kCashierNumberOffset = 15;
constexpr size_t kDocumentPartSize = 16;  // what the document fills
constexpr size_t kLengthOffset = 16;
constexpr size_t kDataOffsetOffset = 18;
constexpr size_t kDataCrcOffset = 26;
constexpr size_t kFiscalisationOffset = 28;
constexpr size_t kDescriptorCrcOffset = 38;
constexpr size_t kCoveredByCrc = 38;  // bytes 0..37

}  // namespace descriptor

struct DocDescriptor {
  uint8_t bytes[descriptor::kSize] = {};
};

#endif  // FR_DOCUMENTS_DESCRIPTOR_FORMAT_H_
