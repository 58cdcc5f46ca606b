#include "printer/render.h"

namespace printer {

const char kFeedAndCut[6] = {0x1B, 0x33, static_cast<char>(0xFF), 0x0A, 0x1B, 0x69};

namespace {

constexpr char kEsc = 0x1B;
constexpr char kGs = 0x1D;

void Command(std::string* out, char a, char b, unsigned n) {
  out->push_back(a);
  out->push_back(b);
  out->push_back(static_cast<char>(n & 0xFF));
}

}  // namespace

std::string stylePrefix(const PrintStyle& style) {
  std::string out;
  unsigned align = 0;
  if (style.wide()) align = style.has(PrintStyle::kRight) ? 2 : style.has(PrintStyle::kCentre) ? 1 : 0;
  Command(&out, kEsc, 'a', align);
  const unsigned v = style.spacing() & 0x1E;
  Command(&out, kEsc, '3', v > 5 ? 255 : 35 * v + 1);
  unsigned mode = 0;
  if (style.has(PrintStyle::kDouble)) mode += 0x30;
  if (style.has(PrintStyle::kBold)) mode += 0x08;
  if (!style.largeFont()) mode += 0x01;
  Command(&out, kEsc, '!', mode);
  Command(&out, kGs, 'B', style.has(PrintStyle::kReverse) ? 1 : 0);
  return out;
}

std::string alignLine(const PrintStyle& style, const std::string& line) {
  const size_t width = style.lineWidth();
  const size_t n = line.size();
  if (n >= width) return line;
  const size_t tab = line.find('\t');
  if (tab != std::string::npos) {
    // Two columns: the right one ends in the last column.
    std::string out = line.substr(0, tab) + std::string(width - n + 1, ' ') + line.substr(tab + 1);
    for (char& c : out) {
      if (c == '\t') c = ' ';
    }
    return out;
  }
  if (style.wide()) return line;  // the printer aligns by the prefix
  if (style.has(PrintStyle::kCentre)) return std::string((width - n) / 2, ' ') + line;
  if (style.has(PrintStyle::kRight)) return std::string(width - n, ' ') + line;
  return line;
}

std::string wrapLine(const PrintStyle& style, const std::string& line) {
  const size_t width = style.lineWidth();
  if (style.wide() || line.size() <= width) return alignLine(style, line);
  const size_t tab = line.find('\t');
  if (tab != std::string::npos) {
    return wrapLine(style, line.substr(0, tab)) + "\n" + wrapLine(style, line.substr(tab + 1));
  }
  const size_t first_space = line.find(' ');
  if (first_space == std::string::npos || first_space > width) {
    return line.substr(0, width) + "\n" + wrapLine(style, line.substr(width));
  }
  const size_t cut = first_space == width ? width : line.rfind(' ', width - 1);
  return alignLine(style, line.substr(0, cut)) + "\n" + wrapLine(style, line.substr(cut + 1));
}

std::string render(const PrintBlock& block, bool cut) {
  std::string out = stylePrefix(block.style());
  for (const std::string& line : block.lines()) {
    out += wrapLine(block.style(), line);
    out.push_back('\n');
  }
  if (cut) out.append(kFeedAndCut, sizeof(kFeedAndCut));
  return out;
}

std::string render(const PrintData& data) {
  std::string out;
  for (const PrintItem& item : data) out += render(item.block, item.cut);
  return out;
}

}  // namespace printer
