// The port the register's line runs through, bytes only (HostLine frames
// them). Which kind a port is follows from the register's address: tcp://HOST:PORT is a
// serial device server's TCP port on every system; anything else is the
// system's serial device, a tty path on POSIX (/dev/ttyUSB0) and a COM port
// on Windows (COM3, \\.\COM12). Each system's kinds live in port_posix.cpp
// and port_win.cpp.
//
// REQUIRES: External synchronization (one thread uses a port at a time).
#ifndef FR_HOST_PORT_H_
#define FR_HOST_PORT_H_

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "host/status.h"

namespace host {

class Port {
 public:
  using Clock = std::chrono::steady_clock;

  virtual ~Port() = default;
  // Writes all of `bytes`; false when the port failed. A connection the other
  // end closed fails the write, never the program.
  virtual bool Write(const std::string& bytes) = 0;
  // Appends up to `n` bytes to *out, waiting for them until `deadline`;
  // returns early once all `n` are there. A port that failed reads nothing.
  virtual void Read(size_t n, Clock::time_point deadline, std::string* out) = 0;
  // The descriptor a POSIX port reads and writes (for programs that poll it
  // beside others); -1 where there is none.
  virtual int fd() const { return -1; }
};

// A serial device server's address split into its parts; false when
// `address` is not tcp://HOST:PORT (HOST may be [IPv6]).
bool ParseTcpAddress(const std::string& address, std::string* host, std::string* port);
// What is left of the time until `deadline`, in milliseconds; 0 once past.
int MillisLeft(Port::Clock::time_point deadline);
bool IsTcpAddress(const std::string& address);

// Per system. The serial device is held for this program alone (another
// program holding it is named in the failure) and set to 115200 baud 8N1,
// no flow control.
Status OpenSerialPort(const std::string& path, std::unique_ptr<Port>* out);
// Connected within kConnectMs; every frame goes as it is written, and a peer
// gone without a word is noticed within half a minute (port_posix.h).
Status OpenTcpPort(const std::string& address, std::unique_ptr<Port>* out);

constexpr int kConnectMs = 3000;

}  // namespace host

#endif  // FR_HOST_PORT_H_
