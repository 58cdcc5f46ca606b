// A board file on the C library's FILE: what the systems' files share.
// Seeking past 2 GiB and syncing are each system's own (posix_env.cpp,
// windows_env.cpp).
#ifndef FR_PLATFORM_STDIO_FILE_H_
#define FR_PLATFORM_STDIO_FILE_H_

#include <cstdio>

#include "platform/env.h"

namespace platform {

class StdioFile : public File {
 public:
  explicit StdioFile(FILE* f) : f_(f) {}
  ~StdioFile() override { Close(); }

  size_t Read(void* buf, size_t n) override { return f_ == nullptr ? 0 : fread(buf, 1, n, f_); }
  size_t Write(const void* buf, size_t n) override { return f_ == nullptr ? 0 : fwrite(buf, 1, n, f_); }
  bool Flush() override { return f_ != nullptr && fflush(f_) == 0; }
  bool Close() override {
    if (f_ == nullptr) return false;
    const bool ok = fclose(f_) == 0;
    f_ = nullptr;
    return ok;
  }

 protected:
  FILE* f_;
};

}  // namespace platform

#endif  // FR_PLATFORM_STDIO_FILE_H_
