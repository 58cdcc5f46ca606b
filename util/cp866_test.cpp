#include "util/cp866.h"

#include <gtest/gtest.h>
#include <iconv.h>

namespace util {
namespace {

// The C library's own converter is the reference for every byte.
std::string IconvToUtf8(const std::string& cp866) {
  iconv_t cd = iconv_open("UTF-8", "CP866");
  if (cd == reinterpret_cast<iconv_t>(-1)) return "<no iconv>";
  std::string in = cp866;
  std::string out(in.size() * 4, '\0');
  char* src = &in[0];
  char* dst = &out[0];
  size_t in_left = in.size(), out_left = out.size();
  const size_t r = iconv(cd, &src, &in_left, &dst, &out_left);
  iconv_close(cd);
  if (r == static_cast<size_t>(-1)) return "<iconv failed>";
  out.resize(out.size() - out_left);
  return out;
}

TEST(Cp866Test, EveryByteMatchesTheCLibraryAndRoundTrips) {
  for (int b = 1; b < 256; ++b) {
    const std::string byte(1, static_cast<char>(b));
    const std::string utf8 = Cp866ToUtf8(byte);
    EXPECT_EQ(IconvToUtf8(byte), utf8) << std::hex << b;
    EXPECT_EQ(byte, Utf8ToCp866(utf8)) << std::hex << b;
  }
}

TEST(Cp866Test, TextsConvert) {
  struct Case {
    std::string utf8;
    std::string cp866;
  };
  const Case cases[] = {
      {"ЗЕЛТА-7ФК", "\x87\x85\x8B\x92\x80-7\x94\x8A"},
      {"ЦТО", "\x96\x92\x8E"},
      {"ёЁ №", "\xF1\xF0 \xFC"},
      {"€", "?"},               // no CP866 byte
      {"a\xC3", "a?"},          // cut sequence
      {"\xFF" "b", "?b"},       // not UTF-8 at all
  };
  for (const Case& c : cases) EXPECT_EQ(c.cp866, Utf8ToCp866(c.utf8)) << c.utf8;
}

}  // namespace
}  // namespace util
