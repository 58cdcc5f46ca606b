#include "tools/gen/board_env.h"

#include <ctime>

namespace gen {
namespace {

// Forwards everything but Sync, which only flushes unless asked for.
class FlushOnlyFile : public platform::File {
 public:
  FlushOnlyFile(std::unique_ptr<platform::File> file, const bool* real_sync)
      : file_(std::move(file)), real_sync_(real_sync) {}

  bool Seek(uint64_t offset) override { return file_->Seek(offset); }
  size_t Read(void* buf, size_t n) override { return file_->Read(buf, n); }
  size_t Write(const void* buf, size_t n) override { return file_->Write(buf, n); }
  bool Flush() override { return file_->Flush(); }
  bool Sync() override { return *real_sync_ ? file_->Sync() : file_->Flush(); }
  bool Close() override { return file_->Close(); }

 private:
  std::unique_ptr<platform::File> file_;
  const bool* real_sync_;
};

}  // namespace

BoardEnv::BoardEnv(std::string root, int64_t now, unsigned seed)
    : SandboxEnv(std::move(root)), now_ms_(now * 1000), random_state_(seed) {}

std::unique_ptr<platform::File> BoardEnv::OpenFile(const std::string& path, const char* mode) {
  std::unique_ptr<platform::File> f = SandboxEnv::OpenFile(path, mode);
  if (!f) return nullptr;
  return std::unique_ptr<platform::File>(new FlushOnlyFile(std::move(f), &real_sync_));
}

bool BoardEnv::LocalTime(int64_t t, struct tm* out) {
  const time_t tt = static_cast<time_t>(t);
  return gmtime_r(&tt, out) != nullptr;
}

int64_t BoardEnv::MakeLocalTime(struct tm* tm) { return static_cast<int64_t>(timegm(tm)); }

void BoardEnv::SleepMillis(int ms) {
  if (ms <= 0) return;
  slept_ms_ += ms;
  now_ms_ += ms;
}

int BoardEnv::Random() {
  random_state_ = random_state_ * 1103515245u + 12345u;
  return static_cast<int>((random_state_ >> 1) & 0x7FFFFFFF);
}

bool BoardEnv::RandomBytes(void* buf, size_t n) {
  auto* p = static_cast<uint8_t*>(buf);
  for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(Random() >> 7);
  return true;
}

void BoardEnv::WriteLine(const std::string& line) {
  ++lines_;
  std::lock_guard<std::mutex> lock(mu_);
  last_line_ = line;
}

std::string BoardEnv::last_line() {
  std::lock_guard<std::mutex> lock(mu_);
  return last_line_;
}

void BoardEnv::WriteText(const std::string& text) { WriteLine(text); }

}  // namespace gen
