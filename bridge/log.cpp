#include "bridge/log.h"

#include "bridge/answer.h"

#include <sys/time.h>

#include <ctime>

namespace bridge {

void Log::Write(nlohmann::json line) {
  timeval tv;
  gettimeofday(&tv, nullptr);
  std::tm tm = {};
  gmtime_r(&tv.tv_sec, &tm);
  char buf[40];
  const size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
  std::snprintf(buf + n, sizeof buf - n, ".%03dZ", static_cast<int>(tv.tv_usec / 1000));
  line["time"] = buf;
  const std::string text = Dump(line) + "\n";
  std::lock_guard<std::mutex> l(mu_);
  std::fwrite(text.data(), 1, text.size(), out_);
  std::fflush(out_);
}

}  // namespace bridge
