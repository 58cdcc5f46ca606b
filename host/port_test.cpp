#include "host/port.h"

#include <gtest/gtest.h>

namespace host {
namespace {

TEST(PortTest, ParsesASerialDeviceServersAddress) {
  const struct {
    const char* address;
    bool ok;
    const char* host;
    const char* port;
  } cases[] = {
      {"tcp://192.168.1.50:4001", true, "192.168.1.50", "4001"},
      {"tcp://[::1]:4001", true, "::1", "4001"},
      {"tcp://moxa.shop:950", true, "moxa.shop", "950"},
      {"tcp://host", false, "", ""},
      {"tcp://:4001", false, "", ""},
      {"tcp://host:", false, "", ""},
      {"tcp://host:telnet", false, "", ""},
      {"COM3", false, "", ""},
      {"/dev/ttyACM0", false, "", ""},
  };
  for (const auto& c : cases) {
    std::string h, p;
    ASSERT_EQ(c.ok, ParseTcpAddress(c.address, &h, &p)) << c.address;
    if (!c.ok) continue;
    EXPECT_EQ(c.host, h) << c.address;
    EXPECT_EQ(c.port, p) << c.address;
  }
}

}  // namespace
}  // namespace host
