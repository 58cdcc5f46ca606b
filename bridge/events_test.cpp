#include "bridge/events.h"

#include <gtest/gtest.h>

namespace bridge {
namespace {

TEST(EventsTest, AReaderResumesAfterItsLastIdOrHearsItMissedSome) {
  Events events;
  for (size_t i = 0; i < Events::kDefaultKept + 10; ++i) events.Publish("status", std::to_string(i));
  std::vector<Event> got;
  const uint64_t last = events.last_id();
  ASSERT_TRUE(events.Since(last - 2, 0, &got));
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].id, last - 1);
  EXPECT_EQ(got[1].data, std::to_string(Events::kDefaultKept + 9));
  EXPECT_TRUE(events.Since(10, 0, &got)) << "event 11 is the oldest kept";
  EXPECT_EQ(got.size(), Events::kDefaultKept);
  EXPECT_FALSE(events.Since(9, 0, &got)) << "event 10 is gone";
  EXPECT_TRUE(events.Since(last, 0, &got));
  EXPECT_TRUE(got.empty());
}

}  // namespace
}  // namespace bridge
