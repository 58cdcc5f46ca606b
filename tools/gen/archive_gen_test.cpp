#include "tools/gen/archive_gen.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/codes.h"
#include "app/fr_status.h"
#include "app/identity.h"
#include "documents/descriptor_format.h"
#include "storage/fiscal_archive.h"
#include "storage/sd_card.h"
#include "tools/gen/device.h"
#include "util/coding.h"

namespace {

class ArchiveGenTest : public testing::Test {
 protected:
  void SetUp() override {
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/fr-gen-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(&pattern[0]));
    root_ = pattern;
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
    FrStatus::reset();
    CoreIdentity::replaceModelData(ModelData());
    CoreIdentity::replaceRegData(RegData());
  }
  std::string Board(const char* name) const { return root_ + "/" + name; }
  static std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::string root_;
};

uint32_t Time(const DocDescriptor& d) { return util::DecodeFixed32(d.bytes + descriptor::kDateTimeOffset); }
uint8_t Type(const DocDescriptor& d) { return d.bytes[descriptor::kTypeOffset]; }

TEST_F(ArchiveGenTest, TheRegisterStartsOnTheBoardWithEveryDocumentAndTheShiftClosed) {
  gen::BoardOptions options;
  options.documents = 600;
  gen::BoardSummary s;
  ASSERT_TRUE(gen::MakeBoard(Board("b"), options, &s).ok());
  EXPECT_EQ(600u, s.documents);
  EXPECT_GE(s.shifts, 2u);
  EXPECT_EQ(s.documents, 1 + 2 * s.shifts + s.receipts + s.cash_documents);

  gen::Device d(Board("b"), s.last_time + 3600, gen::Device::PrinterMode::kPump);
  ASSERT_TRUE(d.Prepare()) << d.error();
  d.StartUp();
  EXPECT_TRUE(FrStatus::testFlags(FrStatus::kArchiveUsable));
  EXPECT_TRUE(FrStatus::testFlags(FrStatus::kRegistered));
  EXPECT_FALSE(FrStatus::testFlags(FrStatus::kShiftOpen));
  EXPECT_EQ(600u, FrStatus::lastDocumentNumber());
  EXPECT_EQ(s.last_time, FrStatus::lastDocumentTime());
  EXPECT_EQ(s.shifts, FrStatus::shiftNumber());
  EXPECT_EQ(0, FrStatus::cashInDrawer());

  // Times only go forward, and no shift lasts a day.
  FiscalArchive archive(&d.env(), std::string(sdcard::kMountPoint) + sdcard::kArchiveName);
  uint32_t previous = 0, opened = 0;
  uint32_t closes = 0;
  for (uint32_t n = 1; n <= 600; ++n) {
    DocDescriptor desc;
    ASSERT_TRUE(archive.readDescriptor(n, &desc)) << n;
    EXPECT_GT(Time(desc), previous) << "document " << n;
    previous = Time(desc);
    if (Type(desc) == doc::kShiftOpen) opened = Time(desc);
    if (Type(desc) == doc::kShiftClose) {
      EXPECT_LT(Time(desc) - opened, 86400u) << "document " << n;
      ++closes;
    }
  }
  EXPECT_EQ(s.shifts, closes);

  // And works on it: a report over all its shifts, then a new shift.
  std::string range;
  util::PutFixed16(&range, 1);
  util::PutFixed16(&range, static_cast<uint16_t>(s.shifts));
  EXPECT_TRUE(d.Report(6, range)) << d.error();
  EXPECT_TRUE(d.OpenShift()) << d.error();
  EXPECT_EQ(601u, FrStatus::lastDocumentNumber());
}

TEST_F(ArchiveGenTest, TheSameSeedMakesTheSameBytes) {
  gen::BoardOptions options;
  options.documents = 300;
  options.seed = 3;
  gen::BoardSummary s;
  ASSERT_TRUE(gen::MakeBoard(Board("one"), options, &s).ok());
  ASSERT_TRUE(gen::MakeBoard(Board("two"), options, &s).ok());
  options.seed = 4;
  ASSERT_TRUE(gen::MakeBoard(Board("other"), options, &s).ok());
  const std::string one = FileBytes(gen::ArchivePath(Board("one")));
  ASSERT_GT(one.size(), 16777220u);
  EXPECT_TRUE(one == FileBytes(gen::ArchivePath(Board("two"))));
  EXPECT_FALSE(one == FileBytes(gen::ArchivePath(Board("other"))));
}

TEST_F(ArchiveGenTest, RefusesABoardThatHoldsAnArchiveAndTooFewDocuments) {
  gen::BoardOptions options;
  options.documents = gen::kMinDocuments;
  gen::BoardSummary s;
  ASSERT_TRUE(gen::MakeBoard(Board("b"), options, &s).ok());
  EXPECT_EQ(1u, s.shifts);
  const std::string before = FileBytes(gen::ArchivePath(Board("b")));
  const host::Status again = gen::MakeBoard(Board("b"), options, &s);
  EXPECT_NE(std::string::npos, again.message().find("already holds an archive")) << again.ToString();
  EXPECT_TRUE(before == FileBytes(gen::ArchivePath(Board("b"))));

  options.documents = gen::kMinDocuments - 1;
  EXPECT_FALSE(gen::MakeBoard(Board("c"), options, &s).ok());
  EXPECT_FALSE(std::filesystem::exists(gen::ArchivePath(Board("c"))));
}

}  // namespace
