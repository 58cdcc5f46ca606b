#include "util/coding.h"

namespace util {

std::string HexUpper(const std::string& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out.push_back(kDigits[c >> 4]);
    out.push_back(kDigits[c & 0x0F]);
  }
  return out;
}

std::string HexSpaced(const std::string& bytes) {
  const std::string hex = HexUpper(bytes);
  std::string out;
  for (size_t i = 0; i < hex.size(); i += 2) {
    if (i > 0) out.push_back(' ');
    out.append(hex, i, 2);
  }
  return out;
}

}  // namespace util
