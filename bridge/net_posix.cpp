#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <vector>

#include "bridge/net.h"

namespace bridge {
namespace net {

namespace {

void EndOf(int fd, bool peer, std::string* ip, int* port) {
  sockaddr_storage sa{};
  socklen_t n = sizeof sa;
  const int r = peer ? getpeername(fd, reinterpret_cast<sockaddr*>(&sa), &n)
                     : getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &n);
  if (r != 0) return;
  char text[INET6_ADDRSTRLEN] = "";
  if (sa.ss_family == AF_INET) {
    const auto& in = reinterpret_cast<const sockaddr_in&>(sa);
    inet_ntop(AF_INET, &in.sin_addr, text, sizeof text);
    *port = ntohs(in.sin_port);
  } else if (sa.ss_family == AF_INET6) {
    const auto& in6 = reinterpret_cast<const sockaddr_in6&>(sa);
    inet_ntop(AF_INET6, &in6.sin6_addr, text, sizeof text);
    *port = ntohs(in6.sin6_port);
  } else {
    *port = 0;
  }
  *ip = text;
}

long Moved(ssize_t r) {
  if (r > 0) return static_cast<long>(r);
  if (r == 0) return kClosed;
  return errno == EAGAIN || errno == EWOULDBLOCK ? kWouldBlock : kFailed;
}

short ReadyOf(short revents) {
  return static_cast<short>(((revents & (POLLIN | POLLHUP | POLLERR)) != 0 ? kRead : 0) |
                            ((revents & (POLLOUT | POLLHUP | POLLERR)) != 0 ? kWrite : 0));
}

}  // namespace

bool Start() {
  signal(SIGPIPE, SIG_IGN);
  return true;
}

void Close(socket_t s) { close(s); }

void SetNonBlocking(socket_t s) {
  const int flags = fcntl(s, F_GETFL, 0);
  fcntl(s, F_SETFL, flags | O_NONBLOCK);
}

void ShutdownWrite(socket_t s) { shutdown(s, SHUT_WR); }

int Poll(PollEntry* entries, size_t n, int timeout_ms) {
  std::vector<pollfd> fds(n);
  for (size_t i = 0; i < n; ++i) {
    fds[i] = pollfd{entries[i].socket,
                    static_cast<short>(((entries[i].want & kRead) != 0 ? POLLIN : 0) |
                                       ((entries[i].want & kWrite) != 0 ? POLLOUT : 0)),
                    0};
  }
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeout_ms, 0));
  int r;
  while ((r = poll(fds.data(), n, timeout_ms)) < 0 && errno == EINTR) {
    if (timeout_ms > 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      timeout_ms = static_cast<int>(std::max<int64_t>(left, 0));
    }
  }
  for (size_t i = 0; i < n; ++i) entries[i].ready = ReadyOf(fds[i].revents);
  return r;
}

long Recv(socket_t s, char* buf, size_t n) {
  for (;;) {
    const ssize_t r = recv(s, buf, n, 0);
    if (r < 0 && errno == EINTR) continue;
    return Moved(r);
  }
}

long Send(socket_t s, const char* buf, size_t n) {
  for (;;) {
    const ssize_t r = send(s, buf, n, MSG_NOSIGNAL);
    if (r < 0 && errno == EINTR) continue;
    // Nothing sent of a non-empty buffer is no progress, never the end.
    return r == 0 ? kFailed : Moved(r);
  }
}

bool PeerClosed(socket_t s) {
  char c;
  return recv(s, &c, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
}

void PeerEnd(socket_t s, std::string* ip, int* port) { EndOf(s, true, ip, port); }

void LocalEnd(socket_t s, std::string* ip, int* port) { EndOf(s, false, ip, port); }

void Listen(socket_t s, int backlog) { listen(s, backlog); }

bool OpenWakePair(socket_t pair[2]) { return pipe2(pair, O_CLOEXEC | O_NONBLOCK) == 0; }

void CloseWakePair(socket_t pair[2]) {
  for (int i = 0; i < 2; ++i) {
    if (pair[i] >= 0) close(pair[i]);
    pair[i] = -1;
  }
}

void Wake(socket_t pair[2]) {
  const char b = 0;
  (void)!write(pair[1], &b, 1);
}

void DrainWake(socket_t pair[2]) {
  char drain[64];
  while (read(pair[0], drain, sizeof drain) > 0) {}
}

}  // namespace net
}  // namespace bridge
