// The bridge's event stream: numbered events in a bounded buffer, for the
// server-sent events of /v1/events. A reader that fell further behind than
// the buffer holds is told so (Since returns false) and starts again.
//
// Thread-safe.
#ifndef FR_BRIDGE_EVENTS_H_
#define FR_BRIDGE_EVENTS_H_

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace bridge {

struct Event {
  uint64_t id = 0;
  std::string name;  // "status", "document", "register", "task"
  std::string data;  // JSON
};

class Events {
 public:
  static constexpr size_t kDefaultKept = 1000;
  explicit Events(size_t kept = kDefaultKept) : kept_count_(kept) {}

  uint64_t Publish(const std::string& name, const std::string& data);
  // Events after `after` into *out, waiting up to timeout_ms for one to come.
  // False when some of them are no longer kept.
  bool Since(uint64_t after, int timeout_ms, std::vector<Event>* out);
  uint64_t last_id();
  // Wakes every reader (the server is stopping).
  void Close();
  bool closed();

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  const size_t kept_count_;
  std::deque<Event> kept_;
  uint64_t next_id_ = 1;
  bool closed_ = false;
};

}  // namespace bridge

#endif  // FR_BRIDGE_EVENTS_H_
