#include "host/frame.h"

#include <gtest/gtest.h>

#include <string>

#include "util/coding.h"

namespace host {
namespace {

using std::string_literals::operator""s;

TEST(FrameTest, EncodesWorkedFrames) {
  struct Case {
    uint8_t command;
    uint32_t id;
    std::string data;
    std::string frame;
  };
  const Case cases[] = {
      {0x33, 1, "", "\x04\x05\x00\x33\x01\x00\x00\x00\xE1\x1C"s},
      {0x00, 1, "\x00\x00\x03"s, "\x04\x08\x00\x00\x01\x00\x00\x00\x00\x00\x03\x70\x23"s},
      {0x09, 0, "", "\x04\x05\x00\x09\x00\x00\x00\x00\x15\x20"s},
      {0x11, 0, "", "\x04\x05\x00\x11\x00\x00\x00\x00\x62\x26"s},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(util::HexUpper(c.frame), util::HexUpper(EncodeRequest(c.command, c.id, c.data)));
  }
}

TEST(FrameTest, ParsesFramesAndTellsWhatIsMissing) {
  const std::string good = EncodeRequest(0, 0x12345678, "abc");
  std::string bad_crc = good;
  bad_crc.back() ^= 1;
  struct Case {
    std::string bytes;
    ParseStatus status;
    size_t used;     // on kComplete and kBad
    size_t missing;  // MissingBytes
  };
  const Case cases[] = {
      {"", ParseStatus::kNeedMore, 0, 3},
      {good.substr(0, 2), ParseStatus::kNeedMore, 0, 1},
      {good.substr(0, 5), ParseStatus::kNeedMore, 0, good.size() - 5},
      {good, ParseStatus::kComplete, good.size(), 0},
      {good + "\x04", ParseStatus::kComplete, good.size(), 0},
      {bad_crc, ParseStatus::kBad, good.size(), 0},
      {"\x00"s + good, ParseStatus::kBad, 1, 0},
      {"\x04\x00\x00\x11\x22"s, ParseStatus::kBad, 3, 0},  // an empty body
  };
  for (const Case& c : cases) {
    size_t used = 99;
    Reply r;
    EXPECT_EQ(c.status, ParseFrame(c.bytes, &used, &r)) << util::HexUpper(c.bytes);
    if (c.status != ParseStatus::kNeedMore) {
      EXPECT_EQ(c.used, used) << util::HexUpper(c.bytes);
    }
    if (c.bytes.empty() || c.bytes[0] == 0x04) {
      EXPECT_EQ(c.missing, MissingBytes(c.bytes)) << util::HexUpper(c.bytes);
    }
  }
  size_t used = 0;
  Reply r;
  ASSERT_EQ(ParseStatus::kComplete, ParseFrame(good, &used, &r));
  EXPECT_EQ(0, r.code);
  EXPECT_TRUE(r.has_id);
  EXPECT_EQ(0x12345678u, r.id);
  EXPECT_EQ("abc", r.data);
  ASSERT_EQ(ParseStatus::kComplete, ParseFrame(EncodeFrame("\x0B"), &used, &r));  // oversize: no identifier
  EXPECT_EQ(11, r.code);
  EXPECT_FALSE(r.has_id);
}

TEST(FrameTest, FindsAReplyAmongOthersAndNoise) {
  const std::string mine = EncodeRequest(0, 7, "x");
  std::string broken = EncodeRequest(0, 7, "y");
  broken[broken.size() - 1] ^= 0x40;
  const std::string heard = "\x05\xFF"s + EncodeRequest(0, 6, "old") + broken + "\x04" + mine + "\x04\x05";
  Reply r;
  ASSERT_TRUE(FindReply(heard, 7, &r));
  EXPECT_EQ("x", r.data);
  EXPECT_FALSE(FindReply(heard, 8, &r));
  EXPECT_FALSE(FindReply(broken, 7, &r));
}

}  // namespace
}  // namespace host
