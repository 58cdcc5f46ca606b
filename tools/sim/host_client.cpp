#include "tools/sim/host_client.h"

#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>

#include "util/coding.h"
#include "util/crc.h"

namespace sim {
namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kLengthSize = 2;
constexpr size_t kCrcSize = 2;
constexpr size_t kIdSize = 4;

// Appends up to `n` bytes to *out, waiting for data until `deadline`.
// Returns early when all `n` are there.
void ReadUntil(int fd, size_t n, Clock::time_point deadline, std::string* out) {
  const size_t goal = out->size() + n;
  while (out->size() < goal) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    struct pollfd p = {fd, POLLIN, 0};
    const int ready = poll(&p, 1, left > 0 ? static_cast<int>(left) : 0);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return;
    char buf[4096];
    const size_t want = goal - out->size() < sizeof(buf) ? goal - out->size() : sizeof(buf);
    const ssize_t got = read(fd, buf, want);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) return;
    out->append(buf, static_cast<size_t>(got));
  }
}

}  // namespace

std::string HostClient::EncodeFrame(uint8_t command, uint32_t id, const std::string& data) {
  std::string body(1, static_cast<char>(command));
  util::PutFixed32(&body, id);
  body += data;
  return EncodeBody(body);
}

std::string HostClient::EncodeBody(const std::string& body) {
  std::string covered;  // the CRC covers the length field and the body
  util::PutFixed16(&covered, static_cast<uint16_t>(body.size()));
  covered += body;
  std::string frame(1, static_cast<char>(kStart));
  frame += covered;
  util::PutFixed16(&frame, util::Crc16(covered));
  return frame;
}

bool HostClient::Send(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool HostClient::ReadReply(Reply* reply, int timeout_ms) {
  *reply = Reply();
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  std::string& raw = reply->raw;
  ReadUntil(fd_, 1, deadline, &raw);  // alone: a wrong byte leaves what follows unread
  if (raw.empty() || static_cast<uint8_t>(raw[0]) != kStart) return false;
  ReadUntil(fd_, kLengthSize, deadline, &raw);
  if (raw.size() < 1 + kLengthSize) return false;
  const size_t length = util::GetFixed16(raw, 1);
  ReadUntil(fd_, length + kCrcSize, deadline, &raw);
  if (length == 0 || raw.size() < 1 + kLengthSize + length + kCrcSize) return false;
  const std::string covered = raw.substr(1, kLengthSize + length);
  if (util::Crc16(covered) != util::GetFixed16(raw, 1 + covered.size())) return false;

  const std::string body = covered.substr(kLengthSize);
  reply->code = static_cast<uint8_t>(body[0]);
  if (body.size() >= 1 + kIdSize) {
    reply->has_id = true;
    reply->id = util::GetFixed32(body, 1);
    reply->data = body.substr(1 + kIdSize);
  }
  return true;
}

bool HostClient::Request(uint8_t command, uint32_t id, const std::string& data, Reply* reply,
                         int timeout_ms) {
  return Send(EncodeFrame(command, id, data)) && ReadReply(reply, timeout_ms);
}

std::string HostClient::ReadRaw(size_t max, int timeout_ms) {
  std::string out;
  ReadUntil(fd_, max, Clock::now() + std::chrono::milliseconds(timeout_ms), &out);
  return out;
}

void HostClient::Drain() {
  std::string ignored;
  do {
    ignored.clear();
    ReadUntil(fd_, 4096, Clock::now(), &ignored);
  } while (!ignored.empty());
}

}  // namespace sim
