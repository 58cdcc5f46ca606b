#include "tools/common/virtual_printer.h"

#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>

namespace sim {
namespace {

constexpr char kEsc = 0x1B;
constexpr char kStatusRequest = 0x76;  // 'v' after ESC
// How long the reader sleeps in poll: bounds how long Stop waits.
constexpr int kPollMillis = 20;

}  // namespace

VirtualPrinter::~VirtualPrinter() { Stop(); }

bool VirtualPrinter::Start(int fd) {
  if (thread_.joinable() || fd < 0) return false;
  fd_ = fd;
  stop_ = false;
  thread_ = std::thread(&VirtualPrinter::Run, this);
  return true;
}

void VirtualPrinter::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

void VirtualPrinter::set_status(int status) {
  std::lock_guard<std::mutex> lock(mu_);
  status_ = status;
}

void VirtualPrinter::set_status_after(const std::string& needle, int status, int count) {
  std::lock_guard<std::mutex> lock(mu_);
  needle_ = needle;
  needle_from_ = received_.size();
  status_after_ = status;
  needle_count_ = count;
}

bool VirtualPrinter::NeedleSeenBefore(size_t end) const {
  int seen = 0;
  for (size_t at = received_.find(needle_, needle_from_); at != std::string::npos && at + needle_.size() <= end;
       at = received_.find(needle_, at + needle_.size())) {
    if (++seen == needle_count_) return true;
  }
  return false;
}

std::string VirtualPrinter::received() const {
  std::lock_guard<std::mutex> lock(mu_);
  return received_;
}

void VirtualPrinter::Clear() {
  std::lock_guard<std::mutex> lock(mu_);
  received_.clear();
  requests_ = 0;
  needle_from_ = 0;
}

int VirtualPrinter::status_requests() const {
  std::lock_guard<std::mutex> lock(mu_);
  return requests_;
}

bool VirtualPrinter::WaitFor(const std::string& needle, int timeout_ms) const {
  std::unique_lock<std::mutex> lock(mu_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                           [&] { return received_.find(needle) != std::string::npos; });
}

void VirtualPrinter::Run() {
  // The device may write ESC and 'v' in two writes; the request still counts.
  bool after_esc = false;
  while (!stop_) {
    struct pollfd p = {fd_, POLLIN, 0};
    const int ready = poll(&p, 1, kPollMillis);
    if (ready < 0 && errno != EINTR) return;
    if (ready <= 0) continue;
    char buf[512];
    const ssize_t n = read(fd_, buf, sizeof(buf));
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return;  // the line is gone
    std::string answers;
    {
      std::lock_guard<std::mutex> lock(mu_);
      const size_t first = received_.size();
      received_.append(buf, static_cast<size_t>(n));
      for (ssize_t i = 0; i < n; ++i) {
        if (after_esc && buf[i] == kStatusRequest) {
          ++requests_;
          if (!needle_.empty() && NeedleSeenBefore(first + static_cast<size_t>(i))) {
            status_ = status_after_;
            needle_.clear();
          }
          if (status_ != kSilent) answers.push_back(static_cast<char>(status_));
        }
        after_esc = buf[i] == kEsc;
      }
    }
    changed_.notify_all();
    if (!answers.empty() && write(fd_, answers.data(), answers.size()) < 0) return;
  }
}

}  // namespace sim
