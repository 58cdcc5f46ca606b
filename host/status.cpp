#include "host/status.h"

namespace host {

Status Status::Refused(int result_code, const std::string& message) {
  Status s(Kind::kRefused, message);
  s.result_code_ = result_code;
  return s;
}

Status Status::In(const std::string& context) const {
  if (ok()) return *this;
  Status s = *this;
  s.message_ = context + ": " + message_;
  return s;
}

std::string Status::ToString() const {
  if (ok()) return "ok";
  if (kind_ == Kind::kRefused) return "refused " + std::to_string(result_code_) + ": " + message_;
  return message_;
}

}  // namespace host
