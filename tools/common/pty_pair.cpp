#include "tools/common/pty_pair.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace sim {
namespace {

bool MakeRaw(int fd) {
  struct termios t;
  if (tcgetattr(fd, &t) != 0) return false;
  cfmakeraw(&t);
  return tcsetattr(fd, TCSANOW, &t) == 0;
}

}  // namespace

PtyPair::~PtyPair() {
  if (!link_path_.empty()) unlink(link_path_.c_str());
  if (slave_ >= 0) close(slave_);
  if (master_ >= 0) close(master_);
}

bool PtyPair::Open() {
  if (master_ >= 0) return false;
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) return false;
  char name[128];
  if (grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname_r(master_, name, sizeof(name)) != 0) {
    return false;
  }
  slave_name_ = name;
  slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  return slave_ >= 0 && MakeRaw(slave_) && MakeRaw(master_);
}

bool PtyPair::LinkAt(const std::string& link_path) {
  if (slave_name_.empty()) return false;
  if (!link_path_.empty()) unlink(link_path_.c_str());
  unlink(link_path.c_str());  // a stale link from an earlier run
  if (symlink(slave_name_.c_str(), link_path.c_str()) != 0) return false;
  link_path_ = link_path;
  return true;
}

void PtyPair::CloseMaster() {
  if (master_ >= 0) close(master_);
  master_ = -1;
}

bool PtyPair::FlushInput() { return slave_ >= 0 && tcflush(slave_, TCIFLUSH) == 0; }

void PtyPair::ClearStaleExclusive() {
  if (slave_ < 0 || flock(slave_, LOCK_EX | LOCK_NB) != 0) return;  // held, or unknown
  ioctl(slave_, TIOCNXCL);
  flock(slave_, LOCK_UN);
}

}  // namespace sim
