// The serial device on Linux: the kernel's termios2.
#include "serial/serialport.h"

// The kernel's own termios2 and its requests. libc's <termios.h> must stay
// out of this file: both define struct termios and the same flag macros.
#include <asm/termbits.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace rs {
namespace {

// Baud rate of each standard speed code.
constexpr uint32_t kStandardSpeeds[] = {
    0,    50,   75,   110,   134,   150,   200,   300,    600,    1200,
    1800, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800,
};
constexpr int kStandardSpeedCount = sizeof(kStandardSpeeds) / sizeof(kStandardSpeeds[0]);

// Read and write: no controlling terminal, writes reach the driver before
// returning. O_CLOEXEC keeps the line out of shell commands the register runs.
constexpr int kOpenFlags = O_RDWR | O_NOCTTY | O_SYNC | O_CLOEXEC;

}  // namespace

bool SerialPort::open() {
  close();
  if (path_.empty()) return false;
  fd_ = env_->OpenSerial(path_, kOpenFlags);
  if (fd_ < 0) {
    fd_ = -1;
    return false;
  }
  bool configured = false;
  try {
    configured = configureTermios();
  } catch (...) {
    close();  // the descriptor must not outlive a failed open
    throw;
  }
  if (!configured) {
    close();
    return false;
  }
  state_ = kOpen;
  return true;
}

int SerialPort::close() {
  int result = 0;
  if (fd_ != -1) {
    result = ::close(fd_);
    fd_ = -1;
  }
  state_ = kClosed;
  return result;
}

int SerialPort::read(std::string& buffer, size_t n) {
  if (fd_ < 0) return -1;
  if (n > static_cast<size_t>(INT_MAX)) n = INT_MAX;  // the count must fit the result
  std::string data(n, '\0');
  const ssize_t got = ::read(fd_, &data[0], n);
  if (got < 0) return -1;
  if (got > 0) {
    data.resize(static_cast<size_t>(got));
    buffer.swap(data);
  }
  return static_cast<int>(got);
}

int SerialPort::write(const std::string& bytes) {
  if (state_ != kOpen || fd_ < 0) return -1;
  const size_t n = bytes.size() > static_cast<size_t>(INT_MAX) ? INT_MAX : bytes.size();
  const ssize_t put = ::write(fd_, bytes.data(), n);
  return put < 0 ? -1 : static_cast<int>(put);
}

int SerialPort::bytesWaiting() {
  if (state_ != kOpen) return -1;
  int count = 0;
  if (ioctl(fd_, FIONREAD, &count) != 0) return -1;
  return count;
}

// The board's programs are also tested on a PC under qemu-user, which has no
// termios2 and answers ENOSYS (a kernel never does for a tty). There the
// classic requests carry the same flags, and a standard speed as its B-code.
static_assert(sizeof(struct termios) <= offsetof(struct termios2, c_ispeed),
              "termios2 is termios followed by the two speeds");

bool SerialPort::getTermios(struct termios2* tio) const {
  if (fd_ < 0) return false;
  if (ioctl(fd_, TCGETS2, tio) == 0) return true;
  struct termios old = {};
  if (errno != ENOSYS || ioctl(fd_, TCGETS, &old) != 0) return false;
  *tio = {};
  std::memcpy(tio, &old, sizeof(old));
  return true;
}

bool SerialPort::setTermios(const struct termios2& tio) {
  if (fd_ < 0) return false;
  if (ioctl(fd_, TCSETS2, &tio) == 0) return true;
  if (errno != ENOSYS) return false;
  struct termios old = {};
  std::memcpy(&old, &tio, sizeof(old));
  old.c_cflag &= ~(CBAUD | CIBAUD);
  for (int i = 0; i < kStandardSpeedCount; ++i) {
    if (kStandardSpeeds[i] != tio.c_ospeed) continue;
    // B0..B38400 are the codes 0..15; B57600 and up follow CBAUDEX.
    old.c_cflag |= i < 16 ? static_cast<tcflag_t>(i) : CBAUDEX | static_cast<tcflag_t>(i - 15);
    return ioctl(fd_, TCSETS, &old) == 0;
  }
  return false;
}

bool SerialPort::configureTermios() {
  struct termios2 tio = {};
  // Never write back settings that were not read.
  if (!getTermios(&tio)) return false;

  tcflag_t size;
  switch (data_bits_code_) {
    case 0: size = CS5; break;
    case 1: size = CS6; break;
    case 2: size = CS7; break;
    case 3: size = CS8; break;
    default: return false;
  }
  tio.c_cflag = (tio.c_cflag & ~CSIZE) | size;

  switch (parity_) {
    case kNoParity: tio.c_cflag &= ~PARENB; break;
    case kEvenParity: tio.c_cflag = (tio.c_cflag | PARENB) & ~PARODD; break;
    case kOddParity: tio.c_cflag |= PARENB | PARODD; break;
    default: return false;
  }

  switch (stop_bits_) {
    case 0: tio.c_cflag &= ~CSTOPB; break;
    case 1: tio.c_cflag |= CSTOPB; break;
    default: return false;
  }

  // No hardware flow control; both speeds travel in c_ispeed/c_ospeed.
  // A stale input speed in CIBAUD would override c_ispeed: clear it too.
  tio.c_cflag &= ~(CRTSCTS | CBAUD | CIBAUD);
  tio.c_cflag |= CREAD | CLOCAL | BOTHER;

  uint32_t speed = 0;
  switch (speed_mode_) {
    case kStandardSpeed:
      if (speed_code_ < 0 || speed_code_ >= kStandardSpeedCount) {
        throw std::runtime_error(
            "baudRate passed to bool rs::SerialPort::configureTermios() unrecognized.");
      }
      speed = kStandardSpeeds[speed_code_];
      break;
    case kCustomSpeed:
      speed = custom_speed_;
      break;
    default:
      assert(false);
      return false;
  }
  tio.c_ispeed = speed;
  tio.c_ospeed = speed;

  tio.c_oflag = 0;

  if (read_timeout_ms_ == kBlockingRead) {
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
  } else {
    // Time-outs are checked on entry to lie within 0..25500: VTIME <= 255.
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = static_cast<cc_t>(read_timeout_ms_ / 100);
  }

  tio.c_iflag &=
      ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXANY | IXOFF);

  tio.c_lflag &= ~(ICANON | ISIG | ECHOE | ECHONL);
  if (echo_) {
    tio.c_lflag |= ECHO;
  } else {
    tio.c_lflag &= ~ECHO;
  }

  // Settings the driver cannot take are not an error here; the device
  // simply keeps its previous ones.
  setTermios(tio);
  return true;
}

}  // namespace rs
