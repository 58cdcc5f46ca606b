// A sandbox board on a directory of the caller's choice with a clock that
// only moves when told: the generator and the benchmarks run whole years of
// documents in seconds, and every run of them gives the same bytes.
//
// Local time is UTC. Sleeps move the clock and return at once. Random
// numbers repeat from the seed. Diagnostic lines are counted, not printed.
// Unless syncing is asked for, File::Sync only flushes: the device's fsyncs
// for every document would make a full archive take most of an hour and say
// nothing about the code's own cost.
#ifndef FR_TOOLS_GEN_BOARD_ENV_H_
#define FR_TOOLS_GEN_BOARD_ENV_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/sandbox_env.h"

namespace gen {

class BoardEnv : public platform::SandboxEnv {
 public:
  // 2020-01-01 00:00:00 UTC: years before any clock this runs beside.
  static constexpr int64_t kDefaultStart = 1577836800;

  explicit BoardEnv(std::string root, int64_t now = kDefaultStart, unsigned seed = 1);

  std::unique_ptr<platform::File> OpenFile(const std::string& path, const char* mode) override;
  int64_t Now() override { return now_ms_.load() / 1000; }
  bool LocalTime(int64_t t, struct tm* out) override;
  int64_t MakeLocalTime(struct tm* tm) override;
  void SleepMillis(int ms) override;
  void SeedRandom(unsigned seed) override { random_state_ = seed; }
  int Random() override;
  bool RandomBytes(void* buf, size_t n) override;
  void WriteLine(const std::string& line) override;
  void WriteText(const std::string& text) override;

  void set_now(int64_t t) { now_ms_ = t * 1000; }
  void advance(int64_t seconds) { now_ms_ += seconds * 1000; }
  void set_sync(bool real) { real_sync_ = real; }
  int64_t slept_ms() const { return slept_ms_.load(); }
  uint64_t lines() const { return lines_.load(); }
  std::string last_line();

 protected:
  void SetClock(int64_t t) override { set_now(t); }

 private:
  std::atomic<int64_t> now_ms_;
  std::atomic<int64_t> slept_ms_{0};
  std::atomic<uint64_t> lines_{0};
  std::mutex mu_;
  std::string last_line_;  // guarded by mu_
  uint32_t random_state_;
  bool real_sync_ = false;
};

}  // namespace gen

#endif  // FR_TOOLS_GEN_BOARD_ENV_H_
