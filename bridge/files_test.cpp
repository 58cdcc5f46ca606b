#include "bridge/files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/fake_env.h"

namespace bridge {
namespace {

namespace fs = std::filesystem;

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// A secret written whole is nobody else's, even where an earlier run left
// its half-written copy open to all; one that others may read is made
// private once, and says what it was.
TEST(FilesTest, WhatIsMadePrivateIsNobodyElses) {
  platform::FakeEnv env;
  const std::string secret = env.Resolve("/secret");
  std::ofstream(secret + ".new") << "left over";
  fs::permissions(secret + ".new", fs::perms(0666));
  ASSERT_TRUE(WritePrivate(secret, "s3cret"));
  EXPECT_EQ(Read(secret), "s3cret");
  EXPECT_FALSE(fs::exists(secret + ".new"));
  EXPECT_EQ(fs::status(secret).permissions(), fs::perms(0600));
  std::string how, fix;
  EXPECT_FALSE(OpenToOthers(secret, &how, &fix));

  const struct {
    const char* path;
    bool directory;
    unsigned mode;
    const char* was;
    const char* now;
  } cases[] = {{"/tokens", false, 0644, "mode 644", "600"}, {"/state", true, 0755, "mode 755", "700"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const std::string path = env.Resolve(c.path);
    if (c.directory) {
      fs::create_directory(path);
    } else {
      std::ofstream(path) << "admin token";
    }
    fs::permissions(path, fs::perms(c.mode));
    ASSERT_TRUE(OpenToOthers(path, &how, &fix));
    EXPECT_EQ(how, c.was);
    EXPECT_EQ(fix, "chmod 600 it");
    std::string was, now;
    ASSERT_TRUE(MakePrivate(path, c.directory, &was, &now));
    EXPECT_EQ(was, c.was);
    EXPECT_EQ(now, c.now);
    EXPECT_FALSE(OpenToOthers(path, &how, &fix));
    EXPECT_FALSE(MakePrivate(path, c.directory, &was, &now)) << "private already";
  }
}

// The state's lock has one holder: a second, in this process as in another,
// is refused at once until the first lets go.
TEST(FilesTest, ALockHasOneHolderAtATime) {
  platform::FakeEnv env;
  const std::string path = env.Resolve("/lock");
  FileLock second;
  {
    FileLock first;
    ASSERT_EQ(first.Take(path), FileLock::kHeld);
    EXPECT_EQ(second.Take(path), FileLock::kTaken);
  }
  EXPECT_EQ(second.Take(path), FileLock::kHeld);
  FileLock nowhere;
  EXPECT_EQ(nowhere.Take(env.Resolve("/no/such/dir/lock")), FileLock::kCannotOpen);
}

}  // namespace
}  // namespace bridge
