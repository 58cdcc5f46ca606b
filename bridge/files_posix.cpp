#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "bridge/files.h"

namespace bridge {

namespace {

// "755": a mode as chmod takes it.
std::string ModeText(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%03o", static_cast<unsigned>(mode & 0777));
  return text;
}

// Group or others may use it.
bool OpenMode(const std::string& path, mode_t* mode) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || (st.st_mode & 077) == 0) return false;
  *mode = st.st_mode;
  return true;
}

}  // namespace

void PrivateFromNowOn() { umask(077); }

bool MakePrivateDirectory(const std::string& dir) { return mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST; }

bool MakePrivate(const std::string& path, bool directory, std::string* was, std::string* now) {
  mode_t mode = 0;
  const mode_t wanted = directory ? 0700 : 0600;
  if (!OpenMode(path, &mode) || chmod(path.c_str(), wanted) != 0) return false;
  *was = "mode " + ModeText(mode);
  *now = ModeText(wanted);
  return true;
}

bool OpenToOthers(const std::string& path, std::string* how, std::string* fix) {
  mode_t mode = 0;
  if (!OpenMode(path, &mode)) return false;
  *how = "mode " + ModeText(mode);
  *fix = "chmod 600 it";
  return true;
}

bool WritePrivate(const std::string& path, const std::string& text) {
  const std::string tmp = path + ".new";
  const mode_t old = umask(077);
  FILE* f = std::fopen(tmp.c_str(), "w");
  umask(old);
  if (f == nullptr) return false;
  const bool ok =
      std::fwrite(text.data(), 1, text.size(), f) == text.size() && std::fflush(f) == 0 && fsync(fileno(f)) == 0;
  std::fclose(f);
  return ok && chmod(tmp.c_str(), 0600) == 0 && rename(tmp.c_str(), path.c_str()) == 0;
}

bool WriteSynced(const std::string& path, const std::string& text) {
  FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) return false;
  const bool ok =
      std::fwrite(text.data(), 1, text.size(), f) == text.size() && std::fflush(f) == 0 && fsync(fileno(f)) == 0;
  return std::fclose(f) == 0 && ok;
}

bool ReadRegularFile(const std::string& path, size_t limit, std::string* bytes) {
  // O_NONBLOCK: a FIFO must not hold the reader up.
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  const bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) <= limit;
  size_t n = 0;
  if (ok) {
    bytes->resize(static_cast<size_t>(st.st_size));
    while (n < bytes->size()) {
      const ssize_t got = read(fd, &(*bytes)[n], bytes->size() - n);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;  // shorter than it was: what is there
      n += static_cast<size_t>(got);
    }
    bytes->resize(n);
  }
  close(fd);
  return ok;
}

bool ModifiedTime(const std::string& path, int64_t* seconds) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return false;
  *seconds = static_cast<int64_t>(st.st_mtime);
  return true;
}

FileLock::~FileLock() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
}

FileLock::Result FileLock::Take(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return kCannotOpen;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return kTaken;
  }
  handle_ = fd;
  return kHeld;
}

}  // namespace bridge
