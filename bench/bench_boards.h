// What the benchmark programs share: temporary boards, the full board made
// once and kept under the build directory, and a register set up for work.
#ifndef FR_BENCH_BENCH_BOARDS_H_
#define FR_BENCH_BENCH_BOARDS_H_

#include <stdlib.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>

#include "tools/gen/archive_gen.h"
#include "tools/gen/device.h"

namespace bench {

// A fresh directory under $TMPDIR (or /tmp), removed with the object.
class TempDir {
 public:
  TempDir() {
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/fr-bench-XXXXXX";
    if (mkdtemp(&pattern[0]) != nullptr) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The board with `documents` documents under FR_BOARD_CACHE, made on first
// use (about half a minute for a full one). It is made beside its place and
// moved there when whole, so an interrupted run leaves nothing half made.
// Delete the cache after a change to the archive's format.
inline bool CachedBoard(uint32_t documents, std::string* dir, std::string* error) {
  namespace fs = std::filesystem;
  *dir = std::string(FR_BOARD_CACHE) + "/board-" + std::to_string(documents);
  std::error_code ec;
  if (fs::exists(gen::ArchivePath(*dir), ec)) return true;
  const std::string making = *dir + ".making";
  fs::remove_all(making, ec);
  fs::create_directories(FR_BOARD_CACHE, ec);
  fprintf(stderr, "making a board of %u documents in %s ...\n", documents, dir->c_str());
  gen::BoardOptions options;
  options.documents = documents;
  gen::BoardSummary summary;
  const host::Status made = gen::MakeBoard(making, options, &summary);
  if (!made.ok()) {
    *error = made.ToString();
    return false;
  }
  fs::rename(making, *dir, ec);
  if (ec) {
    *error = "cannot move the board into place: " + ec.message();
    return false;
  }
  fprintf(stderr, "made in %.1f s\n", summary.seconds);
  return true;
}

// A register on a fresh temporary board: set up, registered, shift open.
struct WorkingRegister {
  TempDir dir;
  std::unique_ptr<gen::Device> device;
  std::string error;

  explicit WorkingRegister(gen::Device::PrinterMode mode = gen::Device::PrinterMode::kThread) {
    device.reset(new gen::Device(dir.path(), gen::BoardEnv::kDefaultStart + 8 * 3600, mode));
    if (!device->Prepare()) {
      error = device->error();
      return;
    }
    device->StartUp();
    device->env().advance(1);
    if (!device->SetUp()) {
      error = device->error();
      return;
    }
    device->env().advance(1);
    if (!device->OpenShift()) error = device->error();
  }
  ~WorkingRegister() { device.reset(); }  // before the directory goes
  bool ok() const { return error.empty() && !dir.path().empty(); }
};

// Seconds of thread CPU time: what the benchmarks' own timers do not give
// when they time a piece of an iteration by hand.
inline double ThreadCpuSeconds() {
  struct timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

}  // namespace bench

#endif  // FR_BENCH_BENCH_BOARDS_H_
