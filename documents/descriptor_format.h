// The 64-byte descriptor of a stored document, little-endian. The document
// fills the head; the archive fills the rest when it stores the document.
//
//   0 document type (1) | 1 document number (4) | 5 date-time (4) |
//   9 shift number (2) | 11 fiscal sign (4) | 15 cashier number (1) |
//   16 the archive's part (48)
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

}  // namespace descriptor

struct DocDescriptor {
  uint8_t bytes[descriptor::kSize] = {};
};

#endif  // FR_DOCUMENTS_DESCRIPTOR_FORMAT_H_
