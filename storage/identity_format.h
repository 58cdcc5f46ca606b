// Byte layouts of the identity records kept in the EEPROM.
//
// ModelData (48 bytes):
//   0 model code (2) | 2 factory serial number, ASCII digits (10) |
//   12 model name, CP866, NUL-padded (32) | 44 check value (4)
// RegData (968 bytes):
//   0 FN number (16) | 16 taxpayer number (12) | 28 first text (256) |
//   284 second text (256) | 540 third text (256) | 796 five tax rates (5 x 32) |
//   956 registration time (4, signed) | 960 archive number (4) |
//   964 check value (4)
#ifndef FR_STORAGE_IDENTITY_FORMAT_H_
#define FR_STORAGE_IDENTITY_FORMAT_H_

#include <cstddef>
#include <cstdint>

namespace identity {

constexpr size_t kModelDataSize = 48;
constexpr size_t kModelCodeOffset = 0;
constexpr size_t kSerialOffset = 2;
constexpr size_t kSerialSize = 10;
constexpr size_t kModelNameOffset = 12;
constexpr size_t kModelNameSize = 32;
constexpr size_t kModelCheckOffset = 44;
constexpr uint16_t kModelCode = 33299;
constexpr const char* kModelNameUtf8 = "ЗЕЛТА-7ФК";

constexpr size_t kRegDataSize = 968;
constexpr size_t kFnOffset = 0;
constexpr size_t kFnSize = 16;
constexpr size_t kInnOffset = 16;
constexpr size_t kInnSize = 12;
constexpr size_t kText1Offset = 28;
constexpr size_t kText2Offset = 284;
constexpr size_t kText3Offset = 540;
constexpr size_t kTextSize = 256;
constexpr size_t kTaxRatesOffset = 796;
constexpr size_t kTaxRateSize = 32;
constexpr size_t kTaxRateCount = 5;
constexpr size_t kRegTimeOffset = 956;
constexpr size_t kArchiveNumberOffset = 960;
constexpr size_t kRegCheckOffset = 964;
constexpr uint8_t kUnusedTaxRateType = 0xC0;  // byte 1 of an unused rate

}  // namespace identity

#endif  // FR_STORAGE_IDENTITY_FORMAT_H_
