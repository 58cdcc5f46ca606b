#include "tools/common/print_decoder.h"

namespace sim {

const std::string kJobStart("\x1D\x64\x00\x1D\x50\x00\x00\x1B\x74\x07", 10);

namespace {

const std::string kFeedAndCut("\x1B\x33\xFF\x0A\x1B\x69", 6);

struct Style {
  int align = 0, spacing = 1;
  bool bold = false, double_size = false, small_font = false, reverse = false;
};

void DecodeJob(const std::string& bytes, PrintJob* job) {
  Style style;
  std::string text;
  auto end_line = [&](bool cut) {
    PrintedLine line;
    line.text = Cp866ToUtf8(text);
    line.align = style.align;
    line.spacing = style.spacing;
    line.bold = style.bold;
    line.double_size = style.double_size;
    line.small_font = style.small_font;
    line.reverse = style.reverse;
    line.cut_after = cut;
    job->lines.push_back(line);
    text.clear();
  };
  size_t i = 0;
  while (i < bytes.size()) {
    if (bytes.compare(i, kFeedAndCut.size(), kFeedAndCut) == 0) {
      if (!text.empty()) end_line(false);
      if (!job->lines.empty()) job->lines.back().cut_after = true;
      ++job->cuts;
      i += kFeedAndCut.size();
      continue;
    }
    const char c = bytes[i];
    // Status requests and resets between jobs print nothing.
    if (c == 0x1B && i + 1 < bytes.size() && (bytes[i + 1] == 'v' || bytes[i + 1] == '@')) {
      i += 2;
      continue;
    }
    if ((c == 0x1B || c == 0x1D) && i + 2 < bytes.size()) {
      const char op = bytes[i + 1];
      const int n = static_cast<unsigned char>(bytes[i + 2]);
      bool known = true;
      if (c == 0x1B && op == 'a') {
        style.align = n;
      } else if (c == 0x1B && op == '3') {
        style.spacing = n;
      } else if (c == 0x1B && op == '!') {
        style.small_font = (n & 0x01) != 0;
        style.bold = (n & 0x08) != 0;
        style.double_size = (n & 0x30) == 0x30;
      } else if (c == 0x1D && op == 'B') {
        style.reverse = n != 0;
      } else {
        known = false;
      }
      if (known) {
        i += 3;
        continue;
      }
    }
    if (c == '\n') {
      end_line(false);
    } else {
      text.push_back(c);
    }
    ++i;
  }
  if (!text.empty()) end_line(false);
}

}  // namespace

std::vector<PrintJob> DecodePrintStream(const std::string& bytes) {
  std::vector<PrintJob> jobs;
  size_t start = bytes.find(kJobStart);
  while (start != std::string::npos) {
    const size_t body = start + kJobStart.size();
    const size_t next = bytes.find(kJobStart, body);
    PrintJob job;
    job.raw = bytes.substr(body, next == std::string::npos ? std::string::npos : next - body);
    DecodeJob(job.raw, &job);
    jobs.push_back(job);
    start = next;
  }
  return jobs;
}

std::vector<std::string> PrintedTexts(const std::vector<PrintJob>& jobs) {
  std::vector<std::string> texts;
  for (const PrintJob& job : jobs) {
    for (const PrintedLine& line : job.lines) texts.push_back(line.text);
  }
  return texts;
}

}  // namespace sim
