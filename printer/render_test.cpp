#include "printer/render.h"

#include <gtest/gtest.h>

#include "util/cp866.h"

namespace printer {
namespace {

// A style of the given layout (width setting) and font.
PrintStyle Style(uint8_t setting, unsigned font, uint32_t bits = 0) {
  setWidthSetting(setting);
  PrintStyle s;
  s.setFont(font);
  s.set(bits);
  setWidthSetting(kDefaultWidthSetting);
  return s;
}

std::string X(size_t n, char c = 'x') { return std::string(n, c); }

TEST(RenderTest, WidthsOfBothLayoutsAndFonts) {
  struct Case {
    uint8_t setting;
    unsigned font;
    size_t width;
  };
  const Case cases[] = {{60, 1, 44}, {60, 3, 34}, {80, 1, 64}, {80, 3, 48}};
  for (const Case& c : cases) {
    const PrintStyle s = Style(c.setting, c.font);
    ASSERT_EQ(c.width, s.lineWidth());
    // Exactly W bytes: unchanged.
    EXPECT_EQ(X(c.width), wrapLine(s, X(c.width)));
    if (c.setting > 60) {
      // The wide layout never breaks a line.
      EXPECT_EQ(X(c.width + 5), wrapLine(s, X(c.width + 5)));
    } else {
      // One more: cut hard at W, the rest on the next line.
      EXPECT_EQ(X(c.width) + "\ny", wrapLine(s, X(c.width) + "y"));
    }
  }
}

TEST(RenderTest, NarrowWordWrap) {
  const PrintStyle s = Style(60, 1);  // W = 44
  struct Case {
    const char* what;
    std::string line, printed;
  };
  const Case cases[] = {
      {"first space exactly at W", X(44) + " tail", X(44) + "\ntail"},
      {"break at the last space below W", "aaa bbb " + X(40), "aaa bbb\n" + X(40)},
      {"long word after a short one", "ab " + X(50), "ab\n" + X(44) + "\n" + X(6)},
      {"first space after W", X(45) + " b", X(44) + "\n" + "x b"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.printed, wrapLine(s, c.line)) << c.what;
}

TEST(RenderTest, TwoColumnLines) {
  const std::string total = util::Utf8ToCp866("ИТОГО\t") + "123.45";  // 12 bytes
  struct Case {
    uint8_t setting;
    unsigned font;
    uint32_t bits;
    std::string line, printed;
  };
  const Case cases[] = {
      {60, 1, 0, total, util::Utf8ToCp866("ИТОГО") + X(33, ' ') + "123.45"},
      {60, 3, 0, total, util::Utf8ToCp866("ИТОГО") + X(23, ' ') + "123.45"},
      {80, 1, 0, total, util::Utf8ToCp866("ИТОГО") + X(53, ' ') + "123.45"},
      {80, 3, PrintStyle::kDouble, total, util::Utf8ToCp866("ИТОГО") + X(13, ' ') + "123.45"},
      // Further tabs become single spaces.
      {60, 1, 0, "a\tb\tc", "a" + X(40, ' ') + "b c"},
      // Longer than W in the narrow layout: label and value on lines of their own.
      {60, 1, PrintStyle::kRight, X(30) + "\t" + X(20), X(14, ' ') + X(30) + "\n" + X(24, ' ') + X(20)},
      // At W or longer, a tab stays a raw byte.
      {80, 1, 0, X(40) + "\t" + X(30), X(40) + "\t" + X(30)},
  };
  for (const Case& c : cases) EXPECT_EQ(c.printed, wrapLine(Style(c.setting, c.font, c.bits), c.line));
}

TEST(RenderTest, NarrowAlignmentIsDoneInSoftware) {
  struct Case {
    uint8_t setting;
    uint32_t bits;
    std::string printed;
  };
  const Case cases[] = {
      {60, PrintStyle::kCentre, X(20, ' ') + "abcd"},
      {60, PrintStyle::kRight, X(40, ' ') + "abcd"},
      {60, 0, "abcd"},
      {80, PrintStyle::kCentre, "abcd"},
      {80, PrintStyle::kRight, "abcd"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.printed, wrapLine(Style(c.setting, 1, c.bits), "abcd"));
}

TEST(RenderTest, StylePrefix) {
  struct Case {
    uint8_t setting;
    unsigned font, spacing;
    uint32_t bits;
    const char* prefix;  // 12 bytes, NULs included
  };
  const Case cases[] = {
      {60, 1, 0, 0, "\x1B" "a\x00\x1B" "3\x01\x1B!\x01\x1D" "B\x00"},
      {60, 1, 1, PrintStyle::kCentre, "\x1B" "a\x00\x1B" "3\x01\x1B!\x01\x1D" "B\x00"},
      {80, 1, 2, PrintStyle::kCentre, "\x1B" "a\x01\x1B" "3\x47\x1B!\x01\x1D" "B\x00"},
      {80, 2, 5, PrintStyle::kRight | PrintStyle::kCentre, "\x1B" "a\x02\x1B" "3\x8D\x1B!\x00\x1D" "B\x00"},
      {60, 0, 6, PrintStyle::kBold | PrintStyle::kDouble | PrintStyle::kReverse,
       "\x1B" "a\x00\x1B" "3\xFF\x1B!\x39\x1D" "B\x01"},
  };
  for (const Case& c : cases) {
    PrintStyle s = Style(c.setting, c.font, c.bits);
    s.setSpacing(c.spacing);
    EXPECT_EQ(std::string(c.prefix, 12), stylePrefix(s)) << c.spacing;
  }
}

TEST(RenderTest, CancelledBannerCentredBoldDouble) {
  // One line of 18 bytes, its line feeds included: (22 - 18) / 2 spaces.
  const PrintBlock b = PrintBlock::fromText(
      Style(60, 1, PrintStyle::kCentre | PrintStyle::kBold | PrintStyle::kDouble),
      util::Utf8ToCp866("\nДОКУМЕНТ ОТМЕНЕН\n"));
  const std::string out = render(b, true);
  const std::string expected = stylePrefix(b.style()) + "  \n" +
                               util::Utf8ToCp866("ДОКУМЕНТ ОТМЕНЕН") + "\n\n" +
                               std::string(kFeedAndCut, sizeof(kFeedAndCut));
  EXPECT_EQ(expected, out);
}

TEST(RenderTest, PrintDataKeepsEachCut) {
  PrintBlock a(Style(60, 1)), b(Style(60, 1));
  a.addText("A");
  b.addText("B");
  const std::string out = render(PrintData{{a, false}, {b, true}});
  EXPECT_EQ(render(a, false) + render(b, true), out);
  EXPECT_EQ(std::string(kFeedAndCut, 6), out.substr(out.size() - 6));
}

}  // namespace
}  // namespace printer
