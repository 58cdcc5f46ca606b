#include "host/frame.h"

#include "link/frame_format.h"
#include "util/coding.h"
#include "util/crc.h"

namespace host {

std::string EncodeRequest(uint8_t command, uint32_t id, const std::string& data) {
  std::string body(1, static_cast<char>(command));
  util::PutFixed32(&body, id);
  body += data;
  return EncodeFrame(body);
}

std::string EncodeFrame(const std::string& body) {
  std::string covered;
  util::PutFixed16(&covered, static_cast<uint16_t>(body.size()));
  covered += body;
  std::string frame(1, static_cast<char>(frame::kStart));
  frame += covered;
  util::PutFixed16(&frame, FrameCrc(covered));
  return frame;
}

uint16_t FrameCrc(const std::string& length_and_body) { return util::Crc16(length_and_body); }

ParseStatus ParseFrame(const std::string& bytes, size_t* used, Reply* reply) {
  *used = 0;
  *reply = Reply();
  if (bytes.empty()) return ParseStatus::kNeedMore;
  if (static_cast<uint8_t>(bytes[0]) != frame::kStart) {
    *used = 1;
    reply->raw = bytes.substr(0, 1);
    return ParseStatus::kBad;
  }
  const size_t header = 1 + frame::kLengthSize;
  if (bytes.size() < header) return ParseStatus::kNeedMore;
  const size_t length = util::GetFixed16(bytes, 1);
  const size_t total = header + length + frame::kCrcSize;
  if (length == 0) {
    *used = header;
    reply->raw = bytes.substr(0, header);
    return ParseStatus::kBad;
  }
  if (bytes.size() < total) return ParseStatus::kNeedMore;
  *used = total;
  reply->raw = bytes.substr(0, total);
  const std::string covered = bytes.substr(1, frame::kLengthSize + length);
  if (FrameCrc(covered) != util::GetFixed16(bytes, header + length)) return ParseStatus::kBad;
  const std::string body = covered.substr(frame::kLengthSize);
  reply->code = static_cast<uint8_t>(body[0]);
  if (body.size() >= 1 + frame::kIdSize) {
    reply->has_id = true;
    reply->id = util::GetFixed32(body, 1);
    reply->data = body.substr(1 + frame::kIdSize);
  }
  return ParseStatus::kComplete;
}

size_t MissingBytes(const std::string& bytes) {
  const size_t header = 1 + frame::kLengthSize;
  if (bytes.size() < header) return header - bytes.size();
  const size_t total = header + util::GetFixed16(bytes, 1) + frame::kCrcSize;
  return bytes.size() < total ? total - bytes.size() : 0;
}

bool FindReply(const std::string& bytes, uint32_t id, Reply* reply) {
  size_t at = 0;
  while (at < bytes.size()) {
    size_t used = 0;
    Reply r;
    const ParseStatus s = ParseFrame(bytes.substr(at), &used, &r);
    if (s == ParseStatus::kComplete && r.has_id && r.id == id) {
      *reply = r;
      return true;
    }
    // A broken or unfinished frame (a stray 04) may hide a good one behind
    // its start byte.
    at += s == ParseStatus::kComplete ? used : 1;
  }
  return false;
}

}  // namespace host
