// Rendering print blocks into printer bytes: a style prefix, then every line
// laid out for the block's line width and followed by a line feed.
//
// Style prefix: ESC a n (alignment) | ESC 3 m (line spacing) |
//               ESC ! k (print mode) | GS B r (reverse)
#ifndef FR_PRINTER_RENDER_H_
#define FR_PRINTER_RENDER_H_

#include <string>

#include "printer/print_layout.h"

namespace printer {

// ESC 3 FF, LF, ESC i: feed the paper out and cut it.
extern const char kFeedAndCut[6];

std::string stylePrefix(const PrintStyle& style);
// One line of the block, wrapped (narrow layout only) and aligned.
std::string wrapLine(const PrintStyle& style, const std::string& line);
std::string alignLine(const PrintStyle& style, const std::string& line);
std::string render(const PrintBlock& block, bool cut);
// Every item in order, each with its own cut flag.
std::string render(const PrintData& data);

}  // namespace printer

#endif  // FR_PRINTER_RENDER_H_
