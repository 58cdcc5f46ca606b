#include "printer/print_layout.h"

#include <gtest/gtest.h>

#include "printer/shared_blocks.h"
#include "util/cp866.h"

namespace {

TEST(PrintLayoutTest, StyleWordFields) {
  printer::setWidthSetting(60);
  PrintStyle s;
  EXPECT_EQ(60u, s.word());
  s.setFont(7);  // two bits only
  s.setSpacing(0x25);
  s.set(PrintStyle::kBold);
  EXPECT_EQ(3u, s.font());
  EXPECT_EQ(5u, s.spacing());
  EXPECT_TRUE(s.has(PrintStyle::kBold));
  s.setTopByte(0x41);  // bits 24 and 30
  EXPECT_TRUE(s.has(PrintStyle::kMarker) && s.has(PrintStyle::kDouble));
  EXPECT_FALSE(s.has(PrintStyle::kBold));
  EXPECT_EQ(3u, s.font());
  printer::setWidthSetting(80);
  s.assign(0xFFFFFFFF);
  EXPECT_EQ(80u, s.widthSetting());
  EXPECT_EQ(0xFFFFE000u | 80u, s.word());
  printer::setWidthSetting(60);
}

TEST(PrintLayoutTest, LineWidths) {
  struct Case {
    uint8_t setting;
    unsigned font;
    bool dbl;
    unsigned width;
  };
  const Case cases[] = {{60, 0, false, 44}, {60, 2, false, 34}, {60, 1, true, 22},
                        {60, 3, true, 17},  {80, 1, false, 64}, {61, 2, false, 48},
                        {80, 0, true, 32},  {80, 2, true, 24}};
  for (const Case& c : cases) {
    printer::setWidthSetting(c.setting);
    PrintStyle s;
    s.setFont(c.font);
    if (c.dbl) s.set(PrintStyle::kDouble);
    EXPECT_EQ(c.width, s.lineWidth()) << int(c.setting) << " " << c.font << " " << c.dbl;
  }
  printer::setWidthSetting(60);
}

TEST(PrintLayoutTest, TextsSplitAtLineFeeds) {
  struct Case {
    std::string text;
    std::vector<std::string> lines;
  };
  const Case cases[] = {{"", {""}}, {"a", {"a"}}, {"a\nb", {"a", "b"}}, {"a\n", {"a", ""}},
                        {"\nX\n", {"", "X", ""}}};
  for (const Case& c : cases) {
    PrintBlock b;
    b.addText(c.text);
    EXPECT_EQ(c.lines, b.lines()) << c.text;
    EXPECT_EQ(std::vector<std::string>{c.text}, PrintBlock::fromText(PrintStyle(), c.text).lines());
  }
}

TEST(PrintLayoutTest, SharedBlocksNeedAValidRegistration) {
  RegData reg;
  EXPECT_TRUE(registrationHeader(reg).empty());
  EXPECT_TRUE(taxpayerLines(reg, true).empty());
  reg.setFnNumber("9999078900012345");
  reg.setInn("7701234567");
  reg.setText(0, "SHOP\nLTD");
  reg.setText(1, "STREET");
  reg.setText(2, "TOWN");
  reg.setRegistrationTime(1);
  reg.setCheckValue(1);
  const PrintData head = registrationHeader(reg);
  ASSERT_EQ(1u, head.size());
  EXPECT_FALSE(head[0].cut);
  EXPECT_TRUE(head[0].block.style().has(PrintStyle::kCentre));
  EXPECT_EQ((std::vector<std::string>{"SHOP", "LTD", "STREET", "TOWN"}), head[0].block.lines());
  const PrintData tail = taxpayerLines(reg, true);
  ASSERT_EQ(1u, tail.size());
  EXPECT_TRUE(tail[0].cut);
  ASSERT_EQ(2u, tail[0].block.lines().size());
  EXPECT_EQ(util::Utf8ToCp866("ИНН\t7701234567"), tail[0].block.lines()[0]);
  // A full FN field reads with its extra NUL.
  EXPECT_EQ(util::Utf8ToCp866("ФН\t9999078900012345") + '\0', tail[0].block.lines()[1]);
}

}  // namespace
