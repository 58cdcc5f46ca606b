#include "platform/board_env.h"
#include "platform/sandbox_env.h"

#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>

// Every fsync of this test program, counted on its way to the kernel: the
// board's Sync must reach the medium, not only the C library's buffers.
std::atomic<int> g_file_syncs{0};
std::atomic<int> g_directory_syncs{0};
extern "C" int fsync(int fd) {
  struct stat st;
  if (fstat(fd, &st) == 0) (S_ISDIR(st.st_mode) ? g_directory_syncs : g_file_syncs)++;
  return static_cast<int>(syscall(SYS_fsync, fd));
}

namespace platform {
namespace {

// The board is 32-bit: these fail there when off_t or time_t is 32 bits wide.
class BoardEnvTest : public testing::Test {
 protected:
  void SetUp() override {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp ? tmp : "/tmp") + "/fr-posix-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(&pattern[0]));
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  BoardEnv env_;
  std::string dir_;
};

TEST_F(BoardEnvTest, FileOffsetsPast4GiB) {
  const uint64_t offset = (uint64_t{5} << 30) + 3;  // sparse: no space is used
  const std::string path = dir_ + "/big";
  std::unique_ptr<File> f = env_.OpenFile(path, "w+");
  ASSERT_NE(nullptr, f);
  ASSERT_TRUE(f->Seek(offset));
  ASSERT_EQ(3u, f->Write("xyz", 3));
  ASSERT_TRUE(f->Close());

  uint64_t size = 0;
  ASSERT_TRUE(env_.FileSize(path, &size));
  EXPECT_EQ(offset + 3, size);
  f = env_.OpenFile(path, "r");
  ASSERT_NE(nullptr, f);
  char buf[4] = {};
  ASSERT_TRUE(f->Seek(offset - 1));
  ASSERT_EQ(4u, f->Read(buf, 4));
  EXPECT_EQ(std::string("\0xyz", 4), std::string(buf, 4));
}

TEST_F(BoardEnvTest, ClockPast2038) {
  const int64_t t = 2193134400;  // 2039-07-01 12:00:00 UTC: July in every time zone
  struct tm tm = {};
  ASSERT_TRUE(env_.LocalTime(t, &tm));
  EXPECT_EQ(139, tm.tm_year);
  EXPECT_EQ(6, tm.tm_mon);
  tm.tm_isdst = -1;
  EXPECT_EQ(t, env_.MakeLocalTime(&tm));
}

TEST_F(BoardEnvTest, SyncReachesTheMediumAndANewFilesDirectory) {
  SandboxEnv board(dir_);
  ASSERT_TRUE(board.CreateDirectory("/card"));
  struct Case {
    const char* mode;
    int file_syncs, directory_syncs;  // for two Syncs after a write each
  } cases[] = {{"w", 2, 1}, {"r+", 2, 0}, {"a", 2, 0}};
  for (const Case& c : cases) {
    const int files = g_file_syncs, dirs = g_directory_syncs;
    std::unique_ptr<File> f = board.OpenFile("/card/FILE", c.mode);
    ASSERT_NE(nullptr, f) << c.mode;
    for (int i = 0; i < 2; ++i) {
      ASSERT_EQ(4u, f->Write("data", 4));
      ASSERT_TRUE(f->Sync());
    }
    EXPECT_EQ(c.file_syncs, g_file_syncs - files) << c.mode;
    EXPECT_EQ(c.directory_syncs, g_directory_syncs - dirs) << c.mode;
  }
}

}  // namespace
}  // namespace platform
