// The bridge's door: every connection passes it before a request reaches a
// route. It bounds what a client may cost before it has shown a token:
// connections open at once (in all and per client address), the size, line
// count and time of a request's head, the body whatever its encoding, and
// the requests waiting for a serving thread; some serving threads are kept
// for requests that carry a valid token.
//
// Plain connections wait here while their head comes in and between
// requests, all on one thread that polls them, so a slow or idle client
// holds no serving thread. A TLS connection is served on one thread from
// its handshake to its end (the handshake needs one), under the same limits.
//
// Thread-safe.
#ifndef FR_BRIDGE_DOOR_H_
#define FR_BRIDGE_DOOR_H_

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>

#include "bridge/tls.h"

namespace bridge {

// Every limit has a safe default; the bridge's configuration may change them.
struct DoorLimits {
  size_t connections = 512;       // open at once, every client
  size_t per_address = 64;        // open at once, one client address
  size_t head_bytes = 16 * 1024;  // a request's line and headers
  size_t header_lines = 100;
  int head_ms = 10000;              // from a connection's or request's start to its head's end
  int idle_ms = 5000;               // a kept-alive connection's wait for its next request
  size_t body_bytes = 1024 * 1024;  // as it comes on the wire, chunk framing included
  int body_ms = 30000;              // from the head's end to the body's last byte
  int write_ms = 10000;             // one write to a client that does not read
  size_t threads = 64;              // requests served at once
  size_t reserved = 16;             // of those, kept for requests with a valid token
  size_t queue = 256;               // requests whose head came, waiting for a thread
};

// Why the door or a stream gave up on a request: the answer it deserves.
enum class Breach { kNone, kHeadTooLarge, kHeadTooSlow, kBodyTooLarge, kBodyTooSlow };
int StatusOf(Breach b);               // 431, 408, 413, 408
const char* ProblemCodeOf(Breach b);  // "request.head-too-large", ...

// One connection as httplib reads it: bytes the door read ahead first, then
// the socket (or its TLS session), with the limits counted on what httplib
// consumes. A read past a limit fails and names the breach.
class BoundedStream : public httplib::Stream {
 public:
  // `tls` is the connection's session, nullptr for plain HTTP.
  BoundedStream(socket_t fd, TlsSession* tls, const DoorLimits& limits, std::string ahead);

  // A new request starts: its head's clock and counts begin now.
  void NextRequest();
  // Waits until a byte is there or timeout_ms passes; false on time-out or
  // a closed connection.
  bool WaitReadable(int timeout_ms);
  Breach breach() const { return breach_; }
  bool broken() const { return broken_; }
  // Bytes read ahead and not consumed (a pipelined request's start).
  std::string TakeAhead();

  bool is_readable() const override;
  bool is_writable() const override;
  ssize_t read(char* ptr, size_t size) override;
  ssize_t write(const char* ptr, size_t size) override;
  void get_remote_ip_and_port(std::string& ip, int& port) const override;
  void get_local_ip_and_port(std::string& ip, int& port) const override;
  socket_t socket() const override { return fd_; }

 private:
  using Clock = std::chrono::steady_clock;
  bool Fill(Clock::time_point deadline);
  bool Account(const char* p, size_t n);

  const socket_t fd_;
  TlsSession* const tls_;
  const DoorLimits limits_;
  std::string ahead_;
  size_t ahead_at_ = 0;
  bool head_done_ = false;
  size_t head_bytes_ = 0, head_lines_ = 0, body_bytes_ = 0;
  char tail_[3] = {0, 0, 0};  // the last bytes of the head so far
  Clock::time_point head_deadline_, body_deadline_;
  Breach breach_ = Breach::kNone;
  bool broken_ = false;  // the peer closed or the socket failed
};

class Door {
 public:
  // Serves one request on `stream`; true when the connection may carry
  // another. Called on a serving thread.
  using Serve = std::function<bool(BoundedStream& stream)>;
  // Whether a head's Authorization value is a valid token.
  using Trusted = std::function<bool(const std::string& authorization)>;
  // A connection or request turned away at the door: for the log and metrics.
  using Refused = std::function<void(int status, const std::string& code, const std::string& address)>;

  Door(DoorLimits limits, Trusted trusted, Refused refused);
  Door(const Door&) = delete;
  Door& operator=(const Door&) = delete;
  ~Door();  // Stop()

  // REQUIRES: before Start.
  void set_serve(Serve serve) { serve_ = std::move(serve); }
  void set_tls(const TlsContext* ctx) { tls_ = ctx; }
  void Start();
  // Closes every waiting connection and joins the threads once the
  // requests being served end.
  void Stop();

  // A connection just accepted; the door owns it from now on.
  void Admit(socket_t fd);

  const DoorLimits& limits() const { return limits_; }
  // Open connections, for tests and metrics.
  size_t open();

 private:
  struct Conn {
    socket_t fd = INVALID_SOCKET;
    std::string address;
    std::string ahead;      // bytes read, the head's start
    bool trusted = false;   // its head carries a valid token
    bool draining = false;  // answered and closing: what comes is read and dropped
    size_t drained = 0;
    std::chrono::steady_clock::time_point deadline;
  };

  void Poll();
  // One waiting connection's turn; true while the poller keeps it.
  bool Step(Conn* c, bool readable, std::chrono::steady_clock::time_point now);
  void Work();
  // Reads what a waiting connection sent; false when it was refused or closed.
  bool ReadHead(Conn* c);
  // False (and the connection refused) when the queue is full.
  bool Queue(Conn* c);
  void ServePlain(Conn c);
  void ServeTls(Conn c);
  // Back to the poller: to wait for its next request, or to drain.
  void Return(Conn c);
  void Refuse(Conn* c, int status, const std::string& code, const std::string& detail);
  // Ends the answer and reads what the client still sends for a while, so
  // that closing does not reset the answer away before the client read it.
  void Linger(Conn* c);
  void Close(Conn* c);
  void Wake();

  const DoorLimits limits_;
  const Trusted trusted_;
  const Refused refused_;
  Serve serve_;
  const TlsContext* tls_ = nullptr;

  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<Conn> incoming_;  // admitted or returned, for the poller
  std::deque<Conn> trusted_queue_, anonymous_queue_;
  std::map<std::string, size_t> per_address_;
  size_t open_ = 0;
  size_t busy_anonymous_ = 0;
  bool stopping_ = false;
  socket_t wake_[2] = {INVALID_SOCKET, INVALID_SOCKET};  // net::OpenWakePair's
  std::thread poller_;
  std::vector<std::thread> workers_;
  std::vector<Conn> waiting_;  // the poller's own
};

}  // namespace bridge

#endif  // FR_BRIDGE_DOOR_H_
