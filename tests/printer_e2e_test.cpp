// The printer line of the real fr-core: start-up banner, status, and the
// host's print commands, read back through the virtual printer.
#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "tools/common/print_decoder.h"
#include "tools/sim/rig.h"
#include "util/cp866.h"

namespace {

const std::string kReset("\x1B\x40", 2);
const std::string kStatusRequest("\x1B\x76", 2);
const std::string kPreparation("\x1D\x64\x00\x1D\x50\x00\x00\x1B\x74\x07", 10);
const std::string kFeedAndCut("\x1B\x33\xFF\x0A\x1B\x69", 6);

std::string Request195(int spacing, int align, int font, int flags, const std::string& utf8) {
  std::string data;
  for (int b : {spacing, align, font, flags}) data.push_back(static_cast<char>(b));
  return data + util::Utf8ToCp866(utf8);
}

class PrinterLineTest : public testing::Test {
 protected:
  void Start(int status = 0) {
    ASSERT_TRUE(rig_.Prepare());
    rig_.printer().set_status(status);
    ASSERT_TRUE(rig_.Start());
    ASSERT_TRUE(rig_.WaitReady(40000));  // a silent printer slows start-up down
  }
  sim::Rig rig_{FR_CORE_PATH};
};

TEST_F(PrinterLineTest, BannerOfABlankDevice) {
  Start();
  const std::string got = rig_.printer().received();
  ASSERT_EQ(0u, got.find(kReset + kStatusRequest)) << got.size();
  const size_t first_job = got.find(kPreparation);
  ASSERT_NE(std::string::npos, first_job);
  // Initialisation's preparation, then the banner job's.
  const std::vector<sim::PrintJob> jobs = sim::DecodePrintStream(got);
  ASSERT_EQ(2u, jobs.size());
  EXPECT_TRUE(jobs[0].lines.empty());
  const std::vector<sim::PrintedLine>& lines = jobs[1].lines;
  ASSERT_EQ(3u, lines.size());
  // A blank EEPROM's model name reads empty (its 0xFF bytes become NUL).
  EXPECT_EQ(std::string::npos, lines[0].text.find_first_not_of(' ')) << lines[0].text;
  EXPECT_NE(std::string::npos, lines[1].text.find("НЕ УСТАНОВЛЕН ЗАВОДСКОЙ НОМЕР"));
  // "%d.%m.%Y %H:%M" of the device's clock, centred in the large font.
  const std::string when = lines[2].text.substr(lines[2].text.find_first_not_of(' '));
  EXPECT_EQ(16u, when.size());
  struct tm tm = {};
  EXPECT_NE(nullptr, strptime(when.c_str(), "%d.%m.%Y %H:%M", &tm)) << when;
  for (const sim::PrintedLine& line : lines) {
    EXPECT_TRUE(line.bold);
    EXPECT_FALSE(line.small_font);
  }
  EXPECT_TRUE(lines[2].cut_after);
  EXPECT_EQ(1, jobs[1].cuts);
}

TEST_F(PrinterLineTest, BannerWithTheSerialNumber) {
  ASSERT_TRUE(rig_.Prepare());
  ASSERT_TRUE(rig_.Start() && rig_.WaitReady());
  host::Reply r;
  std::string set_serial("\x14\x1E\x00\x00\x00", 5);  // service cashier, password 30
  ASSERT_TRUE(rig_.host().Request(63, 1, set_serial + "4200012345", &r));
  ASSERT_EQ(0, r.code);
  rig_.printer().Clear();
  ASSERT_TRUE(rig_.Restart() && rig_.WaitReady());
  const std::vector<std::string> texts = sim::PrintedTexts(sim::DecodePrintStream(rig_.printer().received()));
  ASSERT_EQ(3u, texts.size());
  EXPECT_EQ(std::string(12, ' ') + "ЗЕЛТА-7ФК", texts[0]);  // (34 - 9) / 2
  EXPECT_EQ(std::string(10, ' ') + "ЗН 4200012345", texts[1]);  // (34 - 13) / 2
}

TEST_F(PrinterLineTest, SilentPrinterStillStartsAndAnswers53) {
  Start(sim::VirtualPrinter::kSilent);
  host::Reply r;
  ASSERT_TRUE(rig_.host().Request(192, 1, "", &r, 10000));
  EXPECT_EQ(53, r.code);
}

TEST_F(PrinterLineTest, PaperOutAnswers54) {
  Start();
  rig_.printer().set_status(0x0C);
  host::Reply r;
  ASSERT_TRUE(rig_.host().Request(192, 1, "", &r));
  EXPECT_EQ(54, r.code);
  rig_.printer().set_status(0x03);  // paper near end only
  ASSERT_TRUE(rig_.host().Request(192, 2, "", &r));
  EXPECT_EQ(0, r.code);
}

TEST_F(PrinterLineTest, PrintCommands) {
  Start();
  rig_.printer().Clear();
  host::Reply r;
  ASSERT_TRUE(rig_.host().Request(195, 1, Request195(0, 3, 1, 0, "слева"), &r));
  EXPECT_EQ(0, r.code);
  ASSERT_TRUE(rig_.host().Request(195, 2, Request195(0, 1, 1, 0x11, "центр"), &r));
  EXPECT_EQ(0, r.code);
  ASSERT_TRUE(rig_.host().Request(195, 7, Request195(0, 2, 0, 0x0C, "справа"), &r));
  EXPECT_EQ(0, r.code);
  std::vector<sim::PrintJob> jobs = sim::DecodePrintStream(rig_.printer().received());
  ASSERT_EQ(3u, jobs.size());
  ASSERT_EQ(1u, jobs[0].lines.size());
  EXPECT_EQ("слева", jobs[0].lines[0].text);  // byte 1 = 3: left
  ASSERT_EQ(1u, jobs[1].lines.size());
  EXPECT_EQ(std::string(19, ' ') + "центр", jobs[1].lines[0].text);
  EXPECT_TRUE(jobs[1].lines[0].bold);
  EXPECT_EQ(1, jobs[1].cuts);
  ASSERT_EQ(1u, jobs[2].lines.size());  // flags 0x04 reverse, 0x08 double
  EXPECT_TRUE(jobs[2].lines[0].reverse && jobs[2].lines[0].double_size && !jobs[2].lines[0].bold);
  EXPECT_EQ(0, jobs[2].cuts);
  EXPECT_EQ("справа", jobs[2].lines[0].text.substr(jobs[2].lines[0].text.find_first_not_of(' ')));
  EXPECT_GT(jobs[2].lines[0].text.size(), std::string("справа").size());  // pushed to the right

  ASSERT_TRUE(rig_.host().Request(195, 3, std::string("\x00\x01\x01", 3), &r));
  EXPECT_EQ(22, r.code);
  ASSERT_TRUE(rig_.host().Request(196, 4, "", &r));
  EXPECT_EQ(22, r.code);

  rig_.printer().Clear();
  ASSERT_TRUE(rig_.host().Request(197, 5, "", &r));
  EXPECT_EQ(0, r.code);
  ASSERT_TRUE(rig_.printer().WaitFor(kFeedAndCut, 2000));
  EXPECT_EQ(kFeedAndCut, rig_.printer().received());

  rig_.printer().Clear();
  ASSERT_TRUE(rig_.host().Request(196, 6, "raw\x01", &r));
  EXPECT_EQ(0, r.code);
  ASSERT_TRUE(rig_.printer().WaitFor("raw\x01", 2000));
  EXPECT_EQ("raw\x01", rig_.printer().received());
}

TEST_F(PrinterLineTest, WideSettingChangesTheLayoutAcrossRestarts) {
  ASSERT_TRUE(rig_.Prepare());
  ASSERT_TRUE(rig_.sandbox().WriteFile("/nv/PRINTER_SETTINGS", std::string(1, '\x50')));  // 80
  ASSERT_TRUE(rig_.Start() && rig_.WaitReady());
  rig_.printer().Clear();
  host::Reply r;
  ASSERT_TRUE(rig_.host().Request(195, 1, Request195(0, 1, 1, 0, "центр"), &r));
  std::vector<sim::PrintJob> jobs = sim::DecodePrintStream(rig_.printer().received());
  ASSERT_EQ(1u, jobs.size());
  ASSERT_EQ(1u, jobs[0].lines.size());
  EXPECT_EQ("центр", jobs[0].lines[0].text);  // no software centring
  EXPECT_EQ(1, jobs[0].lines[0].align);        // the printer centres

  ASSERT_TRUE(rig_.Restart() && rig_.WaitReady());
  rig_.printer().Clear();
  ASSERT_TRUE(rig_.host().Request(195, 2, Request195(0, 0, 1, 0, std::string(70, 'w')), &r));
  jobs = sim::DecodePrintStream(rig_.printer().received());
  ASSERT_EQ(1u, jobs.size());
  ASSERT_EQ(1u, jobs[0].lines.size());  // never wrapped in the wide layout
  EXPECT_EQ(std::string(70, 'w'), jobs[0].lines[0].text);
}

}  // namespace
