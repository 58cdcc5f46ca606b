#include "bridge/console.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
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
                                          {"010", "ФД 3\n"}});           // not a sheet's name
  std::ofstream(dir + "/paper/0011.txt") << "ФД 13\n";                   // its picture not drawn yet
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
  for (const char* name :
       {"../secret.txt", "0001.exe", "01.txt", "0001", "abcd.txt", "0001.txt/..", "0002.png", "0001.png.txt", ""}) {
    EXPECT_FALSE(ReadPaper(dir, name, &bytes)) << name;
  }
}

TEST(ConsoleTest, OnlyRegularFilesUpToTheLimitAreSheets) {
  namespace fs = std::filesystem;
  platform::FakeEnv env;
  const std::string dir = PaperDir(&env, {{"0001", "ФД 1\n"}, {"0002", ""}});
  const std::string paper = dir + "/paper/";
  ASSERT_TRUE(env.WriteFile("/emu/secret.txt", "ФД 99\n"));
  fs::remove(paper + "0002.txt");
  fs::create_symlink(dir + "/secret.txt", paper + "0002.txt");
  fs::create_symlink(paper + "0001.png", paper + "0003.png");
  std::ofstream(paper + "0005.png").close();
  fs::resize_file(paper + "0005.png", kMaxSheetBytes + 1);
  std::ofstream(paper + "0006.png").close();
  fs::resize_file(paper + "0006.png", kMaxSheetBytes);
  ASSERT_EQ(0, mkfifo((paper + "0007.txt").c_str(), 0600));
  const struct {
    const char* file;
    bool served;
  } cases[] = {
      {"0001.txt", true},  {"0002.txt", false},  // a link out of the folder
      {"0003.png", false},                       // a link to a sheet
      {"0005.png", false}, {"0006.png", true},   // one byte over the limit, and at it
      {"0007.txt", false},                       // a FIFO, which would never end
  };
  for (const auto& c : cases) {
    std::string bytes;
    EXPECT_EQ(c.served, ReadPaper(dir, c.file, &bytes)) << c.file;
  }
  const nlohmann::json all = PaperSheets(dir, 50);
  std::vector<std::string> stems;
  for (const auto& sheet : all) stems.push_back(sheet["sheet"]);
  EXPECT_EQ((std::vector<std::string>{"0006", "0005", "0002", "0001"}), stems) << all.dump();
  EXPECT_TRUE(all[2]["document"].is_null()) << "read through the link: " << all.dump();
}

TEST(ConsoleTest, FilesAreServedByTheirKind) {
  EXPECT_EQ(nullptr, FindConsoleFile("missing.js"));
  EXPECT_STREQ("text/javascript; charset=utf-8", ContentTypeOf("console.js"));
  EXPECT_STREQ("image/png", ContentTypeOf("0001.png"));
  EXPECT_STREQ("application/octet-stream", ContentTypeOf("js"));
}

}  // namespace
}  // namespace bridge
