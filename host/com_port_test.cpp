#include "host/com_port.h"

#include <gtest/gtest.h>

namespace host {
namespace {

TEST(ComPortTest, NamesTheDeviceCreateFileOpens) {
  const struct {
    const char* name;
    const char* device;
  } cases[] = {
      {"COM3", "\\\\.\\COM3"},
      {"com3", "\\\\.\\COM3"},
      {"\\\\.\\COM12", "\\\\.\\COM12"},
      {"COM255", "\\\\.\\COM255"},
      {"COM256", ""},
      {"COM0", ""},
      {"COM", ""},
      {"COM3:", ""},
      {"COMX", ""},
      {"/dev/ttyS0", ""},
      {"\\\\.\\LPT1", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.device, ComDevicePath(c.name)) << c.name;
}

// ReadFile's documented modes: with interval and multiplier both MAXDWORD it
// waits for the first byte up to the constant, which must lie strictly
// between 0 and MAXDWORD; interval MAXDWORD with both totals 0 returns at
// once. Any other mix waits for the whole count and would stall a reply.
TEST(ComPortTest, ReadTimeoutsKeepToReadFilesModes) {
  const struct {
    int64_t wait_ms;
    uint32_t multiplier, constant;
  } cases[] = {
      {-5, 0, 0},
      {0, 0, 0},
      {1, kMaxDword, 1},
      {3000, kMaxDword, 3000},
      {int64_t{kMaxDword}, kMaxDword, kMaxDword - 1},
      {int64_t{1} << 40, kMaxDword, kMaxDword - 1},
  };
  for (const auto& c : cases) {
    const ComTimeouts t = ComReadTimeouts(c.wait_ms);
    EXPECT_EQ(kMaxDword, t.read_interval) << c.wait_ms;
    EXPECT_EQ(c.multiplier, t.read_multiplier) << c.wait_ms;
    EXPECT_EQ(c.constant, t.read_constant) << c.wait_ms;
    // A write never waits for ever.
    EXPECT_GT(t.write_constant, 0u);
    EXPECT_LT(t.write_constant, kMaxDword);
  }
}

}  // namespace
}  // namespace host
