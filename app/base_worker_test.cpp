#include "app/base_worker.h"

#include <gtest/gtest.h>

#include "app/codes.h"

namespace {

TEST(BaseWorkerTest, CashierPrefixSplit) {
  struct Case {
    std::string data;
    bool ok;
    uint8_t number;
    int32_t password;
    std::string rest;
  };
  const Case cases[] = {
      {std::string("\x01\x02\x03\x04", 4), false, 0, 0, ""},  // one byte short
      {std::string("\x00\x01\x00\x00\x00", 5), false, 0, 1, ""},
      {std::string("\x15\x01\x00\x00\x00", 5), false, 21, 1, ""},
      {std::string("\x01\x39\x30\x00\x00", 5), true, 1, 12345, ""},
      {std::string("\x14\xFF\xFF\xFF\xFF" "abc", 8), true, 20, -1, "abc"},
  };
  for (const Case& c : cases) {
    CashierPrefix p;
    EXPECT_EQ(c.ok, BaseWorker::splitCashierPrefix(c.data, &p)) << c.data.size();
    EXPECT_EQ(c.ok ? rc::kOk : rc::kBadCashierPrefix, BaseWorker::authorise(c.data, &p));
    if (c.data.size() < 5) continue;
    EXPECT_EQ(c.number, p.number);
    EXPECT_EQ(c.password, p.password);
    EXPECT_EQ(c.rest, p.rest);
  }
}

}  // namespace
