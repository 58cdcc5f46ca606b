#include "link/host_link.h"

#include <cstdio>

#include "app/codes.h"
#include "app/reply_format.h"
#include "app/status_format.h"
#include "app/version.h"
#include "link/frame_format.h"
#include "serial/serialport.h"
#include "util/coding.h"
#include "util/crc.h"

namespace {

constexpr int kHostSpeedCode = 17;  // 115200 baud
constexpr int kPauseBeforeReply = 10;
constexpr int kPauseBeforeError = 20;

}  // namespace

HostLink::HostLink(platform::Env* env, LinkState* state, const std::string& path)
    : env_(env),
      state_(state),
      path_(path),
      port_(new rs::SerialPort(env, path, kHostSpeedCode)),
      queue_(new CoreQueue),
      last_reply_(rc::kNotFound, 0) {
  port_->setEcho(false);
  port_->setReadTimeout(-1);  // each read blocks until a byte is there
}

HostLink::~HostLink() {
  if (port_ && port_->isOpen()) port_->close();
}

void HostLink::run() {
  last_reply_ = CoreApiResult(rc::kNotFound, 0);
  stop_ = false;
  if (port_) port_->open();  // a failed open shows as failing reads
  for (;;) {
    if (stop_) {
      if (port_) port_->close();
      return;
    }
    if (!port_) return;
    CoreTransaction request;
    CoreApiResult result;
    const int status = readFrame(&request);
    if (status != rc::kOk) {
      env_->SleepMillis(kPauseBeforeError);
      sendReply(CoreApiResult(status, 0));
      continue;
    }
    if (!handle(request, &result)) result = CoreApiResult(rc::kNoResult, 0);
    env_->SleepMillis(kPauseBeforeReply);
    sendReply(result);
  }
}

void HostLink::logReadError(int position, const std::string& buffer, const std::string& before,
                            const std::string& after) {
  env_->WriteLine("read " + std::to_string(position) + " " + before +
                  (buffer.empty() ? "EMPTY BUF" : util::HexUpper(buffer)) + after);
}

int HostLink::readFrame(CoreTransaction* request) {
  request->id = 0;
  if (!port_) return rc::kNoResult;

  // One read call per step: a frame that arrives in pieces fails its checks.
  std::string buf;
  int n = port_->read(buf, 1);
  for (;;) {
    if (n == 1 && buf.size() == 1 && static_cast<uint8_t>(buf[0]) == frame::kStart) break;
    if (n != 1) {
      logReadError(frame::kLogNoStart, buf);
      return rc::kNoFrame;
    }
    const uint8_t skipped = static_cast<uint8_t>(buf[0]);
    char text[32];
    snprintf(text, sizeof(text), "<< %x %lld", skipped, static_cast<long long>(env_->Now()));
    env_->WriteLine(text);
    if (skipped == frame::kResend) sendReply(last_reply_);
    n = port_->read(buf, 1);
  }

  n = port_->read(buf, frame::kLengthSize);
  if (n != static_cast<int>(frame::kLengthSize) || buf.size() != frame::kLengthSize) {
    logReadError(frame::kLogNoLength, buf);
    return rc::kFrameLength;
  }
  const std::string length_field = buf;
  const size_t length = util::GetFixed16(length_field, 0);
  if (length > frame::kMaxBody) {
    logReadError(frame::kLogLengthTooLarge, buf, "", " " + std::to_string(length));
    return rc::kFrameLength;
  }

  const size_t want = length + frame::kCrcSize;
  n = port_->read(buf, want);
  if (n != static_cast<int>(want) || buf.size() != want) {
    logReadError(frame::kLogShortBody, buf, " " + std::to_string(length) + " ");
    return rc::kFrameLength;
  }
  if (length == 0) {
    // No command code: the frame is consumed whole and refused.
    logReadError(frame::kLogLengthTooLarge, length_field, "", " 0");
    return rc::kFrameLength;
  }

  uint16_t crc = util::Crc16(length_field);
  crc = util::Crc16Extend(crc, buf.data(), length);
  if (crc != util::GetFixed16(buf, length)) return rc::kCrcMismatch;

  request->command = static_cast<uint8_t>(buf[0]);
  request->data.clear();
  if (length >= 1 + frame::kIdSize) {
    request->id = util::GetFixed32(buf, 1);
    request->data = buf.substr(1 + frame::kIdSize, length - 1 - frame::kIdSize);
  }
  if (request->id == 0) request->id = assignIdentifier(*request);
  return rc::kOk;
}

uint32_t HostLink::assignIdentifier(const CoreTransaction& request) {
  std::string bytes(1, static_cast<char>(request.command));
  util::PutFixed32(&bytes, static_cast<uint32_t>(env_->Now()));
  bytes += request.data;
  bytes.push_back(static_cast<char>(env_->Random() & 0xFF));
  bytes.push_back(static_cast<char>(env_->Random() & 0xFF));
  // 0 means "none": the core could not post the result and exec would wait for ever.
  const uint32_t id = util::Crc32(bytes);
  return id != 0 ? id : 1;
}

bool HostLink::handle(const CoreTransaction& request, CoreApiResult* result) {
  result->id = request.id;
  result->data.clear();
  std::string record, serial;
  switch (request.command) {
    case cmd::kShiftStatus: {
      if (!state_->modelData(&record, &serial)) {
        result->code = rc::kNoSerialNumber;
        return true;
      }
      std::string status, cycle;
      state_->statusRecords(&status, &cycle);
      status.resize(FrStatus::kStatusSize);
      cycle.resize(FrStatus::kCycleSize);
      const bool open = (util::GetFixed16(status, FrStatus::kFlagsOffset) & FrStatus::kShiftOpen) != 0;
      result->code = rc::kOk;
      result->data.push_back(open ? 1 : 0);
      result->data += status.substr(FrStatus::kShiftNumberOffset, 2);
      result->data += status.substr(FrStatus::kReceiptsInShiftOffset, 2);
      result->data += cycle;
      return true;
    }
    case cmd::kDeviceStatus: {
      // The main thread polls the printer first; its answer only refreshes
      // the printer bits of the status.
      CoreApiResult ignored;
      queue_->exec(CoreTransaction{cmd::kPrinterStatus, request.id, request.data}, &ignored);
      if (!state_->modelData(&record, &serial)) {
        result->code = rc::kNoSerialNumber;
        return true;
      }
      state_->markStatusConstant();
      std::string status, cycle;
      state_->statusRecords(&status, &cycle);
      status.resize(FrStatus::kStatusSize);
      result->code = rc::kOk;
      result->data = serial + status;
      return true;
    }
    case cmd::kModelData:
      if (!state_->modelData(&record, &serial)) {
        result->code = rc::kNoSerialNumber;
        return true;
      }
      record.resize(reply::kModelDataSize);
      result->code = rc::kOk;
      result->data = record;
      return true;
    case cmd::kDeviceKey: {
      const std::string key = state_->deviceKey();
      if (key.empty()) {
        result->code = rc::kIdentityFailure;
        return true;
      }
      result->code = rc::kOk;
      result->data.assign(reply::kKeyHeader, reply::kKeyHeaderSize);
      result->data += key;
      return true;
    }
    case cmd::kVersion:
      result->code = rc::kOk;
      result->data = version::Bytes();
      return true;
    case cmd::kRegistrationField: {
      if (request.data.size() != 2) {
        result->code = rc::kBadData;
        return true;
      }
      std::string field;
      if (!state_->registrationField(util::GetFixed16(request.data, 0), &field)) {
        result->code = rc::kNoRegistration;
        return true;
      }
      result->code = rc::kOk;
      result->data = field;
      return true;
    }
    default:
      if (!queue_->exec(request, result)) return false;
      result->id = request.id;
      return true;
  }
}

std::string HostLink::encodeReply(const CoreApiResult& result) {
  std::string body(1, static_cast<char>(result.code));
  std::string payload;
  util::PutFixed32(&payload, result.id);
  payload += result.data;
  if (payload.size() > frame::kMaxReplyPayload) {
    body[0] = static_cast<char>(rc::kFrameLength);
  } else {
    body += payload;
  }
  std::string out(1, static_cast<char>(frame::kStart));
  util::PutFixed16(&out, static_cast<uint16_t>(body.size()));
  out += body;
  util::PutFixed16(&out, util::Crc16(out.data() + 1, out.size() - 1));
  return out;
}

void HostLink::sendReply(const CoreApiResult& result) {
  last_reply_ = result;
  port_->write(encodeReply(result));  // a failed write is neither retried nor reported
}
