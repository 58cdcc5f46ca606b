// The identity EEPROM: a 4096-byte sysfs file of an I2C EEPROM.
//   offset 0     model data
//   offset 48    registration data
//   offset 4080  device key (16 bytes)
// A blank EEPROM reads 0xFF throughout.
#ifndef FR_STORAGE_EEPROM_FORMAT_H_
#define FR_STORAGE_EEPROM_FORMAT_H_

#include <cstddef>

namespace eeprom {

constexpr const char* kPath = "/sys/bus/i2c/devices/0-0050/eeprom";
constexpr size_t kSize = 4096;
constexpr size_t kModelDataOffset = 0;
constexpr size_t kRegDataOffset = 48;
constexpr size_t kKeyOffset = 4080;
constexpr size_t kKeySize = 16;
constexpr unsigned char kBlank = 0xFF;

}  // namespace eeprom

#endif  // FR_STORAGE_EEPROM_FORMAT_H_
