#include "link/processing_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

// Each test uses a store of its own (a distinct N) so that none sees
// another's leftovers.
TEST(ProcessingQueueTest, ResultWithIdentifierZeroIsNeverStored) {
  ProcessingQueue<101> q;
  EXPECT_FALSE(q.pushResult(CoreApiResult(0, 0, "x")));
  EXPECT_FALSE(q.hasResult(0));
  bool found = true;
  CoreApiResult r = q.takeResult(0, &found);
  EXPECT_FALSE(found);
  EXPECT_EQ(255, r.code);
}

TEST(ProcessingQueueTest, SecondResultReplacesFirstAndCompletionFiresTwice) {
  ProcessingQueue<102> q;
  int fired = 0;
  ASSERT_TRUE(q.push(CoreTransaction{21, 7, "a"}, [&fired] { ++fired; }, nullptr));
  EXPECT_TRUE(q.pushResult(CoreApiResult(1, 7, "first")));
  EXPECT_TRUE(q.pushResult(CoreApiResult(2, 7, "second")));
  EXPECT_EQ(2, fired);
  bool found = false;
  CoreApiResult r = q.takeResult(7, &found);
  EXPECT_TRUE(found);
  EXPECT_EQ(2, r.code);
  EXPECT_EQ(7u, r.id);
  EXPECT_EQ("second", r.data);
  EXPECT_FALSE(q.hasResult(7));
}

TEST(ProcessingQueueTest, TakeResultWithoutResultErasesCallbacks) {
  ProcessingQueue<103> q;
  int completions = 0, notifications = 0;
  ASSERT_TRUE(q.push(CoreTransaction{21, 9, ""}, [&] { ++completions; },
                     [&](const CoreApiNotification&) { ++notifications; }));
  bool found = true;
  CoreApiResult r = q.takeResult(9, &found);
  EXPECT_FALSE(found);
  EXPECT_EQ(255, r.code);
  EXPECT_EQ(0u, r.id);
  EXPECT_TRUE(r.data.empty());

  CoreApiNotification n;
  n.id = 9;
  EXPECT_FALSE(q.notify(n));
  EXPECT_TRUE(q.pushResult(CoreApiResult(0, 9)));
  EXPECT_EQ(0, completions);
  EXPECT_EQ(0, notifications);
  // Queues of one kind share their state: leave it empty for a repeated run.
  CoreTransaction left;
  EXPECT_TRUE(q.pop(&left));
  EXPECT_EQ(9u, q.takeResult(9, &found).id);
}

TEST(ProcessingQueueTest, PopOnEmptyQueueResetsOutput) {
  ProcessingQueue<104> q;
  CoreTransaction t{5, 6, "stale"};
  EXPECT_FALSE(q.pop(&t));
  EXPECT_EQ(0u, t.command);
  EXPECT_EQ(0u, t.id);
  EXPECT_TRUE(t.data.empty());
  EXPECT_EQ(0u, q.size());
  bool taken = true;
  CoreTransaction by_value = q.pop(&taken);
  EXPECT_FALSE(taken);
  EXPECT_EQ(0u, by_value.id);
}

TEST(ProcessingQueueTest, TransactionsComeOutInOrderAcrossHandles) {
  ProcessingQueue<105> producer, consumer;
  for (uint32_t id = 1; id <= 5; ++id) {
    ASSERT_TRUE(producer.push(CoreTransaction{id + 100, id, std::string(id, 'x')}, nullptr,
                              nullptr));
  }
  EXPECT_EQ(5u, consumer.size());
  for (uint32_t id = 1; id <= 5; ++id) {
    bool taken = false;
    CoreTransaction t = consumer.pop(&taken);
    ASSERT_TRUE(taken);
    EXPECT_EQ(id, t.id);
    EXPECT_EQ(id + 100, t.command);
    EXPECT_EQ(std::string(id, 'x'), t.data);
  }
  EXPECT_EQ(0u, producer.size());
}

TEST(ProcessingQueueTest, DestroyedHandleLeavesTransactionsButDropsCallbacks) {
  ProcessingQueue<106> consumer;
  int fired = 0;
  {
    ProcessingQueue<106> submitter;
    ASSERT_TRUE(submitter.push(CoreTransaction{1, 11, ""}, [&fired] { ++fired; }, nullptr));
  }
  ASSERT_EQ(1u, consumer.size());
  CoreTransaction t;
  ASSERT_TRUE(consumer.pop(&t));
  EXPECT_TRUE(consumer.pushResult(CoreApiResult(0, t.id)));
  EXPECT_EQ(0, fired);
  EXPECT_TRUE(consumer.hasResult(11));
}

TEST(ProcessingQueueTest, RegistrationNeverReplacesAnEarlierOne) {
  ProcessingQueue<107> q;
  int first = 0, second = 0;
  ASSERT_TRUE(q.push(CoreTransaction{1, 3, ""}, [&first] { ++first; }, nullptr));
  ASSERT_TRUE(q.push(CoreTransaction{1, 3, ""}, [&second] { ++second; }, nullptr));
  EXPECT_TRUE(q.pushResult(CoreApiResult(0, 3)));
  EXPECT_EQ(1, first);
  EXPECT_EQ(0, second);
}

TEST(ProcessingQueueTest, NotifyReachesOnlyRegisteredIdentifiers) {
  ProcessingQueue<108> q;
  std::vector<uint32_t> seen;
  ASSERT_TRUE(q.push(CoreTransaction{1, 4, ""}, nullptr,
                     [&seen](const CoreApiNotification& n) { seen.push_back(n.kind); }));
  CoreApiNotification n;
  n.kind = 42;
  n.id = 0;
  EXPECT_FALSE(q.notify(n));
  n.id = 5;
  EXPECT_FALSE(q.notify(n));
  n.id = 4;
  EXPECT_TRUE(q.notify(n));
  ASSERT_EQ(1u, seen.size());
  EXPECT_EQ(42u, seen[0]);
}

// A consumer thread serving many submitters: every exec gets its own result.
TEST(ProcessingQueueTest, ExecReturnsItsOwnResultUnderConcurrency) {
  constexpr int kSubmitters = 4;
  constexpr int kEach = 50;
  std::atomic<bool> stop{false};
  std::thread consumer([&stop] {
    ProcessingQueue<109> q;
    while (!stop) {
      CoreTransaction t;
      if (!q.pop(&t)) {
        std::this_thread::yield();
        continue;
      }
      q.pushResult(CoreApiResult(static_cast<int32_t>(t.command), t.id, t.data + "!"));
    }
  });
  std::vector<std::thread> submitters;
  std::atomic<int> good{0};
  for (int s = 0; s < kSubmitters; ++s) {
    submitters.emplace_back([s, &good] {
      ProcessingQueue<109> q;
      for (int i = 0; i < kEach; ++i) {
        const uint32_t id = static_cast<uint32_t>(s * 1000 + i + 1);
        CoreApiResult r;
        if (q.exec(CoreTransaction{static_cast<uint32_t>(i % 7), id, std::to_string(id)}, &r) &&
            r.id == id && r.code == i % 7 && r.data == std::to_string(id) + "!") {
          ++good;
        }
      }
    });
  }
  for (auto& t : submitters) t.join();
  stop = true;
  consumer.join();
  EXPECT_EQ(kSubmitters * kEach, good.load());
  ProcessingQueue<109> q;
  EXPECT_EQ(0u, q.size());
}

}  // namespace
