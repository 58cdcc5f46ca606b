// The base of every worker, with what all of them do with a request: split
// the cashier prefix off its data and authorise the cashier.
//
// Cashier prefix, at the head of every authorised request's data:
//   0 cashier number, 1..20 (1) | 1 password, signed (4) | 5 the command's own data
#ifndef FR_APP_BASE_WORKER_H_
#define FR_APP_BASE_WORKER_H_

#include <cstdint>
#include <string>

#include "platform/env.h"
#include "storage/tables.h"

struct CashierPrefix {
  uint8_t number = 0;
  int32_t password = 0;
  std::string rest;
};

class BaseWorker {
 public:
  static constexpr size_t kPrefixSize = 5;
  static constexpr uint8_t kMaxCashier = 20;

  virtual ~BaseWorker() = default;

  // False when the data is shorter than the prefix or the number is not
  // 1..20; the fields are filled in either case when there are 5 bytes.
  static bool splitCashierPrefix(const std::string& data, CashierPrefix* prefix);
  // 0 with the cashier's record; 19 when the prefix does not split; 18 when
  // the cashier is unknown, the password wrong or the cashier not usable.
  // Callers then test the rights their command needs.
  static int authorise(platform::Env* env, const std::string& data, CashierPrefix* prefix,
                       Cashier* cashier);
};

#endif  // FR_APP_BASE_WORKER_H_
