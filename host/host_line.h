// The host's end of the register's line (see host/port.h for its kinds: a
// serial device, a COM port or a serial device server's TCP port), with
// frames written in one write and replies read against a deadline. A
// connection that ends reads as silence and fails the next send: the caller
// opens the line again.
//
// REQUIRES: External synchronization (one thread uses a line at a time).
#ifndef FR_HOST_HOST_LINE_H_
#define FR_HOST_HOST_LINE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "host/frame.h"
#include "host/port.h"
#include "host/status.h"

namespace host {

class HostLine {
 public:
  // A line that is not open yet.
  HostLine() = default;
  // Uses `fd` (a pseudo-terminal's master, say) as it is: not locked, not
  // configured, not closed here. POSIX only.
  explicit HostLine(int fd);
  explicit HostLine(std::unique_ptr<Port> line) : line_(std::move(line)) {}
  HostLine(const HostLine&) = delete;
  HostLine& operator=(const HostLine&) = delete;
  HostLine(HostLine&& other) noexcept = default;
  HostLine& operator=(HostLine&& other) noexcept = default;
  ~HostLine() = default;

  // Opens the line at `address` for this program alone (host/port.h). A
  // failure names the address and the reason, another program holding the
  // line among them.
  Status Open(const std::string& address);
  // Gives the line up when it was opened here; a line made from a
  // descriptor is only forgotten.
  void Close() { line_.reset(); }
  bool is_open() const { return line_ != nullptr; }
  // The POSIX descriptor under the line, or -1.
  int fd() const { return line_ ? line_->fd() : -1; }

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
  // What arrives of `n` bytes by `deadline`; nothing on a line not open.
  void Read(size_t n, Port::Clock::time_point deadline, std::string* out) {
    if (line_) line_->Read(n, deadline, out);
  }

  std::unique_ptr<Port> line_;
};

}  // namespace host

#endif  // FR_HOST_HOST_LINE_H_
