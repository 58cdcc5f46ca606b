#include "platform/board_env.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <utility>

#include "platform/stdio_file.h"

namespace platform {
namespace {

class PosixFile : public StdioFile {
 public:
  // `created_in`: the directory of a file this open created, else empty.
  PosixFile(FILE* f, std::string created_in) : StdioFile(f), created_in_(std::move(created_in)) {}

  bool Seek(uint64_t offset) override {
    if (f_ == nullptr || offset > static_cast<uint64_t>(std::numeric_limits<off_t>::max())) {
      return false;
    }
    return fseeko(f_, static_cast<off_t>(offset), SEEK_SET) == 0;
  }
  bool Sync() override {
    if (!Flush() || fsync(fileno(f_)) != 0) return false;
    // A new file's name lives in its directory: until that is on the
    // medium too, a power cut may lose the whole file.
    if (!created_in_.empty()) {
      const int dir = open(created_in_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (dir < 0) return false;
      const bool ok = fsync(dir) == 0;
      close(dir);
      if (!ok) return false;
      created_in_.clear();
    }
    return true;
  }

 private:
  std::string created_in_;
};

}  // namespace

std::unique_ptr<File> BoardEnv::OpenFile(const std::string& path, const char* mode) {
  const std::string real = Resolve(path);
  struct stat st;
  const bool created = mode[0] != 'r' && stat(real.c_str(), &st) != 0;
  FILE* f = fopen(real.c_str(), mode);
  if (f == nullptr) return nullptr;
  const size_t slash = real.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : real.substr(0, slash);
  return std::unique_ptr<File>(new PosixFile(f, created ? dir : ""));
}

bool BoardEnv::PathExists(const std::string& path) {
  struct stat st;
  return stat(Resolve(path).c_str(), &st) == 0;
}

bool BoardEnv::FileSize(const std::string& path, uint64_t* size) {
  struct stat st;
  if (stat(Resolve(path).c_str(), &st) != 0) return false;
  *size = static_cast<uint64_t>(st.st_size);
  return true;
}

bool BoardEnv::DeviceId(const std::string& path, uint64_t* dev) {
  struct stat st;
  if (stat(Resolve(path).c_str(), &st) != 0) return false;
  *dev = static_cast<uint64_t>(st.st_dev);
  return true;
}

bool BoardEnv::CreateDirectory(const std::string& path) {
  return mkdir(Resolve(path).c_str(), 0755) == 0 || errno == EEXIST;
}

bool BoardEnv::AvailableBytes(const std::string& path, uint64_t* bytes) {
  struct statvfs st;
  if (statvfs(Resolve(path).c_str(), &st) != 0) return false;
  *bytes = static_cast<uint64_t>(st.f_bavail) * static_cast<uint64_t>(st.f_frsize);
  return true;
}

int BoardEnv::RunShell(const std::string& command) { return system(command.c_str()); }

int64_t BoardEnv::Now() { return static_cast<int64_t>(time(nullptr)); }

bool BoardEnv::LocalTime(int64_t t, struct tm* out) {
  const time_t tt = static_cast<time_t>(t);
  return localtime_r(&tt, out) != nullptr;
}

int64_t BoardEnv::MakeLocalTime(struct tm* tm) {
  return static_cast<int64_t>(mktime(tm));
}

void BoardEnv::SleepMillis(int ms) {
  struct timespec ts;
  ts.tv_sec = ms / 1000;
  ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
  // Restart after a signal until the whole pause has passed.
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

void BoardEnv::SeedRandom(unsigned seed) { srand(seed); }

int BoardEnv::Random() { return rand(); }

bool BoardEnv::RandomBytes(void* buf, size_t n) {
  const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  auto* p = static_cast<uint8_t*>(buf);
  size_t done = 0;
  while (done < n) {
    const ssize_t r = read(fd, p + done, n - done);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    done += static_cast<size_t>(r);
  }
  close(fd);
  return done == n;
}

int BoardEnv::OpenSerial(const std::string& path, int flags) {
  return open(Resolve(path).c_str(), flags);
}

bool BoardEnv::LockFile(const std::string& path, int64_t* holder, std::string* error) {
  *holder = 0;
  // Its folder, each level down from the root (a fresh /run holds none).
  for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    CreateDirectory(path.substr(0, slash));
  }
  const std::string real = Resolve(path);
  // Never closed: a record lock goes with the first close of its file.
  const int fd = open(real.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = "cannot open the lock file " + real + ": " + strerror(errno);
    return false;
  }
  // A record lock, not flock(): the kernel drops it when the process dies,
  // however it dies, and names the holder to whoever asks.
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  if (fcntl(fd, F_SETLK, &lock) == 0) {
    // The holder's number in the file, for scripts that cannot ask the
    // kernel (a shell has no F_GETLK): "1234\n".
    const std::string pid = std::to_string(getpid()) + "\n";
    const bool noted =
        ftruncate(fd, 0) == 0 && pwrite(fd, pid.data(), pid.size(), 0) == static_cast<ssize_t>(pid.size());
    static_cast<void>(noted);  // without the note the lock holds all the same
    return true;
  }
  const int taken = errno;
  // The same lock asked about: F_GETLK fills in who holds it.
  if ((taken == EAGAIN || taken == EACCES) && fcntl(fd, F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK) {
    *holder = lock.l_pid;
  }
  close(fd);
  *error = *holder != 0 ? "process " + std::to_string(*holder) + " holds the lock " + real
                        : "cannot lock " + real + ": " + strerror(taken);
  return false;
}

}  // namespace platform
