#include "host/client.h"

#include <algorithm>
#include <chrono>
#include <random>
#include <thread>

#include "link/frame_format.h"

namespace host {
namespace {

// Reply waits, from the register's pauses (see client.h).
constexpr int kSelfServed = 1000;
constexpr int kQueued = 3000;
constexpr int kPolls = 5000;    // waits for one printer status check
constexpr int kPrints = 20000;  // print jobs, each with its status check

constexpr CommandInfo kCommands[] = {
    {cmd::kReadTableRecord, "read table record", false, false, kQueued},
    {cmd::kWriteTableRecord, "write table record", true, false, kQueued},
    {cmd::kReadClock, "read clock", false, false, kQueued},
    {cmd::kSetClock, "set clock", true, false, kQueued},
    {cmd::kCancelDocument, "cancel document", true, false, kPrints},
    {cmd::kAddDocumentData, "add document data", true, false, kPrints},
    {cmd::kOpenRegistration, "open registration", true, true, kPrints},
    {cmd::kCloseRegistration, "close registration", true, false, kPrints},
    {cmd::kShiftStatus, "shift status", false, false, kSelfServed},
    {cmd::kOpenShiftOpen, "open shift-open document", true, true, kPrints},
    {cmd::kCloseShiftOpen, "close shift-open document", true, false, kPrints},
    {cmd::kOpenShiftClose, "open shift close", true, true, kPrints},
    {cmd::kCloseShiftClose, "close shift close", true, false, kPrints},
    {cmd::kOpenReceipt, "open receipt", true, true, kPrints},
    {cmd::kCloseReceipt, "close receipt", true, false, kPrints},
    {cmd::kOpenArchiveClose, "open archive close", true, true, kPrints},
    {cmd::kCloseArchiveClose, "close archive close", true, false, kPrints},
    {cmd::kDeviceStatus, "device status", false, false, kPolls},
    {cmd::kModelData, "model data", false, false, kSelfServed},
    {cmd::kDeviceKey, "device key", false, false, kSelfServed},
    {cmd::kVersion, "version", false, false, kSelfServed},
    {cmd::kShiftTotals, "shift totals", false, false, kQueued},
    {cmd::kRegistrationTotals, "totals since registration", false, false, kQueued},
    {cmd::kGrandTotals, "grand totals", false, false, kQueued},
    {cmd::kSectionTotals, "section totals", false, false, kQueued},
    {cmd::kControlTape, "control tape", true, false, kPrints},
    {cmd::kSetSerialNumber, "set serial number", true, false, kQueued},
    {cmd::kRegistrationField, "registration field", false, false, kSelfServed},
    {cmd::kOpenCashIn, "open cash in", true, true, kPrints},
    {cmd::kCloseCashIn, "close cash in", true, false, kPrints},
    {cmd::kOpenCashOut, "open cash out", true, true, kPrints},
    {cmd::kCloseCashOut, "close cash out", true, false, kPrints},
    {cmd::kDocumentState, "document state", false, false, kQueued},
    {cmd::kPrintReport, "print report", true, false, kPrints},
    {cmd::kPrintCopy, "print copy", true, false, kPrints},
    {cmd::kPrinterStatus, "printer status", false, false, kPolls},
    {cmd::kReadPrinterSetting, "read printer setting", false, false, kQueued},
    {cmd::kWritePrinterSetting, "write printer setting", true, false, kQueued},
    {cmd::kPrintText, "print text", true, false, kPrints},
    {cmd::kPrintRaw, "print raw bytes", true, false, kQueued},
    {cmd::kFeedAndCut, "feed and cut", true, false, kQueued},
};

// An unknown code is answered 10 at once; it may still be a newer
// register's command, so it is treated as one that changes state.
constexpr CommandInfo kUnknown = {0, "unknown command", true, false, kQueued};

bool IsFrameError(const Reply& r) {
  return r.id == 0 && (r.code == rc::kCrcMismatch || r.code == rc::kFrameLength || r.code == rc::kNoFrame);
}

void SleepToNextSecond() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const auto next = time_point_cast<seconds>(now) + seconds(1) + milliseconds(5);
  std::this_thread::sleep_until(next);
}

}  // namespace

const CommandInfo* FindCommand(uint8_t code) {
  for (const CommandInfo& c : kCommands)
    if (c.code == code) return &c;
  return nullptr;
}

Client::Client(HostLine* line, RetryPolicy policy) : line_(line), policy_(policy) {
  // Another program may have used the line just before: start where its
  // identifiers are unlikely to be, so that 05 can tell its replies from ours.
  std::random_device random;
  next_id_ = static_cast<uint32_t>(random());
}

uint32_t Client::NextId() {
  if (next_id_ == 0) ++next_id_;
  return next_id_++;
}

void Client::Trace(bool out, const std::string& bytes) {
  if (trace_ && !bytes.empty()) trace_(out, bytes);
}

bool Client::Send(const std::string& bytes) {
  Trace(true, bytes);
  return line_->Send(bytes);
}

Answer Client::Call(const Request& r) {
  if (r.refused.empty()) return Call(r.command, r.data);
  Answer a;
  a.command = r.command;
  a.error = r.refused;
  return a;
}

Answer Client::Call(uint8_t command, const std::string& data) {
  const CommandInfo* info = FindCommand(command);
  int waits = policy_.clock_waits;
  for (;;) {
    Answer a = Exchange(command, data);
    if (a.answered && a.code == rc::kClockNotLater && info != nullptr && info->opens_document && waits-- > 0) {
      ++stats_.clock_waits;
      SleepToNextSecond();
      continue;
    }
    return a;
  }
}

Answer Client::Exchange(uint8_t command, const std::string& data) {
  const CommandInfo* info = FindCommand(command);
  if (info == nullptr) info = &kUnknown;
  const int wait_ms = policy_.wait_ms > 0 ? policy_.wait_ms : info->wait_ms;
  Answer a;
  a.command = command;
  a.id = NextId();
  const std::string frame = EncodeRequest(command, a.id, data);
  auto answered = [&](const Reply& r) {
    a.answered = true;
    a.code = r.code;
    a.data = r.data;
    if (r.id == a.id) last_answered_ = a.id;
    return a;
  };
  // Leftovers of earlier exchanges (replies sent again) are nobody's now.
  Trace(false, line_->WaitQuiet(0, 0));
  for (int sends = 0;; ++sends) {
    if (!Send(frame)) {
      a.error = "cannot write to the line";
      return a;
    }
    Reply r;
    const bool may_ask = policy_.ask_again > 0 && policy_.ask_after_ms > 0;
    Heard heard = Await(a.id, may_ask ? std::min(wait_ms, policy_.ask_after_ms) : wait_ms, &r);
    if (heard == Heard::kRefused) {
      if (sends >= policy_.send_again) return answered(r);
      if (Settle(a.id, wait_ms, &r)) return answered(r);
      ++stats_.sent_again;
      continue;
    }
    if (heard == Heard::kNothing && policy_.ask_again > 0) heard = AskAgain(a.id, wait_ms, &r);
    if (heard == Heard::kOurs) return answered(r);
    const bool may_send = sends < policy_.send_again;
    if (heard == Heard::kNotCarriedOut && may_send) {
      if (Settle(a.id, wait_ms, &r)) return answered(r);
      ++stats_.sent_again;
      continue;
    }
    if (heard == Heard::kUnknown && !info->changes_state && may_send) {
      ++stats_.sent_again;
      continue;
    }
    if (heard == Heard::kNotCarriedOut) {
      a.error = "the register did not get the request";
    } else if (heard == Heard::kUnknown) {
      a.error = info->changes_state
                    ? "the register answered with another reply (it may have restarted); whether it carried "
                      "the request out is unknown: read its state before trying again"
                    : "the register answered with another reply";
    } else {
      a.error = "no reply";
    }
    return a;
  }
}

Client::Heard Client::Await(uint32_t id, int wait_ms, Reply* r) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    const bool got = line_->ReadReply(r, left.count() > 0 ? static_cast<int>(left.count()) : 0);
    Trace(false, r->raw);
    if (!got) return Heard::kNothing;  // silent, or garbled: ask again
    if (r->has_id && r->id == id) return Heard::kOurs;
    if (IsFrameError(*r)) return Heard::kRefused;
    if (!r->has_id || r->id == 0) return Heard::kOurs;  // 8, or an oversize reply: the register's answer
    // A reply to an earlier request, sent again: not ours.
  }
}

Client::Heard Client::AskAgain(uint32_t id, int wait_ms, Reply* r) {
  for (int i = 0; i < policy_.ask_again; ++i) {
    const std::string rest = line_->WaitQuiet(policy_.quiet_ms, wait_ms);
    Trace(false, rest);
    if (FindReply(rest, id, r)) return Heard::kOurs;
    ++stats_.asked_again;
    if (!Send(std::string(1, static_cast<char>(frame::kResend)))) return Heard::kNothing;
    const bool got = line_->ReadReply(r, wait_ms);
    Trace(false, r->raw);
    if (!got) continue;
    if (r->has_id && r->id == id) return Heard::kOurs;
    if (IsFrameError(*r) || (last_answered_ != 0 && r->id == last_answered_)) return Heard::kNotCarriedOut;
    return Heard::kUnknown;
  }
  return Heard::kNothing;
}

bool Client::LastReplyIs(uint32_t id, Reply* r, bool* line_gone) {
  constexpr int kQuietLimitMs = 2000, kReplyWaitMs = 1000;
  *line_gone = false;
  Trace(false, line_->WaitQuiet(policy_.quiet_ms, kQuietLimitMs));
  for (int i = 0; i < std::max(policy_.ask_again, 1); ++i) {
    ++stats_.asked_again;
    if (!Send(std::string(1, static_cast<char>(frame::kResend)))) {
      *line_gone = true;
      return false;
    }
    const bool got = line_->ReadReply(r, kReplyWaitMs);
    Trace(false, r->raw);
    if (got) return id != 0 && r->has_id && r->id == id;
  }
  return false;
}

bool Client::Settle(uint32_t id, int wait_ms, Reply* r) {
  std::string heard = line_->WaitQuiet(policy_.quiet_ms, wait_ms);
  Trace(false, heard);
  if (FindReply(heard, id, r)) return true;
  if (!Send(std::string(1, static_cast<char>(frame::kResend)))) return false;
  // Exactly one reply comes back: the last one again, or the error that
  // ends a frame the broken one's rest had begun.
  const bool got = line_->ReadReply(r, wait_ms);
  Trace(false, r->raw);
  if (got && r->has_id && r->id == id) return true;
  heard = line_->WaitQuiet(policy_.quiet_ms, wait_ms);
  Trace(false, heard);
  return FindReply(heard, id, r);
}

Status Answer::status() const {
  if (!answered) return Status::Offline(error);
  if (code != rc::kOk) return Status::Refused(code, rc::Meaning(code));
  return Status::OK();
}

}  // namespace host
