// What documents and reports print: a style word and blocks of lines, in
// CP866. Rendering to printer bytes lives with the printer line.
//
// PrintStyle word:
//   bits 0-12 width setting (copied when the style is made) | 13-14 font code
//   (bit 14: large font) | 15-19 line spacing code | 24 marker | 25 right |
//   26 centre | 27 bold | 28 marker | 29 reverse | 30 double
#ifndef FR_PRINTER_PRINT_LAYOUT_H_
#define FR_PRINTER_PRINT_LAYOUT_H_

#include <cstdint>
#include <string>
#include <vector>

namespace printer {

// The process-wide printer width setting: above 60 the wide layout.
constexpr uint8_t kDefaultWidthSetting = 60;
uint8_t widthSetting();
void setWidthSetting(uint8_t setting);

}  // namespace printer

class PrintStyle {
 public:
  static constexpr uint32_t kWidthMask = 0x1FFF;
  static constexpr int kFontShift = 13;
  static constexpr uint32_t kFontMask = 0x3u << kFontShift;
  static constexpr int kSpacingShift = 15;
  static constexpr uint32_t kSpacingMask = 0x1Fu << kSpacingShift;
  static constexpr uint32_t kMarker = 1u << 24;
  static constexpr uint32_t kRight = 1u << 25;
  static constexpr uint32_t kCentre = 1u << 26;
  static constexpr uint32_t kBold = 1u << 27;
  static constexpr uint32_t kMarker28 = 1u << 28;
  static constexpr uint32_t kReverse = 1u << 29;
  static constexpr uint32_t kDouble = 1u << 30;

  // The current width setting, everything else 0.
  PrintStyle();
  // A whole word; its width bits are replaced by the current setting.
  void assign(uint32_t word);
  void setFont(unsigned code);
  void setSpacing(unsigned code);
  void setTopByte(uint8_t top);  // bits 24-31
  void set(uint32_t bits) { word_ |= bits; }

  uint32_t word() const { return word_; }
  unsigned widthSetting() const { return word_ & kWidthMask; }
  unsigned font() const { return (word_ & kFontMask) >> kFontShift; }
  unsigned spacing() const { return (word_ & kSpacingMask) >> kSpacingShift; }
  bool has(uint32_t bit) const { return (word_ & bit) != 0; }
  bool largeFont() const { return (font() & 2) != 0; }
  bool wide() const { return widthSetting() > printer::kDefaultWidthSetting; }
  // Characters per line: wide 48/64, narrow 34/44 (large/small), halved
  // when double.
  unsigned lineWidth() const;

 private:
  uint32_t word_;
};

class PrintBlock {
 public:
  PrintBlock() = default;
  explicit PrintBlock(const PrintStyle& style) : style_(style) {}
  // The whole text as one line, line feeds included.
  static PrintBlock fromText(const PrintStyle& style, const std::string& text);

  // One line per piece between line feeds, the piece after the last one
  // included (an empty text adds one empty line).
  void addText(const std::string& text);

  const PrintStyle& style() const { return style_; }
  const std::vector<std::string>& lines() const { return lines_; }

 private:
  PrintStyle style_;
  std::vector<std::string> lines_;
};

// A block and whether the paper is cut after it.
struct PrintItem {
  PrintBlock block;
  bool cut = false;
};
using PrintData = std::vector<PrintItem>;

#endif  // FR_PRINTER_PRINT_LAYOUT_H_
