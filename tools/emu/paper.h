// What the virtual register's printer puts on paper: each cut-off piece is
// written as plain text, as HTML and as a PNG picture of the 80 mm roll.
#ifndef FR_TOOLS_EMU_PAPER_H_
#define FR_TOOLS_EMU_PAPER_H_

#include <string>
#include <vector>

#include "tools/common/print_decoder.h"

namespace emu {

// 80 mm paper at 203 dpi: the printable width of the head.
constexpr int kPaperWidthPx = 576;

// "<b>" etc. characters made safe for HTML text.
std::string EscapeHtml(const std::string& text);
std::string PaperHtml(const std::vector<sim::PrintedLine>& lines);
std::string PaperText(const std::vector<sim::PrintedLine>& lines);
// Draws the lines with Cairo; false when the PNG could not be written.
bool WritePaperPng(const std::vector<sim::PrintedLine>& lines, const std::string& path);
// Writes <base_path>.txt, .html and .png; false when any of them failed.
bool WritePaper(const std::vector<sim::PrintedLine>& lines, const std::string& base_path);

}  // namespace emu

#endif  // FR_TOOLS_EMU_PAPER_H_
