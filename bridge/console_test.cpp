#include "bridge/console.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/fake_env.h"

namespace bridge {
namespace {

// A virtual register's paper directory with the given sheets: stem and the
// text printed on it.
std::string PaperDir(platform::FakeEnv* env, const std::vector<std::pair<std::string, std::string>>& sheets) {
  const std::string dir = env->Resolve("/emu");
  EXPECT_TRUE(env->CreateDirectory("/emu") && env->CreateDirectory("/emu/paper"));
  for (const auto& s : sheets) {
    std::ofstream(dir + "/paper/" + s.first + ".txt") << s.second;
    std::ofstream(dir + "/paper/" + s.first + ".png") << "\x89PNG";
  }
  return dir;
}

TEST(ConsoleTest, SheetsComeNewestFirstWithTheDocumentPrintedOnThem) {
  platform::FakeEnv env;
  const std::string dir = PaperDir(&env, {{"0009", "ЧЕК 1\nФД 12\t4200012345\n"},
                                          {"0010", "X-Отчет\n"},
                                          {"10000", "ФД 4294967296\n"},  // not a number the register has
                                          {"010", "ФД 3\n"}});          // not a sheet's name
  std::ofstream(dir + "/paper/0011.txt") << "ФД 13\n";  // its picture not drawn yet
  const nlohmann::json all = PaperSheets(dir, 50);
  ASSERT_EQ(3u, all.size()) << all.dump();
  EXPECT_EQ("10000", all[0]["sheet"]);
  EXPECT_TRUE(all[0]["document"].is_null());
  EXPECT_EQ("0010", all[1]["sheet"]);
  EXPECT_TRUE(all[1]["document"].is_null());
  EXPECT_EQ(12, all[2]["document"]);
  EXPECT_EQ(1u, PaperSheets(dir, 1).size());
  EXPECT_TRUE(PaperSheets(env.Resolve("/nowhere"), 50).empty());
}

TEST(ConsoleTest, OnlyASheetsOwnFilesAreRead) {
  platform::FakeEnv env;
  const std::string dir = PaperDir(&env, {{"0001", "ФД 1\n"}});
  ASSERT_TRUE(env.WriteFile("/emu/secret.txt", "no"));
  std::string bytes;
  EXPECT_TRUE(ReadPaper(dir, "0001.txt", &bytes));
  EXPECT_EQ("ФД 1\n", bytes);
  for (const char* name : {"../secret.txt", "0001.exe", "01.txt", "0001", "abcd.txt", "0001.txt/..", "0002.png",
                           "0001.png.txt", ""}) {
    EXPECT_FALSE(ReadPaper(dir, name, &bytes)) << name;
  }
}

TEST(ConsoleTest, FilesAreServedByTheirKind) {
  EXPECT_EQ(nullptr, FindConsoleFile("missing.js"));
  EXPECT_STREQ("text/javascript; charset=utf-8", ContentTypeOf("console.js"));
  EXPECT_STREQ("image/png", ContentTypeOf("0001.png"));
  EXPECT_STREQ("application/octet-stream", ContentTypeOf("js"));
}

}  // namespace
}  // namespace bridge
