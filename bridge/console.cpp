#include "bridge/console.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <vector>

#include "bridge/files.h"
#include "bridge/request.h"
#include "host/emu_layout.h"

namespace bridge {

// Made by CMake from the files of bridge/console/.
extern const ConsoleFile kConsoleFiles[];
extern const size_t kConsoleFileCount;

namespace {

const char kDocumentLabel[] = "\xD0\xA4\xD0\x94 ";  // "ФД ", printed before the document's number

bool IsSheetStem(const std::string& stem) {
  return stem.size() >= static_cast<size_t>(emu::kSheetDigits) && stem.size() <= 9 &&
         stem.find_first_not_of("0123456789") == std::string::npos;
}

// A regular file, not a link to one.
bool IsPlainFile(const std::filesystem::directory_entry& entry) {
  std::error_code ec;
  return entry.symlink_status(ec).type() == std::filesystem::file_type::regular;
}

// The number printed after "ФД " on the sheet, 0 when there is none (a
// report, the start-up banner).
uint32_t DocumentOn(const std::string& text) {
  const size_t at = text.find(kDocumentLabel);
  if (at == std::string::npos) return 0;
  uint64_t n = 0;
  for (size_t i = at + std::strlen(kDocumentLabel); i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    n = n * 10 + static_cast<uint64_t>(text[i] - '0');
    if (n > 0xFFFFFFFFu) return 0;
  }
  return static_cast<uint32_t>(n);
}

}  // namespace

const ConsoleFile* FindConsoleFile(const std::string& name) {
  for (size_t i = 0; i < kConsoleFileCount; ++i) {
    if (name == kConsoleFiles[i].name) return &kConsoleFiles[i];
  }
  return nullptr;
}

const char* ContentTypeOf(const std::string& name) {
  static const struct {
    const char* extension;
    const char* type;
  } kTypes[] = {{".html", "text/html; charset=utf-8"},     {".css", "text/css; charset=utf-8"},
                {".js", "text/javascript; charset=utf-8"}, {".png", "image/png"},
                {".txt", "text/plain; charset=utf-8"},     {".svg", "image/svg+xml"}};
  for (const auto& t : kTypes) {
    const size_t n = std::strlen(t.extension);
    if (name.size() > n && name.compare(name.size() - n, n, t.extension) == 0) return t.type;
  }
  return "application/octet-stream";
}

nlohmann::json PaperSheets(const std::string& emu_dir, size_t limit) {
  const std::string dir = emu_dir + emu::kPaperDirectory;
  std::vector<std::string> stems;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    if (entry.path().extension() != ".png" || !IsPlainFile(entry)) continue;
    const std::string stem = entry.path().stem().string();
    if (IsSheetStem(stem)) stems.push_back(stem);
  }
  // Newest first: by number, however many digits.
  std::sort(stems.begin(), stems.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() > b.size() : a > b;
  });
  if (stems.size() > limit) stems.resize(limit);
  nlohmann::json sheets = nlohmann::json::array();
  for (const std::string& stem : stems) {
    nlohmann::json sheet = {{"sheet", stem}, {"document", nullptr}};
    int64_t modified = 0;
    if (ModifiedTime(dir + "/" + stem + ".png", &modified)) sheet["time"] = FormatTime(static_cast<uint32_t>(modified));
    std::string text;
    if (ReadRegularFile(dir + "/" + stem + ".txt", kMaxSheetBytes, &text)) {
      const uint32_t number = DocumentOn(text);
      if (number != 0) sheet["document"] = number;
    }
    sheets.push_back(sheet);
  }
  return sheets;
}

bool ReadPaper(const std::string& emu_dir, const std::string& file, std::string* bytes) {
  const size_t dot = file.find('.');
  if (dot == std::string::npos || !IsSheetStem(file.substr(0, dot))) return false;
  const std::string extension = file.substr(dot);
  if (extension != ".png" && extension != ".html" && extension != ".txt") return false;
  return ReadRegularFile(emu_dir + emu::kPaperDirectory + "/" + file, kMaxSheetBytes, bytes);
}

}  // namespace bridge
