#include "bridge/log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tools/common/sandbox.h"

namespace bridge {
namespace {

// Past its size the log moves down one name; the oldest of the kept files
// goes, and no line is lost from those kept.
TEST(LogTest, RotatesKeepingTheNewestFiles) {
  const sim::Sandbox dir = sim::Sandbox::Temp();
  const std::string path = dir.dir() + "/bridge.log";
  constexpr int kLines = 40;
  {
    Log log(stderr);
    ASSERT_TRUE(log.Open(path, 200));
    for (int i = 0; i < kLines; ++i) log.Write({{"n", i}});
  }
  int last = kLines, files = 0;
  for (int i = 0; i <= Log::kKeepFiles + 1; ++i) {
    const std::string name = i == 0 ? path : path + "." + std::to_string(i);
    if (!std::filesystem::exists(name)) continue;
    ++files;
    EXPECT_LE(i, Log::kKeepFiles) << name;
    // Newer files hold later lines, each file its lines in order.
    std::ifstream in(name);
    std::string line;
    int first = -1, prev = -1;
    while (std::getline(in, line)) {
      const int n = nlohmann::json::parse(line)["n"];
      if (first < 0) first = n;
      EXPECT_EQ(prev < 0 ? n : prev + 1, n) << name;
      prev = n;
    }
    if (i > 0 || prev >= 0) {
      EXPECT_EQ(last - 1, prev) << name;
      last = first;
    }
  }
  EXPECT_EQ(Log::kKeepFiles + 1, files);
}

}  // namespace
}  // namespace bridge
