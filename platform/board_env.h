// The real board, and the base of the sandbox board: the system's calls on
// paths that subclasses may map elsewhere. POSIX on the board and Linux PCs
// (posix_env.cpp); on Windows, where only the host tools are built, the C
// and C++ standard libraries where they serve and Win32 where they do not
// (windows_env.cpp), its serial devices and device numbers refused.
#ifndef FR_PLATFORM_BOARD_ENV_H_
#define FR_PLATFORM_BOARD_ENV_H_

#include "platform/env.h"

namespace platform {

class BoardEnv : public Env {
 public:
  std::string Resolve(const std::string& path) const override { return path; }

  std::unique_ptr<File> OpenFile(const std::string& path, const char* mode) override;
  bool PathExists(const std::string& path) override;
  bool FileSize(const std::string& path, uint64_t* size) override;
  bool DeviceId(const std::string& path, uint64_t* dev) override;
  bool CreateDirectory(const std::string& path) override;
  bool AvailableBytes(const std::string& path, uint64_t* bytes) override;
  int RunShell(const std::string& command) override;
  int64_t Now() override;
  bool LocalTime(int64_t t, struct tm* out) override;
  int64_t MakeLocalTime(struct tm* tm) override;
  void SleepMillis(int ms) override;
  void SeedRandom(unsigned seed) override;
  int Random() override;
  bool RandomBytes(void* buf, size_t n) override;
  int OpenSerial(const std::string& path, int flags) override;
  bool LockFile(const std::string& path, int64_t* holder, std::string* error) override;
  void WriteLine(const std::string& line) override;
  void WriteText(const std::string& text) override;
};

}  // namespace platform

#endif  // FR_PLATFORM_BOARD_ENV_H_
