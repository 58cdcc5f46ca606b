// The sandbox board: a whole board inside one directory, so that the register
// runs on any PC and in tests without touching the machine.
//
//   every fixed path P          -> <root>P
//   card present                -> <root>/dev/mmcblk0p1 exists (any file)
//   "mount ..."                 -> mounts that card onto <root>/mnt/sd/ unless
//                                  <root>/sandbox/mount-fails exists
//   free space                  -> <root>/sandbox/free-bytes (decimal) if
//                                  present, else that of the file system
//   "date -s '...' && hwclock -w" -> moves a clock offset kept in
//                                  <root>/sandbox/clock-offset
//   a clock that stands still     -> <root>/sandbox/clock (seconds since 1970,
//                                  decimal) when it exists at start: the
//                                  board's time is what it holds, read anew
//                                  at every reading, and setting the clock
//                                  writes it (examples with exact times)
//   pauses                      -> only yield the processor when
//                                  <root>/sandbox/no-pauses exists at start,
//                                  so long host runs cost no pause time
// Other shell commands are refused (status 127) and never reach the machine.
#ifndef FR_PLATFORM_SANDBOX_ENV_H_
#define FR_PLATFORM_SANDBOX_ENV_H_

#include <atomic>
#include <mutex>
#include <set>
#include <string>

#include "platform/board_env.h"

namespace platform {

class SandboxEnv : public BoardEnv {
 public:
  // Control files under <root>/sandbox/.
  static constexpr const char* kControlDir = "/sandbox";
  static constexpr const char* kMountFails = "/sandbox/mount-fails";
  // While it exists, date and hwclock fail and the clock stays.
  static constexpr const char* kClockFails = "/sandbox/clock-fails";
  static constexpr const char* kFreeBytes = "/sandbox/free-bytes";
  static constexpr const char* kClockOffset = "/sandbox/clock-offset";
  static constexpr const char* kNoPauses = "/sandbox/no-pauses";
  static constexpr const char* kFixedClock = "/sandbox/clock";

  explicit SandboxEnv(std::string root);

  const std::string& root() const { return root_; }

  std::string Resolve(const std::string& path) const override;
  bool DeviceId(const std::string& path, uint64_t* dev) override;
  bool AvailableBytes(const std::string& path, uint64_t* bytes) override;
  int RunShell(const std::string& command) override;
  int64_t Now() override;
  void SleepMillis(int ms) override;

 protected:
  // Makes the board's clock read `t` from now on.
  virtual void SetClock(int64_t t);

 private:
  int Mount(const std::string& command);
  int SetDate(const std::string& command);
  bool Mounted(const std::string& path);

  const std::string root_;
  std::atomic<int64_t> clock_offset_;
  std::atomic<int64_t> fixed_time_{0};  // the standing clock as last read
  bool no_pauses_ = false;    // fixed at start
  bool fixed_clock_ = false;  // fixed at start
  std::mutex mu_;
  std::set<std::string> mounted_;  // normalised mount points; guarded by mu_
};

// "/mnt/sd/" and "/mnt/sd" name the same directory.
std::string NormalisePath(const std::string& path);

}  // namespace platform

#endif  // FR_PLATFORM_SANDBOX_ENV_H_
