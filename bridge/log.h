// One JSON object per line, for requests and jobs. Never given a body: keys,
// task ids, routes and codes only. Into a file, the log rotates: past
// kRotateBytes the file becomes FILE.1 (FILE.1 FILE.2, and so on, the
// oldest of kKeepFiles dropped) and a new FILE starts, so that a till left
// alone for years never fills its disk.
//
// Thread-safe.
#ifndef FR_BRIDGE_LOG_H_
#define FR_BRIDGE_LOG_H_

#include <cstdio>
#include <mutex>
#include <string>

#include <nlohmann/json.hpp>

namespace bridge {

class Log {
 public:
  static constexpr long kRotateBytes = 10 * 1024 * 1024;
  static constexpr int kKeepFiles = 5;

  // Lines to `out` (standard error, say), never rotated.
  explicit Log(FILE* out) : out_(out) {}
  Log(const Log&) = delete;
  Log& operator=(const Log&) = delete;
  ~Log();
  // Lines appended to the file at `path`, rotated past `rotate_bytes`;
  // false when it cannot be opened.
  bool Open(const std::string& path, long rotate_bytes = kRotateBytes);

  // Adds "time" (RFC 3339, milliseconds) and writes the line.
  void Write(nlohmann::json line);

 private:
  // REQUIRES: mu_ held.
  void Rotate();

  std::mutex mu_;
  FILE* out_;
  std::string path_;  // empty: not a file of the log's own
  long rotate_bytes_ = kRotateBytes;
};

}  // namespace bridge

#endif  // FR_BRIDGE_LOG_H_
