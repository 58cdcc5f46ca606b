#include "bridge/log.h"

#include "bridge/answer.h"
#include "host/clock.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>

namespace bridge {

Log::~Log() {
  if (!path_.empty() && out_ != nullptr) std::fclose(out_);
}

bool Log::Open(const std::string& path, long rotate_bytes) {
  FILE* f = std::fopen(path.c_str(), "ab");  // bytes as written, on Windows too
  if (f == nullptr) return false;
  std::lock_guard<std::mutex> l(mu_);
  out_ = f;
  path_ = path;
  rotate_bytes_ = rotate_bytes;
  return true;
}

void Log::Rotate() {
  std::fclose(out_);
  std::remove((path_ + "." + std::to_string(kKeepFiles)).c_str());
  for (int i = kKeepFiles - 1; i >= 1; --i) {
    std::rename((path_ + "." + std::to_string(i)).c_str(), (path_ + "." + std::to_string(i + 1)).c_str());
  }
  std::rename(path_.c_str(), (path_ + ".1").c_str());
  out_ = std::fopen(path_.c_str(), "ab");
}

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
  if (out_ == nullptr) return;  // the rotation could not open a new file
  std::fwrite(text.data(), 1, text.size(), out_);
  std::fflush(out_);
  if (!path_.empty() && std::ftell(out_) >= rotate_bytes_) Rotate();
}

}  // namespace bridge
