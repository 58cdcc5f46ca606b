#include "tools/gen/primed_printer.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace gen {
namespace {

constexpr char kEscape = 0x1B;
constexpr char kStatusRequest = 0x76;  // ESC v

}  // namespace

PrimedPrinter::~PrimedPrinter() { Stop(); }

bool PrimedPrinter::Open(const std::string& link_path) {
  if (!line_.Open() || !line_.LinkAt(link_path)) return false;
  Answer(kReserve);
  return true;
}

void PrimedPrinter::Answer(size_t n) {
  static const std::string kReady(kReserve, '\0');
  while (n > 0) {
    const size_t chunk = n < kReady.size() ? n : kReady.size();
    const ssize_t put = write(line_.master(), kReady.data(), chunk);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return;
    n -= static_cast<size_t>(put);
  }
}

void PrimedPrinter::Take(const char* bytes, size_t n) {
  size_t requests = 0;
  for (size_t i = 0; i < n; ++i) {
    if (after_escape_ && bytes[i] == kStatusRequest) ++requests;
    after_escape_ = bytes[i] == kEscape;
  }
  received_ += n;
  requests_ += requests;
  Answer(requests);
}

void PrimedPrinter::Pump(int quiet_ms) {
  char buf[65536];
  struct pollfd p = {line_.master(), POLLIN, 0};
  while (poll(&p, 1, quiet_ms) > 0) {
    const ssize_t n = read(line_.master(), buf, sizeof(buf));
    if (n <= 0) return;
    Take(buf, static_cast<size_t>(n));
  }
}

bool PrimedPrinter::Start() {
  if (thread_.joinable() || line_.master() < 0) return false;
  stop_ = false;
  thread_ = std::thread([this] { Run(); });
  return true;
}

void PrimedPrinter::Run() {
  char buf[65536];
  struct pollfd p = {line_.master(), POLLIN, 0};
  while (!stop_) {
    // A short poll, so that Stop is seen without a byte to wake it.
    if (poll(&p, 1, 50) <= 0) continue;
    const ssize_t n = read(line_.master(), buf, sizeof(buf));
    if (n > 0) Take(buf, static_cast<size_t>(n));
  }
}

void PrimedPrinter::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

}  // namespace gen
