#include "host/host_line.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tools/common/pty_pair.h"
#include "util/coding.h"

namespace host {
namespace {

using std::string_literals::operator""s;

TEST(HostLineTest, ReadsReplyFramesInPieces) {
  const std::string good = EncodeRequest(0, 0x12345678, "abc");
  std::string bad_crc = good;
  bad_crc.back() ^= 1;
  struct Case {
    std::vector<std::string> pieces;
    bool ok;
    std::string raw;  // what the read took
  };
  const Case cases[] = {
      {{good.substr(0, 2), good.substr(2, 5), good.substr(7)}, true, good},
      {{bad_crc}, false, bad_crc},
      {{"\x00"s + good}, false, "\x00"s},  // nothing is skipped
      {{good.substr(0, good.size() - 1)}, false, good.substr(0, good.size() - 1)},
  };
  for (const Case& c : cases) {
    sim::PtyPair pty;
    ASSERT_TRUE(pty.Open());
    const int device = open(pty.slave_name().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(device, 0);
    std::thread writer([&] {
      for (const std::string& piece : c.pieces) {
        HostLine(device).Send(piece);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    });
    Reply reply;
    EXPECT_EQ(c.ok, HostLine(pty.master()).ReadReply(&reply, 300)) << util::HexUpper(reply.raw);
    writer.join();
    close(device);
    EXPECT_EQ(util::HexUpper(c.raw), util::HexUpper(reply.raw));
    if (c.ok) {
      EXPECT_EQ("abc", reply.data);
    }
  }
}

// One program at a time, root included; the line is free again once given up.
TEST(HostLineTest, OnlyOneProgramHoldsTheLine) {
  sim::PtyPair pty;
  ASSERT_TRUE(pty.Open());
  const std::string path = pty.slave_name();
  HostLine first;
  ASSERT_TRUE(first.Open(path).ok());
  HostLine second;
  Status s = second.Open(path);
  EXPECT_NE(std::string::npos, s.message().find(path + " is in use by another program")) << s.ToString();
  first.Close();
  EXPECT_TRUE(second.Open(path).ok());
  s = HostLine().Open("/nonexistent/line");
  EXPECT_FALSE(s.ok());
  EXPECT_NE(std::string::npos, s.message().find("cannot open /nonexistent/line")) << s.ToString();
}

TEST(HostLineTest, WaitQuietGathersUntilSilence) {
  sim::PtyPair pty;
  ASSERT_TRUE(pty.Open());
  const int device = open(pty.slave_name().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(device, 0);
  std::thread writer([&] {
    for (const char* piece : {"ab", "cd", "ef"}) {
      HostLine(device).Send(piece);
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
  });
  HostLine line(pty.master());
  EXPECT_EQ("abcdef", line.WaitQuiet(150, 5000));
  writer.join();
  EXPECT_EQ("", line.WaitQuiet(10, 100));
  close(device);
}

}  // namespace
}  // namespace host
