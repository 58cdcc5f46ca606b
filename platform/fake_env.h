// A sandbox board for unit tests: files live under a temporary root, but the
// clock, the sleeps and the random numbers are fake, so that long waits cost
// no wall time and results repeat. Diagnostic lines are captured.
#ifndef FR_PLATFORM_FAKE_ENV_H_
#define FR_PLATFORM_FAKE_ENV_H_

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "platform/sandbox_env.h"

namespace platform {

class FakeEnv : public SandboxEnv {
 public:
  // Creates a fresh root directory under $TMPDIR (removed by the destructor).
  FakeEnv();
  ~FakeEnv() override;

  int64_t Now() override { return now_ms_.load() / 1000; }
  bool LocalTime(int64_t t, struct tm* out) override;    // UTC
  int64_t MakeLocalTime(struct tm* tm) override;         // UTC
  void SleepMillis(int ms) override;
  void SeedRandom(unsigned seed) override;
  int Random() override;
  bool RandomBytes(void* buf, size_t n) override;
  int RunShell(const std::string& command) override;
  void WriteLine(const std::string& line) override;
  // Kept as a line of its own, so tests can find it.
  void WriteText(const std::string& text) override;

  void set_now(int64_t t) { now_ms_ = t * 1000; }
  void set_random_fails(bool fails) { random_fails_ = fails; }
  // Total of all fake sleeps, in milliseconds.
  int64_t slept_ms() const { return slept_ms_.load(); }
  std::vector<std::string> lines();
  std::vector<std::string> commands();
  void ClearLines();
  // Writes a file under the root, creating its directories.
  bool WriteFile(const std::string& path, const std::string& content);
  bool ReadFile(const std::string& path, std::string* content);

 protected:
  void SetClock(int64_t t) override { set_now(t); }

 private:
  std::atomic<int64_t> now_ms_;
  std::atomic<int64_t> slept_ms_{0};
  std::atomic<bool> random_fails_{false};
  std::mutex mu_;
  uint32_t random_state_ = 1;          // guarded by mu_
  std::vector<std::string> lines_;     // guarded by mu_
  std::vector<std::string> commands_;  // guarded by mu_
};

}  // namespace platform

#endif  // FR_PLATFORM_FAKE_ENV_H_
