// What the bridge does to files that the system does its own way: files
// only this account may use, the state directory's lock, writes that reach
// the disk, and reads that follow no link. One file per system implements
// it: files_posix.cpp (modes, umask, flock, O_NOFOLLOW) and files_win.cpp
// (access lists, LockFileEx, reparse points).
//
// "Private" is, on POSIX, mode 0600 (0700 for a directory) for the user the
// bridge runs as; on Windows, a protected access list that lets in the
// account the bridge runs as, the administrators and SYSTEM, and nobody else.
#ifndef FR_BRIDGE_FILES_H_
#define FR_BRIDGE_FILES_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace bridge {

// From now on whatever this process makes is private from its birth: the
// umask on POSIX. On Windows what is made in the state directory inherits
// its access list (MakePrivateDirectory), and this does nothing.
void PrivateFromNowOn();

// Makes `dir` private; true when it is there after the call, made now or
// before (then left as it is: MakePrivate tightens it).
bool MakePrivateDirectory(const std::string& dir);

// When others may use `path` (a directory when `directory`), makes it
// private and says what it was and what it is now ("mode 755" and "700" on
// POSIX); false when it was private already, is missing, or could not be
// changed.
bool MakePrivate(const std::string& path, bool directory, std::string* was, std::string* now);

// When others may read `path`, what lets them ("mode 644") and how to end
// it ("chmod 600 it"); false when nobody else may, or it cannot be told.
bool OpenToOthers(const std::string& path, std::string* how, std::string* fix);

// Writes `text` as `path` whole: to path + ".new", private, synced to the
// disk, then renamed over `path`; a reader sees the old file or the new.
bool WritePrivate(const std::string& path, const std::string& text);

// Writes `text` as the whole of `path` and syncs it to the disk.
bool WriteSynced(const std::string& path, const std::string& text);

// A regular file of at most `limit` bytes, never through a link (it could
// lead anywhere on the machine), nor waiting on a FIFO; what is checked is
// what is read. The buffer is the file's size, so parallel reads cost what
// they read. False when it is none such.
bool ReadRegularFile(const std::string& path, size_t limit, std::string* bytes);

// The last change of `path` itself (a link is not followed), in seconds
// since 1970 UTC; false when it cannot be told.
bool ModifiedTime(const std::string& path, int64_t* seconds);

// An exclusive lock on a file, held while this lives and never waited for
// (flock on POSIX, LockFileEx on Windows). Another holder is another
// process, or another FileLock in this one.
class FileLock {
 public:
  enum Result { kHeld, kCannotOpen, kTaken };
  FileLock() = default;
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Makes `path` (private) when missing and locks it. REQUIRES: not held.
  Result Take(const std::string& path);

 private:
  intptr_t handle_ = -1;  // the descriptor, or the HANDLE, while held
};

}  // namespace bridge

#endif  // FR_BRIDGE_FILES_H_
