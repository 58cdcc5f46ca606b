#include "app/base_worker.h"

#include "app/codes.h"
#include "util/coding.h"

bool BaseWorker::splitCashierPrefix(const std::string& data, CashierPrefix* prefix) {
  if (data.size() < kPrefixSize) return false;
  prefix->number = static_cast<uint8_t>(data[0]);
  prefix->password = static_cast<int32_t>(util::GetFixed32(data, 1));
  prefix->rest = data.substr(kPrefixSize);
  return prefix->number >= 1 && prefix->number <= kMaxCashier;
}

int BaseWorker::authorise(platform::Env* env, const std::string& data, CashierPrefix* prefix,
                          Cashier* cashier) {
  if (!splitCashierPrefix(data, prefix)) return rc::kBadCashierPrefix;
  if (!tables::checkCashier(env, prefix->number, prefix->password, cashier)) {
    return rc::kCashierRefused;
  }
  return rc::kOk;
}
