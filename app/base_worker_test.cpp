#include "app/base_worker.h"

#include <gtest/gtest.h>

#include "app/codes.h"
#include "platform/fake_env.h"
#include "util/coding.h"

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
    if (c.data.size() < 5) continue;
    EXPECT_EQ(c.number, p.number);
    EXPECT_EQ(c.password, p.password);
    EXPECT_EQ(c.rest, p.rest);
  }
}

TEST(BaseWorkerTest, AuthorisationChecksTheCashierTable) {
  platform::FakeEnv env;
  ASSERT_TRUE(env.CreateDirectory("/nv"));
  ASSERT_TRUE(tables::initCashiers(&env));
  Cashier seven;
  seven.number = 7;
  seven.rights = 0x0001;
  seven.password = 777;
  seven.name = "Ivanova";
  ASSERT_TRUE(tables::saveCashier(&env, seven));
  auto prefix = [](uint8_t number, int32_t password) {
    std::string data(1, static_cast<char>(number));
    util::PutFixed32(&data, static_cast<uint32_t>(password));
    return data + "rest";
  };
  struct Case {
    std::string data;
    int code;
  };
  const Case cases[] = {
      {prefix(7, 777), rc::kOk},
      {prefix(7, 778), rc::kCashierRefused},
      {prefix(8, 0), rc::kCashierRefused},  // empty slot: never usable
      {prefix(20, tables::kServiceDefaultPassword), rc::kOk},
      {prefix(21, 777), rc::kBadCashierPrefix},
      {prefix(7, 777).substr(0, 4), rc::kBadCashierPrefix},
  };
  for (const Case& c : cases) {
    CashierPrefix p;
    Cashier cashier;
    EXPECT_EQ(c.code, BaseWorker::authorise(&env, c.data, &p, &cashier)) << c.data.size();
    if (c.code == rc::kOk) {
      EXPECT_EQ(p.number, cashier.number);
      EXPECT_EQ("rest", p.rest);
    }
  }
}

}  // namespace
