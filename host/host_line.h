// The host's end of the register's line: a serial device (or pseudo-terminal)
// held by one program at a time, raw at 115200 baud 8N1, or a serial device
// server's TCP port (tcp://HOST:PORT), with frames written in one write and
// replies read against a deadline. A connection that ends reads as silence
// and fails the next send: the caller opens the line again.
//
// REQUIRES: External synchronization (one thread uses a line at a time).
#ifndef FR_HOST_HOST_LINE_H_
#define FR_HOST_HOST_LINE_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "host/frame.h"
#include "host/status.h"

namespace host {

class HostLine {
 public:
  // A line that is not open yet.
  HostLine() = default;
  // Uses `fd` (a pseudo-terminal's master, say) as it is: not locked, not
  // configured, not closed here.
  explicit HostLine(int fd) : fd_(fd) {}
  HostLine(const HostLine&) = delete;
  HostLine& operator=(const HostLine&) = delete;
  HostLine(HostLine&& other) noexcept;
  HostLine& operator=(HostLine&& other) noexcept;
  ~HostLine();  // Close()

  // Opens `path` for this program alone: an advisory lock (flock, which holds
  // against root too) and the terminal's exclusive mode (TIOCEXCL, which only
  // stops other users' opens). A failure names the path and the reason,
  // another program holding the line among them. tcp://HOST:PORT connects
  // instead (within 3 s); the server keeps other clients out.
  Status Open(const std::string& path);
  // Gives the line up (exclusive mode off, lock released) when it was opened
  // here; a line made from a descriptor is only forgotten.
  void Close();
  bool is_open() const { return fd_ >= 0; }
  int fd() const { return fd_; }

  // Writes `bytes` in one write; only a partial write is continued.
  bool Send(const std::string& bytes);
  // Reads one reply frame within `timeout_ms`, gathering its pieces. The
  // first byte must be the start byte: nothing is skipped, so a stray byte
  // fails the read (and stays the only byte taken). False on time-out or a
  // frame that is not one; reply->raw then holds what was read.
  bool ReadReply(Reply* reply, int timeout_ms = 3000);
  // Send and ReadReply, for tests and tools that choose their identifiers.
  bool Request(uint8_t command, uint32_t id, const std::string& data, Reply* reply, int timeout_ms = 3000);
  // What arrives within `timeout_ms`; returns early once `max` bytes are there.
  std::string ReadRaw(size_t max, int timeout_ms);
  // Drops what has arrived and not been read.
  void Drain();
  // Reads until nothing has come for `quiet_ms` (or `limit_ms` have passed)
  // and returns what was read.
  std::string WaitQuiet(int quiet_ms, int limit_ms);

 private:
  int fd_ = -1;
  bool owned_ = false;
};

// A serial line carried over TCP, at either end: each frame goes as it is
// written (no delay), and a peer gone without a word (its power or its
// network cut) is noticed by the keep-alive within half a minute, or by a
// write left unacknowledged for 15 s. False with errno when refused.
bool SetUpTcpLine(int fd);

}  // namespace host

#endif  // FR_HOST_HOST_LINE_H_
