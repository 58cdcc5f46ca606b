// One JSON object per line, for requests and jobs. Never given a body: keys,
// task ids, routes and codes only.
//
// Thread-safe.
#ifndef FR_BRIDGE_LOG_H_
#define FR_BRIDGE_LOG_H_

#include <cstdio>
#include <mutex>

#include <nlohmann/json.hpp>

namespace bridge {

class Log {
 public:
  explicit Log(FILE* out) : out_(out) {}
  // Adds "time" (RFC 3339, milliseconds) and writes the line.
  void Write(nlohmann::json line);

 private:
  std::mutex mu_;
  FILE* out_;
};

}  // namespace bridge

#endif  // FR_BRIDGE_LOG_H_
