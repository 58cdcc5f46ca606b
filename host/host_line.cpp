#include "host/host_line.h"

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

#include <algorithm>
#include <chrono>
#include <cstring>
#include <utility>

namespace host {
namespace {

using Clock = std::chrono::steady_clock;

int MillisLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// Appends up to `n` bytes to *out, waiting for data until `deadline`.
// Returns early when all `n` are there.
void ReadUntil(int fd, size_t n, Clock::time_point deadline, std::string* out) {
  const size_t goal = out->size() + n;
  while (out->size() < goal) {
    struct pollfd p = {fd, POLLIN, 0};
    const int ready = poll(&p, 1, MillisLeft(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return;
    char buf[4096];
    const size_t want = goal - out->size() < sizeof(buf) ? goal - out->size() : sizeof(buf);
    const ssize_t got = read(fd, buf, want);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) return;
    out->append(buf, static_cast<size_t>(got));
  }
}

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

constexpr char kTcpScheme[] = "tcp://";
constexpr int kConnectMs = 3000;

// A serial device server's port, connected within kConnectMs.
Status ConnectTcp(const std::string& address, int* out) {
  const std::string rest = address.substr(sizeof kTcpScheme - 1);
  const size_t colon = rest.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == rest.size()) {
    return Status::Invalid(address + ": not tcp://HOST:PORT");
  }
  std::string host = rest.substr(0, colon);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  const std::string port = rest.substr(colon + 1);
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
  *out = fd;
  return Status::OK();
}

}  // namespace

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

HostLine::HostLine(HostLine&& other) noexcept : fd_(other.fd_), owned_(other.owned_) {
  other.fd_ = -1;
  other.owned_ = false;
}

HostLine& HostLine::operator=(HostLine&& other) noexcept {
  if (this != &other) {
    Close();
    std::swap(fd_, other.fd_);
    std::swap(owned_, other.owned_);
  }
  return *this;
}

HostLine::~HostLine() { Close(); }

Status HostLine::Open(const std::string& path) {
  Close();
  if (path.compare(0, sizeof kTcpScheme - 1, kTcpScheme) == 0) {
    // The device server holds the serial port, one client at a time.
    int fd = -1;
    const Status s = ConnectTcp(path, &fd);
    if (!s.ok()) return s;
    fd_ = fd;
    owned_ = true;
    return Status::OK();
  }
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
  fd_ = fd;
  owned_ = true;
  return Status::OK();
}

void HostLine::Close() {
  if (fd_ >= 0 && owned_) {
    // The mode would outlive this program on a line that another process
    // keeps open (a virtual register's), and lock out the next one.
    if (isatty(fd_)) ioctl(fd_, TIOCNXCL);
    close(fd_);  // releases the lock
  }
  fd_ = -1;
  owned_ = false;
}

bool HostLine::Send(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    // A connection the other end closed fails the send, not the program.
    ssize_t n = send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == ENOTSOCK) n = write(fd_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool HostLine::ReadReply(Reply* reply, int timeout_ms) {
  *reply = Reply();
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  std::string raw;
  ReadUntil(fd_, 1, deadline, &raw);  // alone: a wrong byte leaves what follows unread
  for (;;) {
    size_t used = 0;
    const ParseStatus s = ParseFrame(raw, &used, reply);
    if (s == ParseStatus::kComplete) return true;
    if (s == ParseStatus::kBad || raw.empty()) {
      reply->raw = raw;
      return false;
    }
    // Exactly what is missing of the header, then of the frame.
    const size_t before = raw.size();
    ReadUntil(fd_, MissingBytes(raw), deadline, &raw);
    if (raw.size() == before) {
      reply->raw = raw;
      return false;
    }
  }
}

bool HostLine::Request(uint8_t command, uint32_t id, const std::string& data, Reply* reply, int timeout_ms) {
  return Send(EncodeRequest(command, id, data)) && ReadReply(reply, timeout_ms);
}

std::string HostLine::ReadRaw(size_t max, int timeout_ms) {
  std::string out;
  ReadUntil(fd_, max, Clock::now() + std::chrono::milliseconds(timeout_ms), &out);
  return out;
}

void HostLine::Drain() {
  std::string ignored;
  do {
    ignored.clear();
    ReadUntil(fd_, 4096, Clock::now(), &ignored);
  } while (!ignored.empty());
}

std::string HostLine::WaitQuiet(int quiet_ms, int limit_ms) {
  const Clock::time_point limit = Clock::now() + std::chrono::milliseconds(limit_ms);
  std::string out;
  for (;;) {
    const size_t before = out.size();
    const Clock::time_point until = std::min(limit, Clock::now() + std::chrono::milliseconds(quiet_ms));
    ReadUntil(fd_, 4096, until, &out);
    if (out.size() == before || Clock::now() >= limit) return out;
  }
}

}  // namespace host
