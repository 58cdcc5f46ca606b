#include "printer/print_layout.h"

#include <atomic>

namespace printer {
namespace {
// Written by the main thread only; atomic so that any reader sees a whole byte.
std::atomic<uint8_t> g_width_setting{kDefaultWidthSetting};
}  // namespace

uint8_t widthSetting() { return g_width_setting.load(); }
void setWidthSetting(uint8_t setting) { g_width_setting = setting; }

}  // namespace printer

PrintStyle::PrintStyle() : word_(printer::widthSetting() & kWidthMask) {}

void PrintStyle::assign(uint32_t word) {
  word_ = (word & ~kWidthMask) | (printer::widthSetting() & kWidthMask);
}

void PrintStyle::setFont(unsigned code) {
  word_ = (word_ & ~kFontMask) | ((code & 0x3u) << kFontShift);
}

void PrintStyle::setSpacing(unsigned code) {
  word_ = (word_ & ~kSpacingMask) | ((code & 0x1Fu) << kSpacingShift);
}

void PrintStyle::setTopByte(uint8_t top) {
  word_ = (word_ & 0x00FFFFFFu) | (static_cast<uint32_t>(top) << 24);
}

unsigned PrintStyle::lineWidth() const {
  unsigned w = wide() ? (largeFont() ? 48 : 64) : (largeFont() ? 34 : 44);
  return has(kDouble) ? w / 2 : w;
}

PrintBlock PrintBlock::fromText(const PrintStyle& style, const std::string& text) {
  PrintBlock block(style);
  block.lines_.push_back(text);
  return block;
}

void PrintBlock::addText(const std::string& text) {
  size_t start = 0;
  for (;;) {
    const size_t lf = text.find('\n', start);
    if (lf == std::string::npos) {
      lines_.push_back(text.substr(start));
      return;
    }
    lines_.push_back(text.substr(start, lf - start));
    start = lf + 1;
  }
}
