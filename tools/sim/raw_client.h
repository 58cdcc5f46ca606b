// A TCP connection to a loopback server from a chosen loopback address,
// sending bytes as they are: for tests and benchmarks of what no
// well-behaved HTTP client sends (slow heads, endless headers, bodies that
// never end).
#ifndef FR_TOOLS_SIM_RAW_CLIENT_H_
#define FR_TOOLS_SIM_RAW_CLIENT_H_

#include <string>

namespace sim {

class RawClient {
 public:
  // Connects to 127.0.0.1:port from `from` (any 127.x.y.z address).
  explicit RawClient(int port, const std::string& from = "127.0.0.1");
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;
  ~RawClient();

  bool connected() const { return connected_; }
  // All of it, or false (the server closed, or its buffers stayed full for
  // a second).
  bool Send(const std::string& bytes);
  // Something came, or the server closed: a client stops sending then.
  bool Answered();
  // What comes until the server closes or timeout_ms pass; *closed (may
  // be null) tells which.
  std::string Read(int timeout_ms, bool* closed = nullptr);

 private:
  const int fd_;
  bool connected_ = false;
};

// The status of an HTTP/1.1 answer's first line; 0 when there is none.
int HttpStatus(const std::string& answer);

}  // namespace sim

#endif  // FR_TOOLS_SIM_RAW_CLIENT_H_
