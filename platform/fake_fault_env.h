// A board whose files fail on request, for tests of what the register does
// when the card misbehaves or the power goes. It wraps another board and
// forwards everything; only file operations and the free-space query are
// touched.
#ifndef FR_PLATFORM_FAKE_FAULT_ENV_H_
#define FR_PLATFORM_FAKE_FAULT_ENV_H_

#include <mutex>
#include <string>

#include "platform/env.h"

namespace platform {

class FaultEnv : public EnvWrapper {
 public:
  enum Op { kOpen, kSeek, kRead, kWrite, kFlush, kSync, kOpCount };
  enum class Fault {
    kFail,     // the operation fails outright (nothing transferred)
    kShort,    // a read or write transfers half of what was asked
    kNoSpace,  // from this write on every write fails; free space reads 0
    kCut,      // power cut: this write lands half, nothing later reaches a file
  };

  // REQUIRES: base outlives this board.
  explicit FaultEnv(Env* base) : EnvWrapper(base) {}

  // Arms one fault at the `nth` (0-based) operation `op` counted from now,
  // on files whose device path starts with `prefix`. Clears the counts.
  void Arm(Op op, int nth, Fault fault, const std::string& prefix = "");
  // Disarms and clears the counts; a cut board stays dead until then.
  void Disarm();
  // Operations `op` seen on matching files since the last Arm or Disarm.
  int count(Op op);
  // True once the armed fault has been applied.
  bool fired();

  std::unique_ptr<File> OpenFile(const std::string& path, const char* mode) override;
  bool AvailableBytes(const std::string& path, uint64_t* bytes) override;

 private:
  class FaultFile;
  // What the next operation `op` on a file of `path` must do.
  enum class Verdict { kPass, kFail, kShort, kCut, kDrop };
  Verdict Next(Op op, const std::string& path);

  std::mutex mu_;
  int counts_[kOpCount] = {};  // guarded by mu_
  bool armed_ = false;         // guarded by mu_
  bool fired_ = false;         // guarded by mu_
  bool dead_ = false;          // guarded by mu_
  bool full_ = false;          // guarded by mu_
  Op op_ = kOpen;              // guarded by mu_
  int nth_ = 0;                // guarded by mu_
  Fault fault_ = Fault::kFail;  // guarded by mu_
  std::string prefix_;         // guarded by mu_
};

}  // namespace platform

#endif  // FR_PLATFORM_FAKE_FAULT_ENV_H_
