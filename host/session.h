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

  Answer Receipt(uint8_t type, const std::vector<Line>& lines, int64_t cash, int64_t cashless,
                 CloseReply* closed);
  Answer ShiftOpen(CloseReply* closed);
  Answer ShiftClose(CloseReply* closed);
  Answer CashIn(int64_t amount, CloseReply* closed);
  Answer CashOut(int64_t amount, CloseReply* closed);
  // The registration report: its texts and tax rates as elements, then the
  // ИНН and ФН number.
  Answer Registration(const std::vector<TlvElement>& elements, const std::string& inn,
                      const std::string& fn, CloseReply* closed);
  Answer ArchiveClose(CloseReply* closed);

 private:
  Client* const client_;
  const Login login_;
  const std::string name_;
  std::function<void(const Answer&)> observer_;
};

}  // namespace host

#endif  // FR_HOST_SESSION_H_
