// Little-endian byte coding: every multi-byte integer on the host line, in
// stored records and in the EEPROM goes through these helpers.
#ifndef FR_UTIL_CODING_H_
#define FR_UTIL_CODING_H_

#include <cstdint>
#include <cstring>
#include <string>

namespace util {

inline void EncodeFixed16(uint8_t* dst, uint16_t v) {
  dst[0] = static_cast<uint8_t>(v);
  dst[1] = static_cast<uint8_t>(v >> 8);
}

inline void EncodeFixed32(uint8_t* dst, uint32_t v) {
  for (int i = 0; i < 4; ++i) dst[i] = static_cast<uint8_t>(v >> (8 * i));
}

inline void EncodeFixed64(uint8_t* dst, uint64_t v) {
  for (int i = 0; i < 8; ++i) dst[i] = static_cast<uint8_t>(v >> (8 * i));
}

inline uint16_t DecodeFixed16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t DecodeFixed32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

inline uint64_t DecodeFixed64(const uint8_t* p) {
  return static_cast<uint64_t>(DecodeFixed32(p)) |
         (static_cast<uint64_t>(DecodeFixed32(p + 4)) << 32);
}

// Overloads over std::string bytes, the byte-string type used throughout.
inline const uint8_t* Bytes(const std::string& s) {
  return reinterpret_cast<const uint8_t*>(s.data());
}

inline void PutFixed16(std::string* dst, uint16_t v) {
  uint8_t buf[2];
  EncodeFixed16(buf, v);
  dst->append(reinterpret_cast<char*>(buf), sizeof(buf));
}

inline void PutFixed32(std::string* dst, uint32_t v) {
  uint8_t buf[4];
  EncodeFixed32(buf, v);
  dst->append(reinterpret_cast<char*>(buf), sizeof(buf));
}

inline void PutFixed64(std::string* dst, uint64_t v) {
  uint8_t buf[8];
  EncodeFixed64(buf, v);
  dst->append(reinterpret_cast<char*>(buf), sizeof(buf));
}

// The same, as byte strings of their own.
inline std::string Fixed16(uint16_t v) {
  std::string s;
  PutFixed16(&s, v);
  return s;
}
inline std::string Fixed32(uint32_t v) {
  std::string s;
  PutFixed32(&s, v);
  return s;
}
inline std::string Fixed64(uint64_t v) {
  std::string s;
  PutFixed64(&s, v);
  return s;
}

// REQUIRES: s.size() >= offset + width of the value.
inline uint16_t GetFixed16(const std::string& s, size_t offset) {
  return DecodeFixed16(Bytes(s) + offset);
}
inline uint32_t GetFixed32(const std::string& s, size_t offset) {
  return DecodeFixed32(Bytes(s) + offset);
}
inline uint64_t GetFixed64(const std::string& s, size_t offset) {
  return DecodeFixed64(Bytes(s) + offset);
}

// Uppercase hexadecimal, two digits a byte, no separators.
std::string HexUpper(const std::string& bytes);
// The same with a space between bytes ("04 05 00"), as people read frames.
std::string HexSpaced(const std::string& bytes);

}  // namespace util

#endif  // FR_UTIL_CODING_H_
