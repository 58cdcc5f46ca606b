#include "platform/fake_env.h"

#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace platform {
namespace {

std::string MakeTempRoot() {
  const char* tmp = getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") +
                        "/fr-fake-XXXXXX";
  if (mkdtemp(&pattern[0]) == nullptr) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

// 2024-01-01 00:00:00 UTC: later than any build of this code under test.
constexpr int64_t kDefaultNow = 1704067200;

}  // namespace

FakeEnv::FakeEnv() : SandboxEnv(MakeTempRoot()), now_ms_(kDefaultNow * 1000) {}

FakeEnv::~FakeEnv() {
  std::error_code ec;
  std::filesystem::remove_all(root(), ec);
}

bool FakeEnv::LocalTime(int64_t t, struct tm* out) {
  const time_t tt = static_cast<time_t>(t);
  return gmtime_r(&tt, out) != nullptr;
}

int64_t FakeEnv::MakeLocalTime(struct tm* tm) { return static_cast<int64_t>(timegm(tm)); }

void FakeEnv::SleepMillis(int ms) {
  if (ms <= 0) return;
  slept_ms_ += ms;
  now_ms_ += ms;
}

void FakeEnv::SeedRandom(unsigned seed) {
  std::lock_guard<std::mutex> lock(mu_);
  random_state_ = seed;
}

int FakeEnv::Random() {
  std::lock_guard<std::mutex> lock(mu_);
  random_state_ = random_state_ * 1103515245u + 12345u;
  return static_cast<int>((random_state_ >> 1) & 0x7FFFFFFF);
}

bool FakeEnv::RandomBytes(void* buf, size_t n) {
  if (random_fails_) return false;
  auto* p = static_cast<uint8_t*>(buf);
  for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(Random() >> 7);
  return true;
}

int FakeEnv::RunShell(const std::string& command) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    commands_.push_back(command);
  }
  return SandboxEnv::RunShell(command);
}

void FakeEnv::WriteLine(const std::string& line) {
  std::lock_guard<std::mutex> lock(mu_);
  lines_.push_back(line);
}

void FakeEnv::WriteText(const std::string& text) { WriteLine(text); }

std::vector<std::string> FakeEnv::lines() {
  std::lock_guard<std::mutex> lock(mu_);
  return lines_;
}

std::vector<std::string> FakeEnv::commands() {
  std::lock_guard<std::mutex> lock(mu_);
  return commands_;
}

void FakeEnv::ClearLines() {
  std::lock_guard<std::mutex> lock(mu_);
  lines_.clear();
}

bool FakeEnv::WriteFile(const std::string& path, const std::string& content) {
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(Resolve(path)).parent_path(), ec);
  auto f = OpenFile(path, "w");
  if (!f) return false;
  const bool ok = f->Write(content.data(), content.size()) == content.size();
  return f->Close() && ok;
}

bool FakeEnv::ReadFile(const std::string& path, std::string* content) {
  auto f = OpenFile(path, "r");
  if (!f) return false;
  content->clear();
  char buf[4096];
  size_t n;
  while ((n = f->Read(buf, sizeof(buf))) > 0) content->append(buf, n);
  return true;
}

}  // namespace platform
