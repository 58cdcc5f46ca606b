// The data of the replies a host decodes (after the result code and the
// identifier of the reply frame, link/frame_format.h). Integers are
// little-endian; amounts are signed 64-bit kopecks.
//
// Close reply of a document (commands 9, 18, 20, 22, 25, 163, 165):
//   0 document number (4) | 4 fiscal sign (4) | 8 date-time (4)
//   registration (9), archive close (25): nothing more          12 bytes
//   shift open (18), shift close (20): 12 shift number (2)      14 bytes
//   cash in, cash out (163, 165): 12 shift number (2) |
//     14 cash in the drawer after the document (8)              22 bytes
//   receipt (22): 12 shift number (2) | 14 receipt number (2) |
//     16 total (8) | 24 change (8)                               32 bytes
//   A close answered 37 carries instead the tag of the missing element (2).
// Shift status (16), 29 bytes:
//   0 shift open, 1 or 0 (1) | 1 shift number (2) | 3 receipts in the shift (2) |
//   5 CycleStatus (24, app/status_format.h)
// Device status (48), 31 bytes:
//   0 factory serial number, ASCII digits (10) | 10 StatusStruct (21)
// Model data (49), 44 bytes: the ModelData record without its check value
//   (storage/identity_format.h)
// Device key (50), 27 bytes: a fixed header of 11 bytes | the key (16)
// Version (51), 3 bytes: one byte per dotted number
// Registration field (68): the field as one TLV element
// State of the open document (176):
//   0 document type (1); a receipt adds 1 receipt type (1) |
//   2 receipt number (2) | 4 number of lines (2) | 6 total (8)   14 bytes
#ifndef FR_APP_REPLY_FORMAT_H_
#define FR_APP_REPLY_FORMAT_H_

#include <cstddef>
#include <cstdint>

namespace reply {

constexpr size_t kCloseNumberOffset = 0;
constexpr size_t kCloseSignOffset = 4;
constexpr size_t kCloseTimeOffset = 8;
constexpr size_t kCloseBaseSize = 12;
constexpr size_t kCloseShiftOffset = 12;
constexpr size_t kCloseShiftSize = 14;
constexpr size_t kCloseDrawerOffset = 14;
constexpr size_t kCloseCashSize = 22;
constexpr size_t kCloseReceiptNumberOffset = 14;
constexpr size_t kCloseTotalOffset = 16;
constexpr size_t kCloseChangeOffset = 24;
constexpr size_t kCloseReceiptSize = 32;
constexpr size_t kMissingTagSize = 2;

constexpr size_t kShiftStatusSize = 29;
constexpr size_t kShiftOpenOffset = 0;
constexpr size_t kShiftNumberOffset = 1;
constexpr size_t kShiftReceiptsOffset = 3;
constexpr size_t kShiftCycleOffset = 5;

constexpr size_t kSerialSize = 10;
constexpr size_t kDeviceStatusSize = 31;
constexpr size_t kDeviceStatusRecordOffset = 10;

constexpr size_t kModelDataSize = 44;

constexpr char kKeyHeader[] = {0x00, 0x00, 0x03, 0x3E, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
constexpr size_t kKeyHeaderSize = sizeof(kKeyHeader);
constexpr size_t kDeviceKeySize = kKeyHeaderSize + 16;

constexpr size_t kVersionSize = 3;

constexpr size_t kStateTypeOffset = 0;
constexpr size_t kStateReceiptTypeOffset = 1;
constexpr size_t kStateReceiptNumberOffset = 2;
constexpr size_t kStateLinesOffset = 4;
constexpr size_t kStateTotalOffset = 6;
constexpr size_t kStateReceiptSize = 14;

}  // namespace reply

#endif  // FR_APP_REPLY_FORMAT_H_
