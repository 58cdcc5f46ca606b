#include "util/crc.h"

#include <gtest/gtest.h>

#include <string>

namespace util {
namespace {

TEST(CrcTest, CheckValues) {
  const std::string digits = "123456789";
  EXPECT_EQ(0x29B1, Crc16(digits));
  EXPECT_EQ(0xCBF43926u, Crc32(digits));
  EXPECT_EQ(0xFFFF, Crc16(std::string()));
  EXPECT_EQ(0u, Crc32(std::string()));
}

TEST(CrcTest, Crc16TableEntries) {
  struct Case { uint8_t index; uint16_t entry; };
  const Case cases[] = {{0, 0x0000}, {1, 0x1021}, {2, 0x2042}, {3, 0x3063}, {255, 0x1EF0}};
  for (const auto& c : cases) EXPECT_EQ(c.entry, Crc16TableEntry(c.index)) << int(c.index);
}

TEST(CrcTest, Crc16ExtendsInPieces) {
  const std::string a = "12345", b = "6789";
  EXPECT_EQ(Crc16("123456789", 9), Crc16Extend(Crc16(a), b.data(), b.size()));
}

// The worked frames of the host protocol: CRC over length field and body.
TEST(CrcTest, HostFrameExamples) {
  const uint8_t request[] = {0x05, 0x00, 0x33, 0x01, 0x00, 0x00, 0x00};
  EXPECT_EQ(0x1CE1, Crc16(request, sizeof(request)));
  const uint8_t reply[] = {0x08, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03};
  EXPECT_EQ(0x2370, Crc16(reply, sizeof(reply)));
}

}  // namespace
}  // namespace util
