#include "tools/archive/archive_tool.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "app/fr_status.h"
#include "app/identity.h"
#include "storage/archive_format.h"
#include "storage/eeprom_format.h"
#include "tools/gen/archive_gen.h"
#include "util/coding.h"

namespace archivetool {
namespace {

namespace fs = std::filesystem;

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// One board of a few shifts, made once: its archive and EEPROM as bytes.
class ArchiveToolTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/fr-archive-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(&pattern[0]));
    root_ = pattern;
    gen::BoardOptions options;
    options.documents = 450;
    gen::BoardSummary summary;
    ASSERT_TRUE(gen::MakeBoard(root_ + "/board", options, &summary).ok());
    archive_ = FileBytes(gen::ArchivePath(root_ + "/board"));
    eeprom_ = FileBytes(root_ + "/board" + eeprom::kPath);
    FrStatus::reset();
    CoreIdentity::replaceModelData(ModelData());
    CoreIdentity::replaceRegData(RegData());
  }
  static void TearDownTestSuite() {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  // Verify of `archive` (with `eeprom` when not empty): exit status and text.
  std::pair<int, std::string> Check(const std::string& archive, const std::string& eeprom) {
    WriteBytes(root_ + "/copy", archive);
    if (!eeprom.empty()) WriteBytes(root_ + "/eeprom", eeprom);
    std::ostringstream out;
    const int status = Verify(env_.get(), root_ + "/copy", eeprom.empty() ? "" : root_ + "/eeprom", out);
    return {status, out.str()};
  }

  static uint64_t DataOffsetOf(uint32_t n) {
    return util::GetFixed64(archive_, archive::kIndexOffset + (n - 1) * archive::kDescriptorSize + 18);
  }

  static std::string root_, archive_, eeprom_;
  std::unique_ptr<platform::Env> board_ = platform::NewBoardEnv();
  std::unique_ptr<platform::Env> env_ = std::make_unique<QuietEnv>(board_.get());
};
std::string ArchiveToolTest::root_, ArchiveToolTest::archive_, ArchiveToolTest::eeprom_;

TEST_F(ArchiveToolTest, EachPlantedFaultIsFoundAndNamed) {
  const auto clean = Check(archive_, eeprom_);
  ASSERT_EQ(0, clean.first) << clean.second;

  struct Fault {
    const char* what;
    std::function<void(std::string* archive, std::string* eeprom)> plant;
    const char* names;
  };
  const uint64_t descriptor7 = archive::kIndexOffset + 6 * archive::kDescriptorSize;
  const Fault faults[] = {
      {"a byte of a descriptor", [&](std::string* a, std::string*) { (*a)[descriptor7 + 6] ^= 0x01; }, "document 7 "},
      {"a byte of a document's data", [&](std::string* a, std::string*) { (*a)[DataOffsetOf(7) + 9] ^= 0x40; },
       "document 7 data CRC mismatch"},
      {"a byte of the totals", [&](std::string* a, std::string*) { (*a)[archive::kShiftCountersOffset + 40] ^= 0x10; },
       "in the archive, the documents give"},
      {"a document taken out of the middle",
       [&](std::string* a, std::string*) {
         const uint64_t after = descriptor7 + archive::kDescriptorSize;
         a->replace(descriptor7, 440 * archive::kDescriptorSize, a->substr(after, 440 * archive::kDescriptorSize));
       },
       "descriptor 7 carries number 8"},
      {"another device's key", [&](std::string*, std::string* e) { (*e)[eeprom::kKeyOffset] ^= 0x01; },
       "document 1 fiscal sign does not match the device key"},
  };
  for (const Fault& f : faults) {
    std::string archive = archive_, eeprom = eeprom_;
    f.plant(&archive, &eeprom);
    const auto got = Check(archive, eeprom);
    EXPECT_EQ(1, got.first) << f.what << "\n" << got.second;
    EXPECT_NE(std::string::npos, got.second.find(f.names)) << f.what << "\n" << got.second;
  }
}

// Cut, blanked or scrambled files: every command answers, none crashes, and
// verify never calls such a file clean.
TEST_F(ArchiveToolTest, DamagedFilesGiveFindingsNotCrashes) {
  std::vector<std::pair<std::string, std::string>> files = {
      {"empty", ""},
      {"cut in the head", archive_.substr(0, 100)},
      {"cut in the index", archive_.substr(0, archive::kIndexOffset + 300 * archive::kDescriptorSize)},
      {"cut in the data", archive_.substr(0, DataOffsetOf(200) + 5)},
      {"zeroed", std::string(archive_.size(), '\0')},
  };
  std::mt19937 random(7);
  for (int k = 0; k < 3; ++k) {
    std::string flipped = archive_;
    for (int i = 0; i < 50; ++i) {
      // Bits of the index, the header records and the data, where a reader looks.
      const uint64_t at = i % 2 == 0 ? archive::kIndexOffset + random() % (450 * archive::kDescriptorSize)
                                     : archive::kDataOffset + random() % (archive_.size() - archive::kDataOffset);
      flipped[at] ^= static_cast<char>(1 << (random() % 8));
    }
    files.push_back({"bits flipped " + std::to_string(k), flipped});
  }
  for (const auto& file : files) {
    const auto got = Check(file.second, eeprom_);
    EXPECT_NE(0, got.first) << file.first << "\n" << got.second;
    std::ostringstream out;
    Filter all;
    List(env_.get(), root_ + "/copy", all, out);
    Export(env_.get(), root_ + "/copy", "json", all, out);
    Export(env_.get(), root_ + "/copy", "csv", all, out);
    Totals(env_.get(), root_ + "/copy", 0, 0, false, out);
    Totals(env_.get(), root_ + "/copy", 1, 3, true, out);
    for (uint32_t n : {1u, 2u, 100u, 449u, 451u}) Show(env_.get(), root_ + "/copy", n, n % 2 == 0, "", out);
  }
}

TEST_F(ArchiveToolTest, TheEepromImageIsReadRawOrAsADump) {
  Identity raw, dumped;
  ASSERT_TRUE(ParseEepromImage(eeprom_, &raw).ok());
  std::string dump;
  for (size_t row = 0; row < eeprom_.size(); row += 64) dump += util::HexSpaced(eeprom_.substr(row, 64)) + "\n";
  ASSERT_TRUE(ParseEepromImage(dump, &dumped).ok());
  EXPECT_EQ(raw.key, dumped.key);
  EXPECT_EQ(raw.model.serialNumber(), dumped.model.serialNumber());
  EXPECT_FALSE(ParseEepromImage(dump.substr(0, dump.size() / 2), &dumped).ok());
  EXPECT_FALSE(ParseEepromImage("zz" + dump, &dumped).ok());
  EXPECT_FALSE(ParseEepromImage(std::string(eeprom::kSize, '\xFF'), &dumped).ok());  // blank: no serial
}

}  // namespace
}  // namespace archivetool
