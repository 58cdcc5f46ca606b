// The bridge's request decoding on arbitrary bodies: byte 0 picks the action
// and the route's segment, byte 1 the table record's number, the rest is the
// body. Whatever a client sends, a decoded job must stay within the limits
// the register takes and make a well-formed plan, and a refusal must be a
// 400 or 404 that names the field by a JSON pointer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "bridge/request.h"
#include "host/protocol.h"

namespace {

void Check(bool ok) {
  if (!ok) abort();
}

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

const char* const kSegments[] = {"x",     "period",   "shifts",    "control-tape", "shift",
                                 "gross", "cashiers", "discounts", "sections",     "no-such"};
// Record numbers the path could carry besides plain 0 to 23.
const char* const kOddRecords[] = {"", "01", "007", "1a", " 1", "-1", "+1", "99999999999"};

void CheckJob(const bridge::Job& job) {
  using bridge::Action;
  const bridge::ActionInfo& info = bridge::InfoOf(job.action);
  Check(info.action == job.action);
  Check(!info.needs_cashier || job.has_login);
  if (job.action == Action::kReceipt) {
    Check(host::ReceiptTypeName(job.receipt_type) != nullptr);
    Check(!job.lines.empty() && job.lines.size() <= bridge::kMaxLines);
    for (const host::Line& l : job.lines) {
      Check(l.tax >= 1 && l.tax <= 5);
      Check(l.section >= 1 && l.section <= 20);
      Check(l.places <= 9);
      Check(l.price >= 0 && l.price <= 100000000000);
      Check(l.quantity >= 0 && !l.name.empty());
    }
    Check(job.cash >= 0 && job.cashless >= 0);
  }
  if (job.action == Action::kReadTable || job.action == Action::kWriteTable) {
    Check(job.record >= 1 && job.record <= 20);
  }
  const host::Login login = job.has_login ? job.login : host::Login();
  if (info.document) {
    const host::Plan plan = bridge::DocumentPlan(job, host::Session(nullptr, login, job.cashier_name));
    Check(plan.open.command != 0 && !plan.open.data.empty());
    Check(!host::ClosesDocument(plan.open.command));
    Check(!plan.steps.empty() && host::ClosesDocument(plan.steps.back().command));
    // Only the last step may close: a close in the middle would cut the document short.
    for (size_t i = 0; i + 1 < plan.steps.size(); ++i) Check(!host::ClosesDocument(plan.steps[i].command));
    if (job.action == Action::kReceipt) Check(plan.steps.size() == job.lines.size() + 1);
  } else {
    const host::Request r = bridge::SingleRequest(job, login);
    Check(r.command != 0 && !host::ClosesDocument(r.command));
  }
}

// "12.34" read back without its point must give the same kopecks.
void CheckDecimal2(int64_t v) {
  std::string s = bridge::Decimal2(v);
  const size_t dot = s.find('.');
  Check(dot != std::string::npos && s.size() - dot == 3);
  s.erase(dot, 1);
  Check(std::stoll(s) == v);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const auto action = static_cast<bridge::Action>(data[0] % 15);
  const std::string segment = kSegments[(data[0] / 15) % 10];
  const std::string record =
      data[1] < 240 ? std::to_string(data[1] % 24) : kOddRecords[(data[1] - 240) % (sizeof kOddRecords / sizeof *kOddRecords)];
  const std::string body(reinterpret_cast<const char*>(data) + 2, size - 2);

  bridge::Job job;
  bridge::Problem problem;
  if (bridge::DecodeJob(action, segment, record, body, &job, &problem)) {
    Check(job.action == action);
    CheckJob(job);
    for (const host::Line& l : job.lines) CheckDecimal2(l.price);
  } else {
    Check(problem.status == 400 || problem.status == 404);
    Check(StartsWith(problem.code, "request.") || StartsWith(problem.code, "route."));
    Check(problem.pointer.empty() || problem.pointer[0] == '/');
    Check(!problem.detail.empty());
  }

  uint32_t t = 0;
  if (bridge::ParseTime(body, &t)) {
    uint32_t back = 0;
    Check(bridge::ParseTime(bridge::FormatTime(t), &back) && back == t);
  }
  if (body.size() >= 8) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v |= static_cast<uint64_t>(static_cast<uint8_t>(body[i])) << (8 * i);
    CheckDecimal2(static_cast<int64_t>(v));
  }
  return 0;
}
