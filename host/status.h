#ifndef FR_HOST_STATUS_H_
#define FR_HOST_STATUS_H_

#include <string>

namespace host {

// The outcome of a host-side call that can fail, as one small value: ok,
// or a kind and a message for people. A register's refusal keeps its result
// code. Callers test ok() and pass the status on; nothing is thrown.
class Status {
 public:
  enum class Kind { kOk, kInvalid, kNotFound, kIoError, kCorrupt, kOffline, kRefused };

  Status() = default;  // ok
  static Status OK() { return Status(); }
  static Status Invalid(const std::string& message) { return Status(Kind::kInvalid, message); }
  static Status NotFound(const std::string& message) { return Status(Kind::kNotFound, message); }
  static Status IoError(const std::string& message) { return Status(Kind::kIoError, message); }
  static Status Corrupt(const std::string& message) { return Status(Kind::kCorrupt, message); }
  // The register did not answer.
  static Status Offline(const std::string& message) { return Status(Kind::kOffline, message); }
  // The register answered `result_code`.
  static Status Refused(int result_code, const std::string& message);

  bool ok() const { return kind_ == Kind::kOk; }
  Kind kind() const { return kind_; }
  int result_code() const { return result_code_; }  // kRefused: the register's code
  const std::string& message() const { return message_; }
  // The same outcome with `context` before its message: "tax rate 2: ...".
  Status In(const std::string& context) const;
  // "ok", or the message ("refused 18: cashier not found or password wrong" for a refusal).
  std::string ToString() const;

 private:
  Status(Kind kind, const std::string& message) : kind_(kind), message_(message) {}

  Kind kind_ = Kind::kOk;
  int result_code_ = 0;
  std::string message_;
};

}  // namespace host

#endif  // FR_HOST_STATUS_H_
