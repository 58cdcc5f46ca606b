// Reads what a printer received as people would: print jobs, their lines in
// UTF-8 and the styles they were printed in.
//
// A job starts at the preparation sequence (GS d 0, GS P 0 0, ESC t 7).
// Understood inside a job: ESC a n, ESC 3 n, ESC ! n, GS B n, and the
// feed-and-cut ESC 3 FF LF ESC i; status requests (ESC v) and resets
// (ESC @) print nothing. Anything before the first job is not part of one.
#ifndef FR_TOOLS_COMMON_PRINT_DECODER_H_
#define FR_TOOLS_COMMON_PRINT_DECODER_H_

#include <string>
#include <vector>

namespace sim {

struct PrintedLine {
  std::string text;  // UTF-8
  int align = 0;     // ESC a: 0 left, 1 centre, 2 right
  int spacing = 1;   // ESC 3
  bool bold = false, double_size = false, small_font = false, reverse = false;
  bool cut_after = false;  // the paper was cut after this line
};

struct PrintJob {
  std::vector<PrintedLine> lines;
  int cuts = 0;
  std::string raw;  // the job's bytes after the preparation
};

// The preparation the device sends at the start of every print job.
extern const std::string kJobStart;

std::vector<PrintJob> DecodePrintStream(const std::string& bytes);
// CP866 to UTF-8 with the system's converter (cp866_text_posix.cpp,
// cp866_text_win.cpp).
std::string Cp866ToUtf8(const std::string& cp866);
// The lines of all jobs, as text only.
std::vector<std::string> PrintedTexts(const std::vector<PrintJob>& jobs);

}  // namespace sim

#endif  // FR_TOOLS_COMMON_PRINT_DECODER_H_
