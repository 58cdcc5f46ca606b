#include "bridge/log.h"

#include "bridge/answer.h"
#include "host/clock.h"

#include <chrono>
#include <ctime>

namespace bridge {

void Log::Write(nlohmann::json line) {
  const int64_t ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
          .count();
  const std::tm tm = host::UtcOf(static_cast<std::time_t>(ms / 1000));
  char buf[40];
  const size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
  std::snprintf(buf + n, sizeof buf - n, ".%03dZ", static_cast<int>(ms % 1000));
  line["time"] = buf;
  const std::string text = Dump(line) + "\n";
  std::lock_guard<std::mutex> l(mu_);
  std::fwrite(text.data(), 1, text.size(), out_);
  std::fflush(out_);
}

}  // namespace bridge
