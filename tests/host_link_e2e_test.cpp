// The host line of the real fr-core, over a pseudo-terminal.
#include <gtest/gtest.h>

#include <string>

#include "host/protocol.h"
#include "tools/sim/rig.h"

namespace {

std::string Bytes(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s.push_back(static_cast<char>(b));
  return s;
}

class HostLineTest : public testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(rig_.Prepare());
    std::vector<std::string> args;
    if (GetParam()[0] != '\0') args.push_back(GetParam());
    ASSERT_TRUE(rig_.Start(args));
    ASSERT_TRUE(rig_.WaitReady());
    rig_.host().Drain();
  }

  sim::Rig rig_{FR_CORE_PATH};
};

TEST_P(HostLineTest, WorkedFramesGiveExactBytes) {
  auto& host = rig_.host();
  ASSERT_TRUE(host.Send(Bytes({0x04, 0x05, 0x00, 0x33, 0x01, 0x00, 0x00, 0x00, 0xE1, 0x1C})));
  EXPECT_EQ(Bytes({0x04, 0x08, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x70, 0x23}),
            host.ReadRaw(13, 3000));
  ASSERT_TRUE(host.Send(Bytes({0x04, 0x05, 0x00, 0x33, 0x01, 0x00, 0x00, 0x00, 0x1C, 0xE1})));
  EXPECT_EQ(Bytes({0x04, 0x05, 0x00, 0x09, 0x00, 0x00, 0x00, 0x00, 0x15, 0x20}),
            host.ReadRaw(10, 3000));
}

TEST_P(HostLineTest, NoiseIsSkippedAndLoggedOneLineEach) {
  host::Reply r;
  ASSERT_TRUE(rig_.host().Send(Bytes({0x00, 0xFF, 0x7A})));
  ASSERT_TRUE(rig_.host().Request(51, 77, "", &r));
  EXPECT_EQ(0, r.code);
  EXPECT_EQ(77u, r.id);
  ASSERT_TRUE(rig_.process().WaitForStdout("<< 7a ", 3000));
  int skipped = 0;
  for (const std::string& line : rig_.process().StdoutLines()) {
    if (line.rfind("<< 0 ", 0) == 0 || line.rfind("<< ff ", 0) == 0 || line.rfind("<< 7a ", 0) == 0) {
      ++skipped;
    }
  }
  EXPECT_EQ(3, skipped);
}

TEST_P(HostLineTest, LengthAbove1024IsRefusedAnd1024IsServed) {
  host::Reply r;
  ASSERT_TRUE(rig_.host().Send(Bytes({0x04, 0x01, 0x04})));
  ASSERT_TRUE(rig_.host().ReadReply(&r));
  EXPECT_EQ(11, r.code);
  EXPECT_EQ(0u, r.id);
  ASSERT_TRUE(rig_.process().WaitForStdout("read 117 0104 1025", 3000));

  // Command 51 ignores its data; the body is the largest a frame may carry.
  ASSERT_TRUE(rig_.host().Request(51, 5, std::string(1019, '\x55'), &r));
  EXPECT_EQ(0, r.code);
  EXPECT_EQ(5u, r.id);
  std::string version;
  ASSERT_TRUE(host::DecodeVersion(r.data, &version));
  EXPECT_EQ("0.0.3", version);
}

TEST_P(HostLineTest, IdentifierZeroGetsAnAssignedOne) {
  host::Reply r;
  ASSERT_TRUE(rig_.host().Request(51, 0, "", &r));
  EXPECT_EQ(0, r.code);
  EXPECT_NE(0u, r.id);
}

TEST_P(HostLineTest, EmptyStartupStateAnswers) {
  struct Case {
    uint8_t command;
    std::string data;
    int code;
  };
  // The link alone never reads the EEPROM, so it has no key; a normal run
  // makes one on the blank EEPROM.
  const int key_code = std::string(GetParam()) == "-s" ? 25 : 0;
  const Case cases[] = {{16, "", 13}, {49, "", 13}, {50, "", key_code}, {68, Bytes({1, 0}), 38},
                        {68, Bytes({1}), 22}};
  for (const Case& c : cases) {
    host::Reply r;
    ASSERT_TRUE(rig_.host().Request(c.command, 9, c.data, &r));
    EXPECT_EQ(c.code, r.code) << int(c.command);
    EXPECT_EQ(9u, r.id);
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, HostLineTest, testing::Values("-s", "", "--any"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           const std::string p = info.param;
                           return p == "-s" ? std::string("LinkOnly")
                                            : p.empty() ? std::string("Normal") : std::string("OtherArgument");
                         });

// Through the command core: the normal run consumes the queue.
TEST(CommandCoreLineTest, QueuedCommandsAreAnswered) {
  sim::Rig rig(FR_CORE_PATH);
  ASSERT_TRUE(rig.Prepare());
  ASSERT_TRUE(rig.Start());
  ASSERT_TRUE(rig.WaitReady());
  host::Reply r;
  uint32_t id = 3;
  for (uint8_t code : {5, 23, 200}) {
    ASSERT_TRUE(rig.host().Request(code, ++id, "x", &r));
    EXPECT_EQ(10, r.code) << int(code);
    EXPECT_EQ(id, r.id);
    EXPECT_TRUE(r.data.empty());
  }
  ASSERT_TRUE(rig.host().Request(16, 4, "", &r));
  EXPECT_EQ(13, r.code);
  ASSERT_TRUE(rig.host().Request(48, 4, "", &r));
  EXPECT_EQ(13, r.code);
  EXPECT_EQ(4u, r.id);
}

}  // namespace
