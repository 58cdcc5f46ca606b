#include "storage/sd_card.h"

#include <gtest/gtest.h>

#include "platform/fake_env.h"

namespace {

class SdCardTest : public testing::Test {
 protected:
  void Card() {
    ASSERT_TRUE(env_.CreateDirectory("/dev"));
    ASSERT_TRUE(env_.WriteFile(sdcard::kDevice, ""));
  }
  platform::FakeEnv env_;
};

TEST_F(SdCardTest, NoCardRunsNoMount) {
  EXPECT_FALSE(sdcard::mount(&env_));
  EXPECT_EQ(std::vector<std::string>{"NO SD CARD"}, env_.lines());
  EXPECT_TRUE(env_.commands().empty());
  EXPECT_EQ("", sdcard::archivePath(&env_));
  EXPECT_EQ(0u, sdcard::maxDocuments(&env_));
}

TEST_F(SdCardTest, MissingMountPointIsCreatedAndTheCardMounted) {
  Card();
  ASSERT_TRUE(env_.CreateDirectory("/mnt"));
  EXPECT_FALSE(sdcard::mounted(&env_));
  EXPECT_TRUE(sdcard::mount(&env_));
  EXPECT_TRUE(env_.lines().empty());
  EXPECT_EQ(std::vector<std::string>{"mount -t vfat /dev/mmcblk0p1 /mnt/sd/ -o sync"}, env_.commands());
  EXPECT_EQ("/mnt/sd/V0XD24TX", sdcard::archivePath(&env_));
  // Already mounted: used as it is.
  EXPECT_TRUE(sdcard::mount(&env_));
  EXPECT_EQ(1u, env_.commands().size());
}

TEST_F(SdCardTest, MountFailures) {
  Card();
  // No /mnt to create the mount point in.
  EXPECT_FALSE(sdcard::mount(&env_));
  EXPECT_EQ(std::vector<std::string>{"NO MOUNT POINT"}, env_.lines());
  env_.ClearLines();
  ASSERT_TRUE(env_.CreateDirectory("/mnt"));
  ASSERT_TRUE(env_.WriteFile("/sandbox/mount-fails", ""));
  EXPECT_FALSE(sdcard::mount(&env_));
  EXPECT_EQ(std::vector<std::string>{"SD CARD MOUNT ERROR"}, env_.lines());
  EXPECT_EQ(1u, env_.commands().size());
}

TEST_F(SdCardTest, CapacityFromAvailableSpace) {
  Card();
  ASSERT_TRUE(env_.CreateDirectory("/mnt"));
  ASSERT_TRUE(sdcard::mount(&env_));
  struct Case {
    uint64_t available, usable;
    uint32_t documents;
  };
  const Case cases[] = {
      {1ull << 30, 858993456, 26214},
      {16ull << 30, 13743895344ull, 250000},
      {32767, 26208, 0},
      {0, 0, 0},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(env_.WriteFile("/sandbox/free-bytes", std::to_string(c.available)));
    EXPECT_EQ(c.usable, sdcard::usableBytes(&env_)) << c.available;
    EXPECT_EQ(c.documents, sdcard::maxDocuments(&env_)) << c.available;
  }
}

}  // namespace
