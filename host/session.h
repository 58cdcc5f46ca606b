// Whole documents for a POS: open, fill, close. A refusal (or no answer)
// after the opening cancels the document on the register, so that nothing
// half-made stays open and the next document can start.
//
// REQUIRES: External synchronization.
#ifndef FR_HOST_SESSION_H_
#define FR_HOST_SESSION_H_

#include <functional>
#include <string>
#include <vector>

#include "host/client.h"
#include "host/protocol.h"

namespace host {

// A document's frames: the opening, then the steps, the last closing it.
struct Plan {
  Request open;
  std::vector<Request> steps;
};

// Where the register stood before a document's first frame: what settling
// the document, should its outcome be lost, compares against.
struct Doubt {
  uint32_t last_document = 0;  // the register's last document before it
  uint32_t close_id = 0;       // the identifier the closing frame goes with
};

// What running a plan came to.
struct RunResult {
  enum class Kind {
    kDone,     // stored: `close` is the register's answer
    kRefused,  // `code` refused `command`; the document, if opened, was cancelled
    kInDoubt,  // no answer settled it: settle `doubt` later
    kNotSent,  // nothing was sent: the status request failed (`code`, -1 unanswered) or a hook said no
  };
  Kind kind = Kind::kNotSent;
  CloseReply close;
  int code = -1;
  uint8_t command = 0;
  Doubt doubt;
  bool hook_refused = false;  // kNotSent or kInDoubt because a hook answered false
  bool unsendable = false;    // kNotSent: a frame holds text the library refuses (`error` says why)
  std::string error;
};

// Where a caller keeps a job's progress (a journal), told before it matters.
struct RunHooks {
  // Before the first frame, once the register's state is read: false sends
  // nothing.
  std::function<bool(const Doubt&)> begin;
  // The opening waited for the register's next second and went again, so
  // the close's identifier moved: false cancels the document and leaves the
  // job in doubt (it is settled as not stored).
  std::function<bool(const Doubt&)> moved;
};

// What settling a job in doubt found.
struct Settlement {
  enum class Kind {
    kStored,     // whole: `close` is the close's own reply; else `status` tells its number, time, shift
    kRefused,    // the close's own reply was a refusal, `code`; the document was cancelled
    kNotStored,  // the register stored nothing since (a leftover open document was cancelled)
    kOther,      // it stored documents that cannot all be this job's: `status` says how many
    kUnknown,    // the register cannot tell now (the line went): settle again later
  };
  Kind kind = Kind::kUnknown;
  bool whole = false;
  CloseReply close;
  DeviceStatus status;
  bool has_receipts = false;  // a receipt stored, not whole: its number in the shift
  uint16_t receipts = 0;
  int code = -1;
};

class Session {
 public:
  // `name`: the cashier's name as documents print it (CP866).
  Session(Client* client, const Login& login, std::string name)
      : client_(client), login_(login), name_(std::move(name)) {}

  // Called with every answer, cancels included.
  void set_observer(std::function<void(const Answer&)> observer) { observer_ = std::move(observer); }
  const Login& login() const { return login_; }
  const std::string& name() const { return name_; }

  Answer Call(const Request& r);

  // Opens with `open`, then sends `steps` in order (the last one closes).
  // Returns the first answer that is not 0, or the last one; *closed (may be
  // null) gets the decoded close reply. When any of them is refused
  // (Request::refused), nothing is sent and its refusal is the answer.
  Answer Document(const Request& open, const std::vector<Request>& steps, CloseReply* closed);

  Answer Receipt(uint8_t type, const std::vector<Line>& lines, int64_t cash, int64_t cashless, CloseReply* closed);
  Answer ShiftOpen(CloseReply* closed);
  Answer ShiftClose(CloseReply* closed);
  Answer CashIn(int64_t amount, CloseReply* closed);
  Answer CashOut(int64_t amount, CloseReply* closed);
  // The registration report: its texts and tax rates as elements, then the
  // ИНН and ФН number.
  Answer Registration(const std::vector<TlvElement>& elements, const std::string& inn, const std::string& fn,
                      CloseReply* closed);
  Answer ArchiveClose(CloseReply* closed);

  // The plans of the documents above.
  Plan ReceiptPlan(uint8_t type, const std::vector<Line>& lines, int64_t cash, int64_t cashless) const;
  Plan ShiftOpenPlan() const;
  Plan ShiftClosePlan() const;
  Plan CashPlan(bool in, int64_t amount) const;
  Plan RegistrationPlan(const std::vector<TlvElement>& elements, const std::string& inn, const std::string& fn) const;
  Plan ArchiveClosePlan() const;

  // Runs a plan so that a lost outcome can be settled, later or by another
  // run of the program: reads the register's status (48) first, tells
  // `hooks.begin` where it stood, then sends the frames. A refusal cancels
  // what was opened; an answer that never came leaves the job in doubt.
  RunResult Run(const Plan& plan, const RunHooks& hooks);
  // Settles a document in doubt, before anything else reaches the register:
  // the register's last reply (05), if it is the close's, is the outcome;
  // else its status tells whether one document was stored since. `receipt`:
  // a stored receipt's number is read from the shift status (16).
  Settlement Settle(const Doubt& d, bool receipt);
  // Settles a report or copy, which leaves no number behind: only its own
  // reply (request `id`) can tell.
  Settlement SettlePrinted(uint32_t id);

 private:
  Client* const client_;
  const Login login_;
  const std::string name_;
  std::function<void(const Answer&)> observer_;
};

}  // namespace host

#endif  // FR_HOST_SESSION_H_
