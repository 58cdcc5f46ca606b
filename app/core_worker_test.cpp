#include "app/core_worker.h"

#include <gtest/gtest.h>

#include "app/codes.h"
#include "app/fr_status.h"
#include "platform/fake_env.h"

namespace {

TEST(CoreWorkerTest, CodesOutsideTheTableGetTenWithNoData) {
  platform::FakeEnv env;
  CoreWorker worker(&env);
  for (uint8_t code : {uint8_t{5}, uint8_t{23}, uint8_t{200}, cmd::kVersion, cmd::kShiftStatus}) {
    CoreApiResult r = worker.dispatch(CoreTransaction{code, 42, "data"});
    EXPECT_EQ(rc::kUnknownCommand, r.code) << int(code);
    EXPECT_TRUE(r.data.empty());
  }
}

TEST(CoreWorkerTest, EachPassTakesOneTransactionAndStampsItsIdentifier) {
  platform::FakeEnv env;
  CoreWorker worker(&env);
  CoreQueue queue;
  ASSERT_TRUE(queue.push(CoreTransaction{200, 7, ""}, nullptr, nullptr));
  ASSERT_TRUE(queue.push(CoreTransaction{201, 8, ""}, nullptr, nullptr));
  EXPECT_TRUE(worker.processOne());
  EXPECT_EQ(1u, queue.size());
  bool found = false;
  CoreApiResult r = queue.takeResult(7, &found);
  ASSERT_TRUE(found);
  EXPECT_EQ(7u, r.id);
  EXPECT_EQ(rc::kUnknownCommand, r.code);
  EXPECT_TRUE(worker.processOne());
  EXPECT_TRUE(queue.takeResult(8, &found).id == 8 && found);
  EXPECT_FALSE(worker.processOne());
}

TEST(CoreWorkerTest, InitialiseWithoutArchiveStorageClearsItsBits) {
  platform::FakeEnv env;
  FrStatus::setFlags(0xFFFF);
  CoreWorker worker(&env);
  worker.initialise();
  EXPECT_FALSE(FrStatus::testFlags(FrStatus::kArchivePresent | FrStatus::kArchiveUsable));
  EXPECT_EQ(rc::kNoArchiveStorage, FrStatus::readiness());
  std::string s, c;
  FrStatus::copyRecords(&s, &c);
  EXPECT_EQ(50, s[3]);
}

}  // namespace
