// The EEPROM service modes of the real fr-core on a sandbox board.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "tools/common/device_process.h"
#include "tools/common/sandbox.h"

namespace {

const std::string kBlankLine = [] {
  std::string line;
  for (int group = 0; group < 8; ++group) line += (group ? "  " : "") + std::string(16, 'F');
  return line;
}();

class EepromModeTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(sandbox_.Create()); }

  int Run(const std::vector<std::string>& args) {
    sim::DeviceProcess p;
    EXPECT_TRUE(p.Start(FR_CORE_PATH, args, sandbox_.dir(), sandbox_.dir() + "/log"));
    int status = -1;
    EXPECT_TRUE(p.Wait(10000, &status));
    lines_ = p.StdoutLines();
    stderr_ = p.Stderr();
    std::string eeprom;
    sandbox_.ReadFile(sim::Sandbox::kEepromPath, &eeprom);
    eeprom_ = eeprom;
    // Logs append across runs; start each run from a clean slate.
    std::remove((sandbox_.dir() + "/log/stdout.log").c_str());
    std::remove((sandbox_.dir() + "/log/stderr.log").c_str());
    return status;
  }

  sim::Sandbox sandbox_ = sim::Sandbox::Temp();
  std::vector<std::string> lines_;
  std::string stderr_, eeprom_;
};

TEST_F(EepromModeTest, DumpOfBlankEepromIs64LinesOfF) {
  ASSERT_TRUE(sandbox_.WriteBlankEeprom());
  ASSERT_EQ(0, Run({"-d"}));
  ASSERT_EQ(64u, lines_.size());
  for (const std::string& line : lines_) {
    EXPECT_EQ(142u, line.size());
    EXPECT_EQ(kBlankLine, line);
  }
}

TEST_F(EepromModeTest, DumpShowsBytesInOrderAndAShortFileIsAnError) {
  std::string bytes;
  for (int i = 0; i < 4096; ++i) bytes.push_back(static_cast<char>(i % 251));
  ASSERT_TRUE(sandbox_.WriteEeprom(bytes));
  ASSERT_EQ(0, Run({"-d"}));
  ASSERT_EQ(64u, lines_.size());
  EXPECT_EQ("0001020304050607  08090A0B0C0D0E0F  1011121314151617  18191A1B1C1D1E1F  "
            "2021222324252627  28292A2B2C2D2E2F  3031323334353637  38393A3B3C3D3E3F",
            lines_[0]);
  EXPECT_EQ(0u, lines_[1].find("4041424344454647  "));

  // 100 bytes would print as an identity followed by blank bytes.
  ASSERT_TRUE(sandbox_.WriteEeprom(bytes.substr(0, 100)));
  EXPECT_EQ(1, Run({"-d"}));
  EXPECT_TRUE(lines_.empty());
  EXPECT_NE(std::string::npos, stderr_.find("holds 100 bytes, not 4096")) << stderr_;
}

TEST_F(EepromModeTest, WipeBlanksAWrittenEepromAndDumpsIt) {
  ASSERT_TRUE(sandbox_.WriteEeprom(std::string(4096, '\x11')));
  ASSERT_EQ(0, Run({"-c"}));
  EXPECT_EQ(std::string(4096, '\xFF'), eeprom_);
  ASSERT_EQ(64u, lines_.size());
  for (const std::string& line : lines_) EXPECT_EQ(kBlankLine, line);
}

TEST_F(EepromModeTest, OnlyTheFirstArgumentCounts) {
  ASSERT_TRUE(sandbox_.WriteEeprom(std::string(4096, '\x22')));
  ASSERT_EQ(0, Run({"-d", "-c"}));
  EXPECT_EQ(std::string(4096, '\x22'), eeprom_);
  ASSERT_EQ(64u, lines_.size());
  EXPECT_EQ(0u, lines_[0].find("2222222222222222  "));
}

// One fr-core per board: while one runs, every mode of a second refuses
// with status 1 and touches nothing; once the first dies, however, the
// board is free again.
TEST_F(EepromModeTest, ASecondFrCoreOnTheBoardRefusesInEveryMode) {
  ASSERT_TRUE(sandbox_.WriteEeprom(std::string(4096, '\x33')));
  sim::DeviceProcess first;
  ASSERT_TRUE(first.Start(FR_CORE_PATH, {}, sandbox_.dir(), sandbox_.dir() + "/first"));
  const std::string lock = sandbox_.dir() + "/run/fr-core/core.lock";
  pid_t holder = 0;
  for (int i = 0; i < 200 && holder != first.pid(); ++i) {
    const int fd = open(lock.c_str(), O_RDONLY | O_CLOEXEC);
    struct flock asked = {};
    asked.l_type = F_RDLCK;
    if (fd >= 0 && fcntl(fd, F_GETLK, &asked) == 0 && asked.l_type != F_UNLCK) holder = asked.l_pid;
    if (fd >= 0) close(fd);
    if (holder != first.pid()) usleep(20000);
  }
  ASSERT_EQ(first.pid(), holder) << "the first fr-core holds the board's lock";
  std::string written;
  ASSERT_TRUE(sandbox_.ReadFile("/run/fr-core/core.lock", &written));
  EXPECT_EQ(std::to_string(first.pid()) + "\n", written) << "and says so in it";
  for (const char* mode : {"", "-c", "-d", "-s", "--version"}) {
    EXPECT_EQ(1, Run(*mode ? std::vector<std::string>{mode} : std::vector<std::string>{})) << mode;
    EXPECT_NE(std::string::npos, stderr_.find("another fr-core runs on this board")) << mode << ": " << stderr_;
    EXPECT_NE(std::string::npos, stderr_.find("process " + std::to_string(first.pid()))) << mode;
    EXPECT_TRUE(lines_.empty()) << mode;
    EXPECT_EQ(std::string(4096, '\x33'), eeprom_) << mode;
  }
  first.Kill(SIGKILL);
  int status = 0;
  ASSERT_TRUE(first.Wait(5000, &status));
  EXPECT_EQ(0, Run({"-d"}));
  EXPECT_EQ(64u, lines_.size());
}

TEST_F(EepromModeTest, MissingEepromIsReportedWithFailureStatus) {
  for (const char* mode : {"-c", "-d"}) {
    EXPECT_NE(0, Run({mode})) << mode;
    EXPECT_TRUE(lines_.empty()) << mode;
    EXPECT_NE(std::string::npos, stderr_.find("cannot open the identity EEPROM")) << mode;
  }
}

}  // namespace
