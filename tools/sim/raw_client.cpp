#include "tools/sim/raw_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

namespace sim {

RawClient::RawClient(int port, const std::string& from) : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  inet_pton(AF_INET, from.c_str(), &a.sin_addr);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
  connected_ = fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
               connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
}

RawClient::~RawClient() {
  if (fd_ >= 0) close(fd_);
}

bool RawClient::Send(const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    pollfd p{fd_, POLLOUT, 0};
    if (poll(&p, 1, 1000) <= 0 || (p.revents & (POLLERR | POLLHUP)) != 0) return false;
    const ssize_t n = send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

bool RawClient::Answered() {
  pollfd p{fd_, POLLIN, 0};
  return poll(&p, 1, 0) > 0;
}

std::string RawClient::Read(int timeout_ms, bool* closed) {
  std::string got;
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now()).count();
    pollfd p{fd_, POLLIN, 0};
    if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) break;
    char buf[4096];
    const ssize_t n = recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) {
      if (closed != nullptr) *closed = true;
      break;
    }
    got.append(buf, static_cast<size_t>(n));
  }
  return got;
}

int HttpStatus(const std::string& answer) {
  return answer.compare(0, 9, "HTTP/1.1 ") == 0 ? std::atoi(answer.c_str() + 9) : 0;
}

}  // namespace sim
