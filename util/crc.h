// The two checksums of the register.
//   CRC-16/CCITT-FALSE: poly 0x1021, init 0xFFFF, MSB first, no final XOR.
//     Host frames and archive records.
//   CRC-32 (IEEE 802.3, reflected, init and final XOR 0xFFFFFFFF).
//     Transaction identifiers, identity check values, fiscal signs.
#ifndef FR_UTIL_CRC_H_
#define FR_UTIL_CRC_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace util {

// Continues a CRC-16 from `crc` (start with kCrc16Init).
constexpr uint16_t kCrc16Init = 0xFFFF;
uint16_t Crc16Extend(uint16_t crc, const void* data, size_t n);
inline uint16_t Crc16(const void* data, size_t n) {
  return Crc16Extend(kCrc16Init, data, n);
}
inline uint16_t Crc16(const std::string& s) { return Crc16(s.data(), s.size()); }

// Table entry i of the CRC-16 (exposed for its own tests).
uint16_t Crc16TableEntry(uint8_t i);

uint32_t Crc32(const void* data, size_t n);
inline uint32_t Crc32(const std::string& s) { return Crc32(s.data(), s.size()); }

}  // namespace util

#endif  // FR_UTIL_CRC_H_
