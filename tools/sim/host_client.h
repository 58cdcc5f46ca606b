// The point-of-sale host on the host line: encodes request frames and reads
// reply frames.
//   frame: 04 | body length L (2, LE) | body (L) | CRC-16 of length and body (2, LE)
//   request body: command (1) | identifier (4, LE) | data
//   reply body:   result code (1) | identifier (4, LE) | data; or one byte alone
#ifndef FR_TOOLS_SIM_HOST_CLIENT_H_
#define FR_TOOLS_SIM_HOST_CLIENT_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace sim {

struct Reply {
  int code = -1;        // result code byte
  uint32_t id = 0;      // identifier; 0 when the body has none
  std::string data;     // what follows the identifier
  std::string raw;      // the whole frame as received (also what a bad one held)
  bool has_id = false;  // the body has 5 bytes or more
};

class HostClient {
 public:
  static constexpr uint8_t kStart = 0x04;

  // `fd`: the master side of the host pty; not owned.
  explicit HostClient(int fd) : fd_(fd) {}

  static std::string EncodeFrame(uint8_t command, uint32_t id, const std::string& data);
  // A frame around any body, even one too short to hold an identifier.
  static std::string EncodeBody(const std::string& body);

  // Writes `bytes` in one write, so that the device can read a whole frame at
  // once; only a partial write is continued.
  bool Send(const std::string& bytes);
  // Reads one reply frame, gathering its pieces, within `timeout_ms`. The
  // first byte must be the start byte: nothing is skipped. False on time-out,
  // a bad start byte or a bad CRC.
  bool ReadReply(Reply* reply, int timeout_ms = 3000);
  bool Request(uint8_t command, uint32_t id, const std::string& data, Reply* reply,
               int timeout_ms = 3000);
  // What arrives within `timeout_ms`; returns early once `max` bytes are there.
  std::string ReadRaw(size_t max, int timeout_ms);
  // Discards what has arrived and not been read.
  void Drain();

 private:
  int fd_;
};

}  // namespace sim

#endif  // FR_TOOLS_SIM_HOST_CLIENT_H_
