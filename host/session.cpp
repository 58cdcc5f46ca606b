#include "host/session.h"

namespace host {

namespace {

// A frame the library refuses to send, if the document has one: sending the
// rest would leave the document open half-made.
const Request* Unsendable(const Request& open, const std::vector<Request>& steps) {
  if (!open.refused.empty()) return &open;
  for (const Request& step : steps) {
    if (!step.refused.empty()) return &step;
  }
  return nullptr;
}

}  // namespace

Answer Session::Call(const Request& r) {
  const Answer a = client_->Call(r);
  if (observer_) observer_(a);
  return a;
}

Answer Session::Document(const Request& open, const std::vector<Request>& steps, CloseReply* closed) {
  if (const Request* refused = Unsendable(open, steps)) return Call(*refused);  // answered unsent
  Answer a = Call(open);
  if (!a.answered) Call(req::Cancel());  // it may have opened all the same
  if (!a.ok()) return a;
  for (const Request& step : steps) {
    a = Call(step);
    if (!a.ok()) {
      Call(req::Cancel());  // 29 when a lost close was carried out after all
      return a;
    }
  }
  if (closed != nullptr && !DecodeCloseReply(a.data, closed)) *closed = CloseReply();
  return a;
}

Answer Session::Receipt(uint8_t type, const std::vector<Line>& lines, int64_t cash, int64_t cashless,
                        CloseReply* closed) {
  const Plan p = ReceiptPlan(type, lines, cash, cashless);
  return Document(p.open, p.steps, closed);
}

Answer Session::ShiftOpen(CloseReply* closed) {
  const Plan p = ShiftOpenPlan();
  return Document(p.open, p.steps, closed);
}

Answer Session::ShiftClose(CloseReply* closed) {
  const Plan p = ShiftClosePlan();
  return Document(p.open, p.steps, closed);
}

Answer Session::CashIn(int64_t amount, CloseReply* closed) {
  const Plan p = CashPlan(true, amount);
  return Document(p.open, p.steps, closed);
}

Answer Session::CashOut(int64_t amount, CloseReply* closed) {
  const Plan p = CashPlan(false, amount);
  return Document(p.open, p.steps, closed);
}

Answer Session::Registration(const std::vector<TlvElement>& elements, const std::string& inn, const std::string& fn,
                             CloseReply* closed) {
  const Plan p = RegistrationPlan(elements, inn, fn);
  return Document(p.open, p.steps, closed);
}

Answer Session::ArchiveClose(CloseReply* closed) {
  const Plan p = ArchiveClosePlan();
  return Document(p.open, p.steps, closed);
}

// ---- plans -------------------------------------------------------------------

Plan Session::ReceiptPlan(uint8_t type, const std::vector<Line>& lines, int64_t cash, int64_t cashless) const {
  Plan p{req::OpenReceipt(login_, type, name_), {}};
  for (const Line& l : lines) p.steps.push_back(req::Add(LineElement(l)));
  p.steps.push_back(req::CloseReceipt(cash, cashless));
  return p;
}

Plan Session::ShiftOpenPlan() const {
  return {req::Open(cmd::kOpenShiftOpen, login_, name_), {req::Close(cmd::kCloseShiftOpen)}};
}

Plan Session::ShiftClosePlan() const {
  return {req::Open(cmd::kOpenShiftClose, login_, name_), {req::Close(cmd::kCloseShiftClose)}};
}

Plan Session::CashPlan(bool in, int64_t amount) const {
  return {req::Open(in ? cmd::kOpenCashIn : cmd::kOpenCashOut, login_, name_),
          {req::CloseCash(in ? cmd::kCloseCashIn : cmd::kCloseCashOut, amount)}};
}

Plan Session::RegistrationPlan(const std::vector<TlvElement>& elements, const std::string& inn,
                               const std::string& fn) const {
  Plan p{req::Open(cmd::kOpenRegistration, login_, name_), {}};
  for (const TlvElement& e : elements) p.steps.push_back(req::Add(e));
  p.steps.push_back(req::CloseRegistration(inn, fn));
  return p;
}

Plan Session::ArchiveClosePlan() const {
  return {req::Open(cmd::kOpenArchiveClose, login_, name_), {req::Close(cmd::kCloseArchiveClose)}};
}

// ---- running and settling ------------------------------------------------------

RunResult Session::Run(const Plan& plan, const RunHooks& hooks) {
  RunResult r;
  if (const Request* refused = Unsendable(plan.open, plan.steps)) {
    r.unsendable = true;
    r.error = refused->refused;
    return r;
  }
  // Identifiers far from wrapping, so the close's is the opening's + steps.
  const uint32_t steps = static_cast<uint32_t>(plan.steps.size());
  if (client_->next_id() > UINT32_MAX - 4096) client_->set_next_id(1);
  const Answer st = Call(req::DeviceStatus());
  DeviceStatus before;
  if (!st.ok() || !DecodeDeviceStatus(st.data, &before)) {
    r.code = st.answered ? st.code : -1;
    r.error = st.answered ? "the status request was refused" : st.error;
    return r;
  }
  r.doubt = Doubt{before.last_document, client_->next_id() + steps};
  if (hooks.begin && !hooks.begin(r.doubt)) {
    r.hook_refused = true;
    return r;
  }
  Answer a = Call(plan.open);
  if (a.ok() && a.id + steps != r.doubt.close_id) {
    r.doubt.close_id = a.id + steps;
    if (hooks.moved && !hooks.moved(r.doubt)) {
      Call(req::Cancel());
      r.kind = RunResult::Kind::kInDoubt;
      r.hook_refused = true;
      return r;
    }
  }
  for (uint32_t i = 0; a.ok() && i < steps; ++i) a = Call(plan.steps[i]);
  if (a.ok() && DecodeCloseReply(a.data, &r.close)) {
    r.kind = RunResult::Kind::kDone;
  } else if (a.answered && !a.ok()) {
    // Refused: nothing half-made stays open (29 when it was the opening).
    if (a.command != plan.open.command) Call(req::Cancel());
    r.kind = RunResult::Kind::kRefused;
    r.code = a.code;
    r.command = a.command;
  } else {
    // No answer the client could settle, or a close reply that does not read.
    r.kind = RunResult::Kind::kInDoubt;
    r.error = a.answered ? "the close's reply does not read" : a.error;
  }
  return r;
}

Settlement Session::Settle(const Doubt& d, bool receipt) {
  Settlement s;
  Reply last;
  bool gone = false;
  // 1. The register's last reply, if it is the close's, is the outcome.
  if (client_->LastReplyIs(d.close_id, &last, &gone) &&
      (last.code != rc::kOk || DecodeCloseReply(last.data, &s.close))) {
    s.kind = last.code == rc::kOk ? Settlement::Kind::kStored : Settlement::Kind::kRefused;
    s.whole = last.code == rc::kOk;
    s.code = last.code;
    if (last.code != rc::kOk) Call(req::Cancel());
    return s;
  }
  if (gone) return s;
  // 2. Its status: was a document stored since the job began?
  const Answer st = Call(req::DeviceStatus());
  if (!st.ok() || !DecodeDeviceStatus(st.data, &s.status)) return s;
  if (s.status.open_document != 0) Call(req::Cancel());  // the job's leftover
  if (s.status.last_document == d.last_document) {
    s.kind = Settlement::Kind::kNotStored;
  } else if (s.status.last_document == d.last_document + 1) {
    s.kind = Settlement::Kind::kStored;
    ShiftStatus shift;
    const Answer sh = receipt ? Call(req::ShiftStatus()) : Answer();
    s.has_receipts = sh.ok() && DecodeShiftStatus(sh.data, &shift);
    s.receipts = shift.receipts;
  } else {
    s.kind = Settlement::Kind::kOther;
  }
  return s;
}

Settlement Session::SettlePrinted(uint32_t id) {
  Settlement s;
  Reply last;
  bool gone = false;
  const bool ours = client_->LastReplyIs(id, &last, &gone);
  if (gone) return s;
  s.kind = !ours                  ? Settlement::Kind::kOther
           : last.code == rc::kOk ? Settlement::Kind::kStored
                                  : Settlement::Kind::kRefused;
  s.whole = ours;
  s.code = ours ? last.code : -1;
  return s;
}

}  // namespace host
