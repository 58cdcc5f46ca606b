// A board that loses power as hardware does. A card keeps what was synced;
// what was only written since a file's last sync may be lost at a power cut,
// all of it or up to some point, and a file's growth past its synced size
// with it. Killing the process loses nothing of that (the page cache
// survives), so only a board that remembers what was synced can test the
// order of writes and syncs.
//
// It wraps another board (whose files must be real files under Resolve) and
// tracks the files whose device path starts with `prefix`: per file, an undo
// record of every write since its last sync. A cut stops every later file
// operation; LoseUnsynced then rolls the files back as the card would have
// kept them.
#ifndef FR_PLATFORM_FAKE_POWER_ENV_H_
#define FR_PLATFORM_FAKE_POWER_ENV_H_

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/env.h"

namespace platform {

class PowerLossEnv : public EnvWrapper {
 public:
  // REQUIRES: base outlives this board.
  PowerLossEnv(Env* base, std::string prefix) : EnvWrapper(base), prefix_(std::move(prefix)) {}

  // The power goes once `ops` more operations on tracked files have run
  // (opens, seeks, reads, writes, flushes, syncs): that one and every later
  // one do nothing. Negative: never.
  void CutAfter(int ops);
  bool cut();
  // Operations on tracked files since the last CutAfter.
  int ops();
  // What survives the cut: with `seed` 0 every unsynced write is lost;
  // otherwise each file keeps a random number of its oldest unsynced writes
  // (the last one kept may land in part). Then files are cut back to what
  // was synced of their size. Forgets the undo records.
  void LoseUnsynced(uint32_t seed);

  std::unique_ptr<File> OpenFile(const std::string& path, const char* mode) override;

 private:
  class TrackedFile;
  // A write since the file's last sync, and what it overwrote.
  struct Undo {
    uint64_t offset;
    std::string old;  // the bytes it replaced (shorter when it grew the file)
    size_t size;      // bytes written
  };
  struct Track {
    uint64_t synced_size = 0;
    std::vector<Undo> unsynced;
  };

  // False once the power is gone; counts the operation otherwise.
  bool Powered();
  bool Tracked(const std::string& path) const { return path.compare(0, prefix_.size(), prefix_) == 0; }
  void Opened(const std::string& path);
  void Wrote(const std::string& path, Undo undo);
  void Synced(const std::string& path);

  const std::string prefix_;
  std::mutex mu_;
  int ops_ = 0;           // guarded by mu_
  int cut_after_ = -1;    // guarded by mu_
  bool cut_ = false;      // guarded by mu_
  std::map<std::string, Track> files_;  // by device path; guarded by mu_
};

}  // namespace platform

#endif  // FR_PLATFORM_FAKE_POWER_ENV_H_
