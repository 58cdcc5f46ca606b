#include "platform/sandbox_env.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sstream>
#include <thread>
#include <vector>

namespace platform {
namespace {

bool ReadTextFile(BoardEnv* env, const std::string& path, std::string* out) {
  auto f = env->OpenFile(path, "r");
  if (!f) return false;
  char buf[64];
  const size_t n = f->Read(buf, sizeof(buf));
  out->assign(buf, n);
  return true;
}

bool ParseInt64(const std::string& text, int64_t* value) {
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  const long long v = strtoll(begin, &end, 10);
  if (end == begin || errno != 0) return false;
  *value = v;
  return true;
}

}  // namespace

std::string NormalisePath(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}

SandboxEnv::SandboxEnv(std::string root) : root_(NormalisePath(std::move(root))), clock_offset_(0) {
  std::string text;
  int64_t offset = 0;
  if (ReadTextFile(this, kClockOffset, &text) && ParseInt64(text, &offset)) {
    clock_offset_ = offset;
  }
  no_pauses_ = PathExists(kNoPauses);
  fixed_clock_ = PathExists(kFixedClock);
}

std::string SandboxEnv::Resolve(const std::string& path) const {
  if (!path.empty() && path[0] == '/') return root_ + path;
  return root_ + "/" + path;
}

bool SandboxEnv::Mounted(const std::string& path) {
  std::lock_guard<std::mutex> lock(mu_);
  return mounted_.count(NormalisePath(path)) != 0;
}

bool SandboxEnv::DeviceId(const std::string& path, uint64_t* dev) {
  if (!BoardEnv::DeviceId(path, dev)) return false;
  // A mounted card is another file system than the directory holding it.
  if (Mounted(path)) *dev = ~*dev;
  return true;
}

bool SandboxEnv::AvailableBytes(const std::string& path, uint64_t* bytes) {
  std::string text;
  int64_t told = 0;
  if (ReadTextFile(this, kFreeBytes, &text) && ParseInt64(text, &told) && told >= 0) {
    if (!PathExists(path)) return false;
    *bytes = static_cast<uint64_t>(told);
    return true;
  }
  return BoardEnv::AvailableBytes(path, bytes);
}

int64_t SandboxEnv::Now() {
  if (fixed_clock_) {
    std::string text;
    int64_t t = 0;
    // A file caught half rewritten keeps the time last read.
    if (ReadTextFile(this, kFixedClock, &text) && ParseInt64(text, &t)) fixed_time_ = t;
    return fixed_time_.load();
  }
  return BoardEnv::Now() + clock_offset_.load();
}

void SandboxEnv::SleepMillis(int ms) {
  if (no_pauses_) {
    std::this_thread::yield();  // a loop that pauses still lets the others run
    return;
  }
  BoardEnv::SleepMillis(ms);
}

void SandboxEnv::SetClock(int64_t t) {
  if (fixed_clock_) {
    fixed_time_ = t;
    auto f = OpenFile(kFixedClock, "w");
    if (f) {
      const std::string text = std::to_string(t) + "\n";
      f->Write(text.data(), text.size());
      f->Close();
    }
    return;
  }
  const int64_t offset = t - BoardEnv::Now();
  clock_offset_ = offset;
  CreateDirectory(kControlDir);
  auto f = OpenFile(kClockOffset, "w");
  if (f) {
    const std::string text = std::to_string(offset) + "\n";
    f->Write(text.data(), text.size());
    f->Close();
  }
}

int SandboxEnv::RunShell(const std::string& command) {
  if (command.compare(0, 6, "mount ") == 0) return Mount(command);
  if (command.compare(0, 8, "date -s ") == 0) return SetDate(command);
  return 127;
}

// mount -t vfat <device> <dir> -o sync
int SandboxEnv::Mount(const std::string& command) {
  std::istringstream in(command);
  std::vector<std::string> args;
  std::string word;
  in >> word;  // "mount"
  while (in >> word) {
    if (word == "-t" || word == "-o") {
      in >> word;  // the option's value
      continue;
    }
    args.push_back(word);
  }
  const int kMountFailure = 32;
  if (args.size() != 2) return kMountFailure;
  if (!PathExists(args[0]) || !PathExists(args[1]) || PathExists(kMountFails)) {
    return kMountFailure;
  }
  std::lock_guard<std::mutex> lock(mu_);
  mounted_.insert(NormalisePath(args[1]));
  return 0;
}

// date -s 'YYYY-mm-dd HH:MM:SS' && hwclock -w
int SandboxEnv::SetDate(const std::string& command) {
  const size_t open = command.find('\'');
  const size_t close = open == std::string::npos ? open : command.find('\'', open + 1);
  if (close == std::string::npos || PathExists(kClockFails)) return 1;
  const std::string text = command.substr(open + 1, close - open - 1);
  // Read without strptime, which not every C library has.
  struct tm tm = {};
  int used = 0;
  if (sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%n", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour, &tm.tm_min,
             &tm.tm_sec, &used) != 6 ||
      static_cast<size_t>(used) != text.size() || tm.tm_mon < 1 || tm.tm_mon > 12 || tm.tm_mday < 1 ||
      tm.tm_mday > 31 || tm.tm_hour < 0 || tm.tm_hour > 23 || tm.tm_min < 0 || tm.tm_min > 59 || tm.tm_sec < 0 ||
      tm.tm_sec > 60) {
    return 1;
  }
  tm.tm_year -= 1900;
  tm.tm_mon -= 1;
  tm.tm_isdst = -1;
  const int64_t t = MakeLocalTime(&tm);
  if (t == -1) return 1;
  SetClock(t);
  return 0;  // the hardware clock of a sandbox is its offset file
}

}  // namespace platform
