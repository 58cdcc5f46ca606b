// The ports on Windows: a COM port (Win32 file calls) or a TCP socket
// (Winsock).
// Winsock first: windows.h would bring in the old one.
#include <winsock2.h>

#include <mstcpip.h>
#include <windows.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <mutex>

#include "host/com_port.h"
#include "host/port.h"
#include "util/system_error.h"

namespace host {
namespace {

class ComPort : public Port {
 public:
  explicit ComPort(HANDLE h) : h_(h) {}
  ~ComPort() override { CloseHandle(h_); }

  bool Write(const std::string& bytes) override {
    size_t done = 0;
    while (done < bytes.size()) {
      DWORD n = 0;
      const DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1 << 20));
      if (!WriteFile(h_, bytes.data() + done, want, &n, nullptr) || n == 0) return false;
      done += n;
    }
    return true;
  }

  void Read(size_t n, Clock::time_point deadline, std::string* out) override {
    const size_t goal = out->size() + n;
    while (out->size() < goal) {
      const int64_t left = MillisLeft(deadline);
      if (!SetReadTimeouts(left)) return;
      char buf[4096];
      DWORD got = 0;
      const DWORD want = static_cast<DWORD>(std::min(goal - out->size(), sizeof buf));
      if (!ReadFile(h_, buf, want, &got, nullptr)) return;
      out->append(buf, got);
      if (got == 0 && MillisLeft(deadline) == 0) return;
    }
  }

 private:
  bool SetReadTimeouts(int64_t wait_ms) {
    const ComTimeouts t = ComReadTimeouts(wait_ms);
    COMMTIMEOUTS c = {};
    c.ReadIntervalTimeout = t.read_interval;
    c.ReadTotalTimeoutMultiplier = t.read_multiplier;
    c.ReadTotalTimeoutConstant = t.read_constant;
    c.WriteTotalTimeoutMultiplier = t.write_multiplier;
    c.WriteTotalTimeoutConstant = t.write_constant;
    return SetCommTimeouts(h_, &c) != 0;
  }

  const HANDLE h_;
};

class TcpPort : public Port {
 public:
  explicit TcpPort(SOCKET s) : s_(s) {}
  ~TcpPort() override { closesocket(s_); }

  bool Write(const std::string& bytes) override {
    size_t done = 0;
    while (done < bytes.size()) {
      const int want = static_cast<int>(std::min<size_t>(bytes.size() - done, 1 << 20));
      const int n = send(s_, bytes.data() + done, want, 0);
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

  void Read(size_t n, Clock::time_point deadline, std::string* out) override {
    const size_t goal = out->size() + n;
    while (out->size() < goal) {
      WSAPOLLFD p = {s_, POLLRDNORM, 0};
      if (WSAPoll(&p, 1, static_cast<INT>(MillisLeft(deadline))) <= 0) return;
      char buf[4096];
      const int want = static_cast<int>(std::min(goal - out->size(), sizeof buf));
      const int got = recv(s_, buf, want, 0);
      if (got <= 0) return;
      out->append(buf, static_cast<size_t>(got));
    }
  }

 private:
  const SOCKET s_;
};

bool StartWinsock() {
  static std::once_flag once;
  static bool ok = false;
  std::call_once(once, [] {
    WSADATA data;
    ok = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  });
  return ok;
}

// As on POSIX: no delay; keep-alive after 10 s idle, probes 5 s apart; a
// write unacknowledged for 15 s ends the connection. Windows before 10
// lacks some of these options; the connection is used all the same.
// The Windows SDK's values (ws2ipdef.h); mingw-w64's headers lack them.
constexpr int kTcpMaxRt = 5, kTcpKeepCnt = 16;

bool SetUpTcpPort(SOCKET s) {
  const BOOL on = TRUE;
  if (setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on) != 0) return false;
  tcp_keepalive k = {1, 10000, 5000};
  DWORD returned = 0;
  WSAIoctl(s, SIO_KEEPALIVE_VALS, &k, sizeof k, nullptr, 0, &returned, nullptr, nullptr);
  const DWORD tries = 3, unacked_s = 15;
  setsockopt(s, IPPROTO_TCP, kTcpKeepCnt, reinterpret_cast<const char*>(&tries), sizeof tries);
  setsockopt(s, IPPROTO_TCP, kTcpMaxRt, reinterpret_cast<const char*>(&unacked_s), sizeof unacked_s);
  return true;
}

}  // namespace

Status OpenSerialPort(const std::string& name, std::unique_ptr<Port>* out) {
  const std::string device = ComDevicePath(name);
  if (device.empty()) return Status::Invalid(name + ": not a COM port (COM3, \\\\.\\COM12) or tcp://HOST:PORT");
  // No sharing: a second program's open fails while this one holds the port.
  const HANDLE h = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD e = GetLastError();
    if (e == ERROR_ACCESS_DENIED || e == ERROR_SHARING_VIOLATION) {
      return Status::IoError(name +
                             " is in use by another program; only one program may hold "
                             "the register's line at a time");
    }
    return Status::IoError("cannot open " + name + ": " + util::SystemMessage(e));
  }
  const ComSettings want;
  DCB dcb = {};
  dcb.DCBlength = sizeof dcb;
  bool ok = GetCommState(h, &dcb) != 0;
  if (ok) {
    dcb.BaudRate = want.baud;
    dcb.ByteSize = want.byte_size;
    dcb.Parity = want.parity;
    dcb.StopBits = want.stop_bits;
    dcb.fBinary = TRUE;  // Windows knows no other mode
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = want.rts_cts;
    dcb.fRtsControl = want.rts_cts ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    dcb.fOutxDsrFlow = want.dtr_dsr;
    dcb.fDtrControl = want.dtr_dsr ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = want.xon_xoff;
    dcb.fInX = want.xon_xoff;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    ok = SetCommState(h, &dcb) != 0;
  }
  if (ok) ok = PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR) != 0;
  if (!ok) {
    const DWORD e = GetLastError();
    CloseHandle(h);
    return Status::IoError("cannot set up " + name + " as a serial line: " + util::SystemMessage(e));
  }
  *out = std::make_unique<ComPort>(h);
  return Status::OK();
}

Status OpenTcpPort(const std::string& address, std::unique_ptr<Port>* out) {
  std::string host, port;
  if (!ParseTcpAddress(address, &host, &port)) return Status::Invalid(address + ": not tcp://HOST:PORT");
  if (!StartWinsock()) return Status::IoError(address + ": Winsock did not start");
  addrinfo hints = {};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int rc = getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
  if (rc != 0) return Status::IoError(address + ": " + util::SystemMessage(static_cast<DWORD>(rc)));
  std::string error = "no address";
  SOCKET s = INVALID_SOCKET;
  for (addrinfo* a = found; a != nullptr && s == INVALID_SOCKET; a = a->ai_next) {
    s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (s == INVALID_SOCKET) continue;
    u_long non_blocking = 1;
    ioctlsocket(s, FIONBIO, &non_blocking);
    int err = connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0 ? 0 : WSAGetLastError();
    if (err == WSAEWOULDBLOCK) {
      WSAPOLLFD p = {s, POLLWRNORM, 0};
      int len = sizeof err;
      err = WSAPoll(&p, 1, kConnectMs) == 1 &&
                    getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) == 0
                ? err
                : WSAETIMEDOUT;
    }
    non_blocking = 0;
    if (err == 0 && ioctlsocket(s, FIONBIO, &non_blocking) != 0) err = WSAGetLastError();
    if (err != 0) {
      error = util::SystemMessage(static_cast<DWORD>(err));
      closesocket(s);
      s = INVALID_SOCKET;
    }
  }
  freeaddrinfo(found);
  if (s == INVALID_SOCKET) return Status::IoError("cannot connect to " + address + ": " + error);
  if (!SetUpTcpPort(s)) {
    const std::string why = util::SystemMessage(static_cast<DWORD>(WSAGetLastError()));
    closesocket(s);
    return Status::IoError("cannot set up the connection to " + address + ": " + why);
  }
  *out = std::make_unique<TcpPort>(s);
  return Status::OK();
}

}  // namespace host
