#include "tools/emu/tcp_line.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "host/host_line.h"
#include "host/port_posix.h"
#include "tools/common/loopback.h"

namespace emu {
namespace {

// Moves what `from` has to `to`; false when either end is gone.
bool Pass(int from, host::HostLine* to) {
  char buf[4096];
  const ssize_t got = read(from, buf, sizeof buf);
  if (got < 0 && (errno == EINTR || errno == EAGAIN)) return true;
  return got > 0 && to->Send(std::string(buf, static_cast<size_t>(got)));
}

}  // namespace

TcpLine::~TcpLine() { Stop(); }

std::string TcpLine::Start() {
  if (pipe2(stop_pipe_, O_CLOEXEC) != 0) return std::string("pipe: ") + strerror(errno);
  listener_ = sim::ListenLoopback(port_);
  if (listener_ < 0) return "cannot listen on 127.0.0.1:" + std::to_string(port_) + ": " + strerror(errno);
  thread_ = std::thread([this] { Serve(); });
  return "";
}

void TcpLine::Stop() {
  if (thread_.joinable()) {
    const char b = 0;
    while (write(stop_pipe_[1], &b, 1) < 0 && errno == EINTR) {}
    thread_.join();
  }
  for (int* fd : {&listener_, &stop_pipe_[0], &stop_pipe_[1]}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
}

void TcpLine::Serve() {
  for (;;) {
    struct pollfd p[2] = {{listener_, POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}};
    if (poll(p, 2, -1) < 0 && errno != EINTR) return;
    if (p[1].revents != 0) return;
    if ((p[0].revents & POLLIN) == 0) continue;
    const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    host::SetUpTcpLine(client);  // best effort: the client is served all the same
    Relay(client);
    close(client);
  }
}

void TcpLine::Relay(int client) {
  host::HostLine line;
  const host::Status s = line.Open(line_path_);
  if (!s.ok()) {
    std::fprintf(stderr, "fr-emu: a TCP client is refused: %s\n", s.ToString().c_str());
    return;
  }
  host::HostLine to_client(client);  // not owned: closed by Serve
  for (;;) {
    struct pollfd p[4] = {
        {client, POLLIN, 0}, {line.fd(), POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}, {listener_, POLLIN, 0}};
    if (poll(p, 4, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (p[2].revents != 0) return;
    // The client first: one that has just gone leaves the port to the next.
    if (p[0].revents != 0 && !Pass(client, &line)) return;
    if (p[1].revents != 0 && !Pass(line.fd(), &to_client)) return;
    if ((p[3].revents & POLLIN) != 0) {
      const int other = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (other >= 0) close(other);  // one client at a time
    }
  }
}

}  // namespace emu
