// What an HTTP request asks of a register: the route's action, its body
// decoded and checked, and the host requests that carry it out. Everything
// here is pure (no line, no clock), so a bad body is refused before anything
// reaches the register.
#ifndef FR_BRIDGE_REQUEST_H_
#define FR_BRIDGE_REQUEST_H_

#include <cstdint>
#include <string>
#include <vector>

#include "host/protocol.h"
#include "host/session.h"
#include "storage/tables.h"

namespace bridge {

// An answer that is not a success: rendered as application/problem+json.
struct Problem {
  int status = 500;
  std::string code;  // stable: "request.invalid", "register.paper-out"
  std::string title;
  std::string detail;
  std::string pointer;  // JSON pointer of a bad field
  std::string register_name;
  int result_code = -1;  // the register's, when it answered
};
Problem MakeProblem(int status, const std::string& code, const std::string& detail, const std::string& pointer = "");
// The register refused with `result_code`: 409 for a document already open,
// else 422, code "register.<name of the result code>".
Problem RefusalProblem(int result_code);

enum class Action {
  kReceipt,
  kCancel,
  kShiftOpen,
  kShiftClose,
  kCashIn,
  kCashOut,
  kReport,
  kCopy,
  kReadTable,
  kWriteTable,
  kReadClock,
  kSetClock,
  kSetSerial,
  kRegistration,
  kTotals,
  kPreview,
  kTaxRates,
};

struct ActionInfo {
  Action action;
  const char* name;    // for logs and tasks: "receipt"
  bool admin;          // a pos token may not
  bool key_required;   // no Idempotency-Key: 400
  bool changes_state;  // journaled and replayed by key
  uint8_t document;    // the type (doc::k*) of the one document it opens and closes; 0 for none
  bool needs_cashier;  // the body must name a cashier
  bool prints;         // a report or copy: twice would print twice, so a lost reply is settled, not resent
};
const ActionInfo& InfoOf(Action action);
// The action by its name ("receipt"), as the journal keeps it.
bool ActionByName(const std::string& name, Action* out);

// Limits of what the bridge takes (the register's own are checked again by it).
constexpr size_t kMaxBodyBytes = 64 * 1024;
constexpr size_t kMaxLines = 100;
constexpr size_t kMaxDepth = 16;        // JSON nesting
constexpr size_t kMaxCashierName = 64;  // characters
constexpr size_t kMaxKeyLength = 128;

// A request decoded: what the worker needs, nothing of HTTP.
struct Job {
  Action action = Action::kCancel;
  bool has_login = false;  // else the register's service cashier
  host::Login login;
  std::string cashier_name;  // CP866, as documents print it

  uint8_t receipt_type = 0;
  std::vector<host::Line> lines;
  int64_t cash = 0, cashless = 0;
  int64_t amount = 0;  // cash in and out

  uint8_t report = 0;         // report kind (host::kReportKinds)
  uint32_t from = 0, to = 0;  // period (times), shifts (numbers), control tape (from)

  uint32_t number = 0;  // the copy's document number
  uint8_t table = 0;    // table::k*
  uint8_t record = 0;   // 1 to 20
  Cashier cashier_record;
  Section section_record;
  Discount discount_record;

  uint32_t time = 0;  // the clock to set
  std::string serial;
  std::vector<TlvElement> elements;  // registration texts and tax rates
  std::string inn, fn;
  uint8_t totals = 0;  // the command reading the totals record (host::kTotalsRecords)
};

// Decodes the body of `action` (`segment`: the route's variable part — the
// report kind, table name or totals record; `record`: the table record's
// number from the path, text). On failure *problem is a 400 or 404 naming
// the field, and nothing may be sent.
bool DecodeJob(Action action, const std::string& segment, const std::string& record, const std::string& body, Job* job,
               Problem* problem);

// A document job's frames, from the session of its cashier (or the service
// cashier when it names none).
host::Plan DocumentPlan(const Job& job, const host::Session& session);
// The one request of any other job.
host::Request SingleRequest(const Job& job, const host::Login& login);

using host::Decimal2;
using host::FormatTime;
using host::ParseTime;

}  // namespace bridge

#endif  // FR_BRIDGE_REQUEST_H_
