// The ports on POSIX: a tty (or pseudo-terminal) or a TCP socket, both read
// and written as a descriptor.
#include "host/port_posix.h"

#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>

#include "host/host_line.h"

namespace host {
namespace {

class FdPort : public Port {
 public:
  FdPort(int fd, bool owned) : fd_(fd), owned_(owned) {}
  ~FdPort() override {
    if (!owned_) return;
    // The mode would outlive this program on a line that another process
    // keeps open (a virtual register's), and lock out the next one.
    if (isatty(fd_)) ioctl(fd_, TIOCNXCL);
    close(fd_);  // releases the lock
  }

  bool Write(const std::string& bytes) override {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n < 0 && errno == ENOTSOCK) n = write(fd_, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

  void Read(size_t n, Clock::time_point deadline, std::string* out) override {
    const size_t goal = out->size() + n;
    while (out->size() < goal) {
      struct pollfd p = {fd_, POLLIN, 0};
      const int ready = poll(&p, 1, MillisLeft(deadline));
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) return;
      char buf[4096];
      const size_t want = goal - out->size() < sizeof(buf) ? goal - out->size() : sizeof(buf);
      const ssize_t got = read(fd_, buf, want);
      if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (got <= 0) return;
      out->append(buf, static_cast<size_t>(got));
    }
  }

  int fd() const override { return fd_; }

 private:
  const int fd_;
  const bool owned_;
};

// Raw 115200 8N1, no flow control; reads return what is there.
bool Configure(int fd) {
  struct termios t;
  if (tcgetattr(fd, &t) != 0) return false;
  cfmakeraw(&t);
  t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS);
  t.c_cflag |= CLOCAL | CREAD | CS8;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  cfsetispeed(&t, B115200);
  cfsetospeed(&t, B115200);
  return tcsetattr(fd, TCSANOW, &t) == 0;
}

}  // namespace

std::unique_ptr<Port> DescriptorPort(int fd) { return std::make_unique<FdPort>(fd, false); }

HostLine::HostLine(int fd) : line_(DescriptorPort(fd)) {}

bool SetUpTcpLine(int fd) {
  const int on = 1, idle_s = 10, every_s = 5, tries = 3;
  const unsigned int unacked_ms = 15000;
  return setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == 0 &&
         setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) == 0 &&
         setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle_s, sizeof idle_s) == 0 &&
         setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &every_s, sizeof every_s) == 0 &&
         setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &tries, sizeof tries) == 0 &&
         setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &unacked_ms, sizeof unacked_ms) == 0;
}

Status OpenSerialPort(const std::string& path, std::unique_ptr<Port>* out) {
  const std::string busy = path +
                           " is in use by another program; only one program may hold "
                           "the register's line at a time";
  // Non-blocking, so that a line without carrier cannot hold the open.
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return Status::IoError(errno == EBUSY ? busy : "cannot open " + path + ": " + strerror(errno));
  auto fail = [fd](const std::string& message) {
    close(fd);
    return Status::IoError(message);
  };
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    return fail(errno == EWOULDBLOCK ? busy : "cannot lock " + path + ": " + strerror(errno));
  }
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    return fail("cannot set up " + path + ": " + strerror(errno));
  }
  if (isatty(fd)) {
    if (!Configure(fd)) return fail("cannot set up " + path + " as a serial line: " + strerror(errno));
    ioctl(fd, TIOCEXCL);  // other users' opens now fail with EBUSY
  }
  *out = std::make_unique<FdPort>(fd, true);
  return Status::OK();
}

Status OpenTcpPort(const std::string& address, std::unique_ptr<Port>* out) {
  std::string host, port;
  if (!ParseTcpAddress(address, &host, &port)) return Status::Invalid(address + ": not tcp://HOST:PORT");
  struct addrinfo hints = {};
  hints.ai_socktype = SOCK_STREAM;
  struct addrinfo* found = nullptr;
  const int rc = getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
  if (rc != 0) return Status::IoError(address + ": " + gai_strerror(rc));
  std::string error = "no address";
  int fd = -1;
  for (struct addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) {
    fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
    if (fd < 0) continue;
    int err = connect(fd, a->ai_addr, a->ai_addrlen) == 0 ? 0 : errno;
    if (err == EINPROGRESS) {
      struct pollfd p = {fd, POLLOUT, 0};
      socklen_t len = sizeof err;
      err = poll(&p, 1, kConnectMs) == 1 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 ? err : ETIMEDOUT;
    }
    if (err != 0) {
      error = strerror(err);
      close(fd);
      fd = -1;
    }
  }
  freeaddrinfo(found);
  if (fd < 0) return Status::IoError("cannot connect to " + address + ": " + error);
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 || !SetUpTcpLine(fd)) {
    const std::string why = strerror(errno);
    close(fd);
    return Status::IoError("cannot set up the connection to " + address + ": " + why);
  }
  *out = std::make_unique<FdPort>(fd, true);
  return Status::OK();
}

}  // namespace host
