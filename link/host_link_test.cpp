#include "link/host_link.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <mutex>
#include <thread>

#include "app/codes.h"
#include "link/frame_format.h"
#include "platform/fake_env.h"
#include "host/host_line.h"
#include "tools/common/pty_pair.h"
#include "util/coding.h"
#include "util/crc.h"

namespace {

std::string Bytes(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s.push_back(static_cast<char>(b));
  return s;
}

class FakeLinkState : public LinkState {
 public:
  bool modelData(std::string* record, std::string* serial) override {
    std::lock_guard<std::mutex> lock(mu);
    *record = model_record;
    *serial = model_serial;
    return model_valid;
  }
  std::string deviceKey() override {
    std::lock_guard<std::mutex> lock(mu);
    return key;
  }
  bool registrationField(uint16_t field, std::string* value) override {
    std::lock_guard<std::mutex> lock(mu);
    if (!registered) return false;
    *value = fields[field];
    return true;
  }
  void statusRecords(std::string* s, std::string* c) override {
    std::lock_guard<std::mutex> lock(mu);
    *s = status;
    *c = cycle;
  }
  void markStatusConstant() override {
    std::lock_guard<std::mutex> lock(mu);
    status[3] = 50;
  }

  std::mutex mu;
  bool model_valid = false;
  std::string model_record, model_serial, key;
  bool registered = false;
  std::map<uint16_t, std::string> fields;
  std::string status = std::string(21, '\0');
  std::string cycle = std::string(24, '\0');
};

// A host link on a pseudo-terminal, a consumer of its queue on another
// thread answering every transaction, and the host's end of the line.
class HostLinkTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.Open());
    ASSERT_TRUE(env_.CreateDirectory("/dev"));
    ASSERT_EQ(0, symlink(pty_.slave_name().c_str(), env_.Resolve("/dev/ttyGS0").c_str()));
    host_.reset(new host::HostLine(pty_.master()));
    link_.reset(new HostLink(&env_, &state_));
    link_thread_ = std::thread([this] { link_->run(); });
    consumer_ = std::thread([this] {
      CoreQueue queue;
      while (!stop_consumer_) {
        CoreTransaction t;
        if (!queue.pop(&t)) {
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
          continue;
        }
        {
          std::lock_guard<std::mutex> lock(seen_mu_);
          seen_.push_back(t);
        }
        queue.pushResult(CoreApiResult(rc::kUnknownCommand, t.id, "queued:" + t.data));
      }
    });
  }

  void TearDown() override {
    link_->requestStop();
    pty_.CloseMaster();  // the blocked read fails, the loop sees the stop
    link_thread_.join();
    stop_consumer_ = true;
    consumer_.join();
  }

  std::vector<CoreTransaction> Seen() {
    std::lock_guard<std::mutex> lock(seen_mu_);
    return seen_;
  }

  host::Reply Ask(const std::string& bytes) {
    host::Reply r;
    EXPECT_TRUE(host_->Send(bytes));
    EXPECT_TRUE(host_->ReadReply(&r));
    return r;
  }

  platform::FakeEnv env_;
  FakeLinkState state_;
  sim::PtyPair pty_;
  std::unique_ptr<host::HostLine> host_;
  std::unique_ptr<HostLink> link_;
  std::thread link_thread_, consumer_;
  std::atomic<bool> stop_consumer_{false};
  std::mutex seen_mu_;
  std::vector<CoreTransaction> seen_;
};

TEST_F(HostLinkTest, WorkedExamplesGiveExactBytes) {
  // The resend byte before any reply gets code 17, identifier 0.
  ASSERT_TRUE(host_->Send(Bytes({0x05})));
  EXPECT_EQ(Bytes({0x04, 0x05, 0x00, 0x11, 0x00, 0x00, 0x00, 0x00, 0x62, 0x26}),
            host_->ReadRaw(10, 3000));
  // Version, identifier 1.
  ASSERT_TRUE(host_->Send(Bytes({0x04, 0x05, 0x00, 0x33, 0x01, 0x00, 0x00, 0x00, 0xE1, 0x1C})));
  const std::string version =
      Bytes({0x04, 0x08, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x70, 0x23});
  EXPECT_EQ(version, host_->ReadRaw(13, 3000));
  // The last reply again.
  ASSERT_TRUE(host_->Send(Bytes({0x05})));
  EXPECT_EQ(version, host_->ReadRaw(13, 3000));
  // Swapped CRC bytes.
  ASSERT_TRUE(host_->Send(Bytes({0x04, 0x05, 0x00, 0x33, 0x01, 0x00, 0x00, 0x00, 0x1C, 0xE1})));
  EXPECT_EQ(Bytes({0x04, 0x05, 0x00, 0x09, 0x00, 0x00, 0x00, 0x00, 0x15, 0x20}),
            host_->ReadRaw(10, 3000));
}

TEST_F(HostLinkTest, NoiseBeforeFrameIsSkippedAndLogged) {
  env_.set_now(1700000000);
  host::Reply r = Ask(Bytes({0x00, 0xFF}) + host::EncodeRequest(cmd::kVersion, 7, ""));
  EXPECT_EQ(rc::kOk, r.code);
  EXPECT_EQ(7u, r.id);
  std::vector<std::string> lines = env_.lines();
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ("<< 0 1700000000", lines[0]);
  EXPECT_EQ("<< ff 1700000000", lines[1]);
}

TEST_F(HostLinkTest, FrameLengthErrors) {
  struct Case {
    std::string bytes;
    std::string log;
  };
  const Case cases[] = {
      {Bytes({0x04, 0x01, 0x04}), "read 117 0104 1025"},
      {Bytes({0x04, 0x0A}), "read 110 0A"},
      {Bytes({0x04, 0x0A, 0x00, 0x33, 0x01, 0x00}), "read 124  10 330100"},
  };
  for (const Case& c : cases) {
    env_.ClearLines();
    host::Reply r = Ask(c.bytes);
    EXPECT_EQ(rc::kFrameLength, r.code) << c.log;
    EXPECT_EQ(0u, r.id);
    EXPECT_TRUE(r.data.empty());
    ASSERT_FALSE(env_.lines().empty()) << c.log;
    EXPECT_EQ(c.log, env_.lines().back());
    host_->Drain();
  }
}

TEST_F(HostLinkTest, EmptyBodyIsRefusedWithLengthError) {
  host::Reply r = Ask(host::EncodeFrame(""));
  EXPECT_EQ(rc::kFrameLength, r.code);
  // The frame was consumed whole: the next one is served normally.
  r = Ask(host::EncodeRequest(cmd::kVersion, 3, ""));
  EXPECT_EQ(rc::kOk, r.code);
  EXPECT_EQ(3u, r.id);
}

TEST_F(HostLinkTest, LargestBodyInOnePieceIsServed) {
  const std::string data(frame::kMaxBody - 5, 'z');
  host::Reply r = Ask(host::EncodeRequest(99, 0x01020304, data));
  EXPECT_EQ(rc::kUnknownCommand, r.code);
  EXPECT_EQ(0x01020304u, r.id);
  EXPECT_EQ("queued:" + data, r.data);
}

TEST_F(HostLinkTest, ShortBodiesGetAnAssignedIdentifierAndNoData) {
  const std::string bodies[] = {Bytes({99}), Bytes({99, 1}), Bytes({99, 1, 2}),
                                Bytes({99, 1, 2, 3}), Bytes({99, 0, 0, 0, 0})};
  for (const std::string& body : bodies) {
    host::Reply r = Ask(host::EncodeFrame(body));
    EXPECT_EQ(rc::kUnknownCommand, r.code);
    EXPECT_NE(0u, r.id) << body.size();
    EXPECT_EQ("queued:", r.data) << body.size();
    ASSERT_FALSE(Seen().empty());
    EXPECT_EQ(r.id, Seen().back().id);
    EXPECT_EQ(99u, Seen().back().command);
  }
}

TEST_F(HostLinkTest, AssignedIdentifierHashesCommandTimeDataAndRandom) {
  env_.set_now(1700000000);
  env_.SeedRandom(5);
  host::Reply first = Ask(host::EncodeRequest(cmd::kVersion, 0, "ab"));
  env_.set_now(1700000001);
  env_.SeedRandom(5);
  host::Reply second = Ask(host::EncodeRequest(cmd::kVersion, 0, "ab"));
  EXPECT_NE(first.id, second.id);

  // Recompute the first one independently.
  platform::FakeEnv rng;
  rng.SeedRandom(5);
  std::string hashed = Bytes({cmd::kVersion});
  util::PutFixed32(&hashed, 1700000000);
  hashed += "ab";
  hashed.push_back(static_cast<char>(rng.Random() & 0xFF));
  hashed.push_back(static_cast<char>(rng.Random() & 0xFF));
  EXPECT_EQ(util::Crc32(hashed), first.id);
}

TEST_F(HostLinkTest, SelfServedCommandsWithoutIdentity) {
  struct Case {
    uint8_t command;
    std::string data;
    int code;
  };
  const Case cases[] = {
      {cmd::kShiftStatus, "", rc::kNoSerialNumber}, {cmd::kDeviceStatus, "", rc::kNoSerialNumber},
      {cmd::kModelData, "", rc::kNoSerialNumber},   {cmd::kDeviceKey, "", rc::kIdentityFailure},
      {cmd::kRegistrationField, "\x01", rc::kBadData},
      {cmd::kRegistrationField, std::string("\x01\x00\x00", 3), rc::kBadData},
      {cmd::kRegistrationField, std::string("\x01\x00", 2), rc::kNoRegistration},
  };
  uint32_t id = 100;
  for (const Case& c : cases) {
    host::Reply r = Ask(host::EncodeRequest(c.command, ++id, c.data));
    EXPECT_EQ(c.code, r.code) << int(c.command) << " " << c.data.size();
    EXPECT_EQ(id, r.id);
    EXPECT_TRUE(r.data.empty());
  }
}

TEST_F(HostLinkTest, SelfServedCommandsWithIdentity) {
  std::string status(21, '\0'), cycle(24, '\0');
  status[0] = 0x08;  // shift open
  status[3] = 0;     // restored by 48
  status[4] = 0x34;  // shift number 0x1234
  status[5] = 0x12;
  status[14] = 7;  // receipts in the shift
  for (size_t i = 0; i < 24; ++i) cycle[i] = static_cast<char>(i + 1);
  {
    std::lock_guard<std::mutex> lock(state_.mu);
    state_.model_valid = true;
    state_.model_record = std::string(48, 'M');
    state_.model_serial = "0123456789";
    state_.key = std::string(16, '\x5A');
    state_.registered = true;
    state_.fields[1018] = "7701234567";
    state_.status = status;
    state_.cycle = cycle;
  }
  host::Reply r = Ask(host::EncodeRequest(cmd::kShiftStatus, 1, ""));
  ASSERT_EQ(rc::kOk, r.code);
  EXPECT_EQ(Bytes({1, 0x34, 0x12, 7, 0}) + cycle, r.data);

  r = Ask(host::EncodeRequest(cmd::kDeviceStatus, 2, "p"));
  ASSERT_EQ(rc::kOk, r.code);
  status[3] = 50;
  EXPECT_EQ("0123456789" + status, r.data);
  ASSERT_EQ(1u, Seen().size());  // the printer was polled through the queue
  EXPECT_EQ(cmd::kPrinterStatus, Seen()[0].command);
  EXPECT_EQ(2u, Seen()[0].id);
  EXPECT_EQ("p", Seen()[0].data);

  r = Ask(host::EncodeRequest(cmd::kModelData, 3, ""));
  EXPECT_EQ(rc::kOk, r.code);
  EXPECT_EQ(std::string(44, 'M'), r.data);

  r = Ask(host::EncodeRequest(cmd::kDeviceKey, 4, ""));
  EXPECT_EQ(rc::kOk, r.code);
  EXPECT_EQ(Bytes({0, 0, 3, 0x3E, 0, 0, 0, 0, 0, 0, 0}) + std::string(16, '\x5A'), r.data);

  r = Ask(host::EncodeRequest(cmd::kRegistrationField, 5, Bytes({0xFA, 0x03})));
  EXPECT_EQ(rc::kOk, r.code);
  EXPECT_EQ("7701234567", r.data);
}

TEST(HostLinkReplyTest, OverlongPayloadBecomesSingleByteBody) {
  struct Case {
    size_t data_size;
    size_t body_size;
    int code;
  };
  const Case cases[] = {{0, 5, 0}, {4092, 4097, 0}, {4093, 1, rc::kFrameLength}};
  for (const Case& c : cases) {
    const std::string frame = HostLink::encodeReply(CoreApiResult(0, 9, std::string(c.data_size, 'd')));
    ASSERT_EQ(c.body_size + 5, frame.size());
    size_t used = 0;
    host::Reply r;
    // Whole with a good CRC, its length field covering exactly the body.
    ASSERT_EQ(host::ParseStatus::kComplete, host::ParseFrame(frame, &used, &r)) << c.data_size;
    EXPECT_EQ(frame.size(), used);
    EXPECT_EQ(c.code, r.code);
  }
}

// A line that cannot be opened: every pass fails its first read, answers 12
// into the void and pauses 20 ms.
TEST(HostLinkPortTest, UnopenablePortFailsEveryPass) {
  platform::FakeEnv env;
  FakeLinkState state;
  HostLink link(&env, &state);
  std::thread t([&link] { link.run(); });
  while (env.lines().size() < 3) std::this_thread::yield();
  link.requestStop();
  t.join();
  const std::vector<std::string> lines = env.lines();
  ASSERT_GE(lines.size(), 3u);
  for (const std::string& line : lines) EXPECT_EQ("read 104 EMPTY BUF", line);
  EXPECT_GE(env.slept_ms(), 20 * static_cast<int64_t>(lines.size() - 1));
}

}  // namespace
