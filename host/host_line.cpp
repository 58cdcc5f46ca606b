#include "host/host_line.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace host {
namespace {

using Clock = Port::Clock;

}  // namespace

Status HostLine::Open(const std::string& address) {
  Close();
  // A device server holds its serial port for one client at a time.
  return IsTcpAddress(address) ? OpenTcpPort(address, &line_) : OpenSerialPort(address, &line_);
}

bool HostLine::Send(const std::string& bytes) { return line_ != nullptr && line_->Write(bytes); }

bool HostLine::ReadReply(Reply* reply, int timeout_ms) {
  *reply = Reply();
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  std::string raw;
  Read(1, deadline, &raw);  // alone: a wrong byte leaves what follows unread
  for (;;) {
    size_t used = 0;
    const ParseStatus s = ParseFrame(raw, &used, reply);
    if (s == ParseStatus::kComplete) return true;
    if (s == ParseStatus::kBad || raw.empty()) {
      reply->raw = raw;
      return false;
    }
    // Exactly what is missing of the header, then of the frame.
    const size_t before = raw.size();
    Read(MissingBytes(raw), deadline, &raw);
    if (raw.size() == before) {
      reply->raw = raw;
      return false;
    }
  }
}

bool HostLine::Request(uint8_t command, uint32_t id, const std::string& data, Reply* reply, int timeout_ms) {
  return Send(EncodeRequest(command, id, data)) && ReadReply(reply, timeout_ms);
}

std::string HostLine::ReadRaw(size_t max, int timeout_ms) {
  std::string out;
  Read(max, Clock::now() + std::chrono::milliseconds(timeout_ms), &out);
  return out;
}

void HostLine::Drain() {
  std::string ignored;
  do {
    ignored.clear();
    Read(4096, Clock::now(), &ignored);
  } while (!ignored.empty());
}

std::string HostLine::WaitQuiet(int quiet_ms, int limit_ms) {
  const Clock::time_point limit = Clock::now() + std::chrono::milliseconds(limit_ms);
  std::string out;
  for (;;) {
    const size_t before = out.size();
    const Clock::time_point until = std::min(limit, Clock::now() + std::chrono::milliseconds(quiet_ms));
    Read(4096, until, &out);
    if (out.size() == before || Clock::now() >= limit) return out;
  }
}

}  // namespace host
