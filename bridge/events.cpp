#include "bridge/events.h"

#include <chrono>

namespace bridge {

uint64_t Events::Publish(const std::string& name, const std::string& data) {
  std::lock_guard<std::mutex> l(mu_);
  const uint64_t id = next_id_++;
  kept_.push_back(Event{id, name, data});
  if (kept_.size() > kept_count_) kept_.pop_front();
  cv_.notify_all();
  return id;
}

bool Events::Since(uint64_t after, int timeout_ms, std::vector<Event>* out) {
  std::unique_lock<std::mutex> l(mu_);
  out->clear();
  cv_.wait_for(l, std::chrono::milliseconds(timeout_ms), [&] { return closed_ || next_id_ - 1 > after; });
  if (!kept_.empty() && after + 1 < kept_.front().id) return false;
  for (const Event& e : kept_) {
    if (e.id > after) out->push_back(e);
  }
  return true;
}

uint64_t Events::last_id() {
  std::lock_guard<std::mutex> l(mu_);
  return next_id_ - 1;
}

void Events::Close() {
  std::lock_guard<std::mutex> l(mu_);
  closed_ = true;
  cv_.notify_all();
}

bool Events::closed() {
  std::lock_guard<std::mutex> l(mu_);
  return closed_;
}

}  // namespace bridge
