// The console the bridge serves at / (its files built in from
// bridge/console/), and a virtual register's paper as fr-emu keeps it.
#ifndef FR_BRIDGE_CONSOLE_H_
#define FR_BRIDGE_CONSOLE_H_

#include <cstddef>
#include <string>

#include <nlohmann/json.hpp>

namespace bridge {

struct ConsoleFile {
  const char* name;  // as under bridge/console/
  const unsigned char* data;
  size_t size;
};

// nullptr for a name that is not one of the console's files.
const ConsoleFile* FindConsoleFile(const std::string& name);
// By the name's extension; application/octet-stream for others.
const char* ContentTypeOf(const std::string& name);

// The largest sheet file served: a PNG of a very long report.
constexpr size_t kMaxSheetBytes = 8 * 1024 * 1024;

// The newest `limit` sheets under <emu_dir>/paper, newest first:
// [{"sheet": "0007", "time", "document": number or null}]; a link is no sheet.
nlohmann::json PaperSheets(const std::string& emu_dir, size_t limit);
// One sheet's file ("0007.png"); false when there is none such: only a
// regular file (never a link) of at most kMaxSheetBytes is a sheet's file.
bool ReadPaper(const std::string& emu_dir, const std::string& file, std::string* bytes);

}  // namespace bridge

#endif  // FR_BRIDGE_CONSOLE_H_
