#include "host/broker.h"

#include <gtest/gtest.h>

namespace host {
namespace {

TEST(BrokerTest, Urls) {
  struct Case {
    const char* url;
    bool ok;
    const char* host;
    int port;
    bool tls;
  };
  const Case cases[] = {
      {"mqtt://broker.example:1884", true, "broker.example", 1884, false},
      {"mqtts://10.0.0.5", true, "10.0.0.5", 8883, true},
      {"mqtt://localhost/", true, "localhost", 1883, false},
      {"http://broker:1883", false, "", 0, false},
      {"mqtt://:1883", false, "", 0, false},
      {"mqtt://broker:0", false, "", 0, false},
      {"mqtt://broker:65536", false, "", 0, false},
      {"mqtt://broker:12x", false, "", 0, false},
      {"mqtt://user@broker:1883", false, "", 0, false},
  };
  for (const Case& c : cases) {
    Broker o;
    const Status s = ParseBrokerUrl(c.url, &o);
    ASSERT_EQ(s.ok(), c.ok) << c.url << ": " << s.ToString();
    if (!c.ok) continue;
    EXPECT_EQ(o.host, c.host) << c.url;
    EXPECT_EQ(o.port, c.port) << c.url;
    EXPECT_EQ(o.tls, c.tls) << c.url;
  }
}

TEST(BrokerTest, CredentialsAreOneLineOfUserAndPassword) {
  Broker o;
  ASSERT_TRUE(ParseBrokerCredentials("shop1 s3cret with space\r\nignored\n", &o).ok());
  EXPECT_EQ(o.user, "shop1");
  EXPECT_EQ(o.password, "s3cret with space");
  for (const char* bad : {"", "shop1", "shop1 ", " secret"}) {
    EXPECT_FALSE(ParseBrokerCredentials(bad, &o).ok()) << bad;
  }
}

}  // namespace
}  // namespace host
