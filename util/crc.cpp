#include "util/crc.h"

#include <array>

namespace util {
namespace {

std::array<uint16_t, 256> MakeCrc16Table() {
  std::array<uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    unsigned x = i << 8;
    for (int bit = 0; bit < 8; ++bit) {
      x = (x & 0x8000) ? ((x << 1) ^ 0x1021) & 0xFFFF : (x << 1) & 0xFFFF;
    }
    table[i] = static_cast<uint16_t>(x);
  }
  return table;
}

std::array<uint32_t, 256> MakeCrc32Table() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t x = i;
    for (int bit = 0; bit < 8; ++bit) x = (x & 1) ? (x >> 1) ^ 0xEDB88320u : x >> 1;
    table[i] = x;
  }
  return table;
}

const std::array<uint16_t, 256>& Crc16Table() {
  static const std::array<uint16_t, 256> table = MakeCrc16Table();
  return table;
}

}  // namespace

uint16_t Crc16TableEntry(uint8_t i) { return Crc16Table()[i]; }

uint16_t Crc16Extend(uint16_t crc, const void* data, size_t n) {
  const auto& table = Crc16Table();
  const auto* p = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < n; ++i) {
    crc = static_cast<uint16_t>(table[(p[i] ^ (crc >> 8)) & 0xFF] ^ (crc << 8));
  }
  return crc;
}

uint32_t Crc32(const void* data, size_t n) {
  static const std::array<uint32_t, 256> table = MakeCrc32Table();
  const auto* p = static_cast<const uint8_t*>(data);
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

}  // namespace util
