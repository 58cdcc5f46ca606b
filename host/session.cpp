#include "host/session.h"

namespace host {

Answer Session::Call(const Request& r) {
  const Answer a = client_->Call(r);
  if (observer_) observer_(a);
  return a;
}

Answer Session::Document(const Request& open, const std::vector<Request>& steps, CloseReply* closed) {
  // A refused step would leave a document open half-made: nothing is sent.
  if (!open.refused.empty()) return Call(open);
  for (const Request& step : steps) {
    if (!step.refused.empty()) return Call(step);
  }
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
  std::vector<Request> steps;
  for (const Line& l : lines) steps.push_back(req::Add(LineElement(l)));
  steps.push_back(req::CloseReceipt(cash, cashless));
  return Document(req::OpenReceipt(login_, type, name_), steps, closed);
}

Answer Session::ShiftOpen(CloseReply* closed) {
  return Document(req::Open(cmd::kOpenShiftOpen, login_, name_), {req::Close(cmd::kCloseShiftOpen)}, closed);
}

Answer Session::ShiftClose(CloseReply* closed) {
  return Document(req::Open(cmd::kOpenShiftClose, login_, name_), {req::Close(cmd::kCloseShiftClose)}, closed);
}

Answer Session::CashIn(int64_t amount, CloseReply* closed) {
  return Document(req::Open(cmd::kOpenCashIn, login_, name_), {req::CloseCash(cmd::kCloseCashIn, amount)},
                  closed);
}

Answer Session::CashOut(int64_t amount, CloseReply* closed) {
  return Document(req::Open(cmd::kOpenCashOut, login_, name_), {req::CloseCash(cmd::kCloseCashOut, amount)},
                  closed);
}

Answer Session::Registration(const std::vector<TlvElement>& elements, const std::string& inn,
                             const std::string& fn, CloseReply* closed) {
  std::vector<Request> steps;
  for (const TlvElement& e : elements) steps.push_back(req::Add(e));
  steps.push_back(req::CloseRegistration(inn, fn));
  return Document(req::Open(cmd::kOpenRegistration, login_, name_), steps, closed);
}

Answer Session::ArchiveClose(CloseReply* closed) {
  return Document(req::Open(cmd::kOpenArchiveClose, login_, name_), {req::Close(cmd::kCloseArchiveClose)},
                  closed);
}

}  // namespace host
