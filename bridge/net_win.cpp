#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <climits>
#include <vector>

#include "bridge/net.h"

namespace bridge {
namespace net {

namespace {

void EndOf(SOCKET s, bool peer, std::string* ip, int* port) {
  sockaddr_storage sa{};
  int n = sizeof sa;
  const int r = peer ? getpeername(s, reinterpret_cast<sockaddr*>(&sa), &n)
                     : getsockname(s, reinterpret_cast<sockaddr*>(&sa), &n);
  if (r != 0) return;
  char text[INET6_ADDRSTRLEN] = "";
  if (sa.ss_family == AF_INET) {
    auto& in = reinterpret_cast<sockaddr_in&>(sa);
    inet_ntop(AF_INET, &in.sin_addr, text, sizeof text);
    *port = ntohs(in.sin_port);
  } else if (sa.ss_family == AF_INET6) {
    auto& in6 = reinterpret_cast<sockaddr_in6&>(sa);
    inet_ntop(AF_INET6, &in6.sin6_addr, text, sizeof text);
    *port = ntohs(in6.sin6_port);
  } else {
    *port = 0;
  }
  *ip = text;
}

long Moved(int r) {
  if (r > 0) return r;
  if (r == 0) return kClosed;
  return WSAGetLastError() == WSAEWOULDBLOCK ? kWouldBlock : kFailed;
}

int Clamp(size_t n) { return static_cast<int>(std::min<size_t>(n, INT_MAX)); }

short ReadyOf(short revents) {
  return static_cast<short>(((revents & (POLLIN | POLLHUP | POLLERR)) != 0 ? kRead : 0) |
                            ((revents & (POLLOUT | POLLHUP | POLLERR)) != 0 ? kWrite : 0));
}

}  // namespace

bool Start() {
  // Once for the process; the process's end cleans up.
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

void Close(socket_t s) { closesocket(s); }

void SetNonBlocking(socket_t s) {
  u_long on = 1;
  ioctlsocket(s, FIONBIO, &on);
}

void ShutdownWrite(socket_t s) { shutdown(s, SD_SEND); }

int Poll(PollEntry* entries, size_t n, int timeout_ms) {
  std::vector<WSAPOLLFD> fds(n);
  for (size_t i = 0; i < n; ++i) {
    fds[i] = WSAPOLLFD{entries[i].socket,
                       static_cast<short>(((entries[i].want & kRead) != 0 ? POLLIN : 0) |
                                          ((entries[i].want & kWrite) != 0 ? POLLOUT : 0)),
                       0};
  }
  // WSAPoll is never interrupted.
  const int r = WSAPoll(fds.data(), static_cast<ULONG>(n), timeout_ms);
  for (size_t i = 0; i < n; ++i) entries[i].ready = ReadyOf(fds[i].revents);
  return r == SOCKET_ERROR ? -1 : r;
}

long Recv(socket_t s, char* buf, size_t n) { return Moved(recv(s, buf, Clamp(n), 0)); }

long Send(socket_t s, const char* buf, size_t n) {
  const int r = send(s, buf, Clamp(n), 0);
  return r == 0 ? kFailed : Moved(r);
}

bool PeerClosed(socket_t s) {
  char c;
  return recv(s, &c, 1, MSG_PEEK) == 0;
}

void PeerEnd(socket_t s, std::string* ip, int* port) { EndOf(s, true, ip, port); }

void LocalEnd(socket_t s, std::string* ip, int* port) { EndOf(s, false, ip, port); }

void Listen(socket_t s, int backlog) { listen(s, backlog); }

bool OpenWakePair(socket_t pair[2]) {
  pair[0] = pair[1] = INVALID_SOCKET;
  auto tcp = [] { return WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT); };
  SOCKET listener = tcp();
  if (listener == INVALID_SOCKET) return false;
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int n = sizeof at;
  bool ok = bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 && listen(listener, 1) == 0 &&
            getsockname(listener, reinterpret_cast<sockaddr*>(&at), &n) == 0;
  if (ok) {
    pair[1] = tcp();
    ok = pair[1] != INVALID_SOCKET && connect(pair[1], reinterpret_cast<sockaddr*>(&at), sizeof at) == 0;
  }
  if (ok) {
    pair[0] = accept(listener, nullptr, nullptr);
    ok = pair[0] != INVALID_SOCKET;
  }
  closesocket(listener);
  if (ok) {
    // The end accepted must be ours: another program on this machine could
    // have connected to the listener first.
    std::string ip, peer_ip;
    int port = 0, peer_port = -1;
    LocalEnd(pair[1], &ip, &port);
    PeerEnd(pair[0], &peer_ip, &peer_port);
    ok = ip == peer_ip && port == peer_port;
  }
  if (ok) {
    // A wake-up is one byte, sent at once.
    const BOOL on = TRUE;
    setsockopt(pair[1], IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    SetNonBlocking(pair[0]);
    SetNonBlocking(pair[1]);
  } else {
    CloseWakePair(pair);
  }
  return ok;
}

void CloseWakePair(socket_t pair[2]) {
  for (int i = 0; i < 2; ++i) {
    if (pair[i] != INVALID_SOCKET) closesocket(pair[i]);
    pair[i] = INVALID_SOCKET;
  }
}

void Wake(socket_t pair[2]) {
  const char b = 0;
  send(pair[1], &b, 1, 0);
}

void DrainWake(socket_t pair[2]) {
  char drain[64];
  while (recv(pair[0], drain, sizeof drain, 0) > 0) {}
}

}  // namespace net
}  // namespace bridge
