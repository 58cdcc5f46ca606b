#include "app/config_worker.h"

#include <ctime>

#include "app/codes.h"
#include "app/fr_status.h"
#include "printer/print_layout.h"
#include "printer/printer_settings.h"
#include "storage/tables.h"
#include "util/coding.h"

namespace {

// A time as `date -s` takes it, quoted: '2023-11-14 22:13:20'; nothing when
// it has no local form (the command then fails).
std::string ShellTime(platform::Env* env, int64_t t) {
  struct tm tm;
  char text[40] = "";
  if (env->LocalTime(t, &tm)) strftime(text, sizeof(text), "'%Y-%m-%d %H:%M:%S'", &tm);
  return text;
}

// How far the clock may move while the command runs without having been set.
constexpr int64_t kClockSlackSeconds = 2;

// Cashier records need their own right; sections and discounts another.
uint16_t RightFor(uint8_t kind) {
  return kind == table::kCashiers ? tables::kRightCashiers : tables::kRightSectionsDiscounts;
}

// Takes the table kind off the front of *rest; 20 for a kind outside 1..3.
int TakeKind(std::string* rest, uint8_t* kind) {
  *kind = 0;
  if (rest->empty()) return rc::kOk;  // no kind: judged as sections or discounts
  *kind = static_cast<uint8_t>((*rest)[0]);
  rest->erase(0, 1);
  return *kind >= table::kCashiers && *kind <= table::kDiscounts ? rc::kOk : rc::kOutOfRange;
}

}  // namespace

CoreApiResult ConfigWorker::handle(const CoreTransaction& t) {
  CoreApiResult result(rc::kOk, t.id);
  switch (t.command) {
    case cmd::kReadTableRecord:
      result.code = readRecord(t.data, &result.data);
      break;
    case cmd::kWriteTableRecord:
      result.code = writeRecord(t.data, &result.data);
      break;
    case cmd::kReadClock:
      util::PutFixed32(&result.data, static_cast<uint32_t>(env_->Now()));
      break;
    case cmd::kSetClock:
      result.code = setClock(t.data, &result.data);
      break;
    case cmd::kReadPrinterSetting:
      result.code = readPrinterSetting(t.data, &result.data);
      break;
    default:
      result.code = writePrinterSetting(t.data);
      break;
  }
  return result;
}

int ConfigWorker::readRecord(const std::string& data, std::string* reply) {
  CashierPrefix prefix;
  Cashier cashier;
  int code = authorise(env_, data, &prefix, &cashier);
  if (code != rc::kOk) return code;
  uint8_t kind = 0;
  code = TakeKind(&prefix.rest, &kind);
  if (code != rc::kOk) return code;
  if (!(cashier.rights & RightFor(kind))) return rc::kNoRight;
  if (prefix.rest.empty()) return rc::kBadCashierPrefix;  // no record number
  const uint8_t number = static_cast<uint8_t>(prefix.rest[0]);
  switch (kind) {
    case table::kCashiers: {
      Cashier record;
      if (!tables::readCashier(env_, number, &record)) return rc::kNotFound;
      record.number = number;
      *reply = tables::cashierImage(record);
      break;
    }
    case table::kSections: {
      Section record;
      if (!tables::getSection(number, &record)) return rc::kNotFound;
      record.number = number;
      *reply = tables::sectionImage(record);
      break;
    }
    default: {
      // Kind 0 (no kind byte) cannot get here: its record number is missing.
      Discount record;
      if (!tables::getDiscount(number, &record)) return rc::kNotFound;
      record.number = number;
      *reply = tables::discountImage(record);
      break;
    }
  }
  return rc::kOk;
}

int ConfigWorker::writeRecord(const std::string& data, std::string* reply) {
  CashierPrefix prefix;
  if (!splitCashierPrefix(data, &prefix)) return rc::kBadCashierPrefix;
  *reply = prefix.rest;  // the reply echoes what is left of the request
  Cashier writer;
  if (!tables::checkCashier(env_, prefix.number, prefix.password, &writer)) return rc::kCashierRefused;
  uint8_t kind = 0;
  const int code = TakeKind(&prefix.rest, &kind);
  *reply = prefix.rest;
  if (code != rc::kOk) return code;
  if (!(writer.rights & RightFor(kind))) return rc::kNoRight;
  switch (kind) {
    case table::kCashiers: {
      Cashier record;
      if (!tables::parseCashierImage(prefix.rest, &record)) return rc::kBadData;
      if (tables::isServiceCashier(record)) {
        if (!tables::isServiceCashier(writer)) return rc::kNoRight;
        if (record.name.empty()) record.name = writer.name;
        if (record.password == 0) record.password = writer.password;
        record.rights = tables::kAllRights;
      }
      return tables::saveCashier(env_, record) ? rc::kOk : rc::kNotSaved;
    }
    case table::kSections: {
      Section record;
      if (!tables::parseSectionImage(prefix.rest, &record)) return rc::kBadData;
      return tables::saveSection(env_, record) ? rc::kOk : rc::kNotSaved;
    }
    default: {
      Discount record;
      if (!tables::parseDiscountImage(prefix.rest, &record)) return rc::kBadData;
      return tables::saveDiscount(env_, record) ? rc::kOk : rc::kNotSaved;
    }
  }
}

int ConfigWorker::setClock(const std::string& data, std::string* reply) {
  CashierPrefix prefix;
  Cashier cashier;
  const int code = authorise(env_, data, &prefix, &cashier);
  if (code != rc::kOk) return code;
  if (!(cashier.rights & tables::kRightClock)) return rc::kNoRight;
  if (prefix.rest.size() != 4) return rc::kBadData;
  const uint32_t t = util::GetFixed32(prefix.rest, 0);
  if (!FrStatus::clockCheck(t)) return rc::kClockNotLater;
  const int64_t before = env_->Now();
  if (env_->RunShell("date -s " + ShellTime(env_, t) + " && hwclock -w") != 0) {
    // date may have set the system clock before hwclock failed: the clock
    // goes back to where it was, as the refusal says nothing changed.
    if (env_->Now() - before > kClockSlackSeconds || before - env_->Now() > kClockSlackSeconds) {
      env_->RunShell("date -s " + ShellTime(env_, before));
    }
    return rc::kNotSaved;
  }
  *reply = prefix.rest;
  return rc::kOk;
}

int ConfigWorker::readPrinterSetting(const std::string& data, std::string* reply) {
  CashierPrefix prefix;
  Cashier cashier;
  const int code = authorise(env_, data, &prefix, &cashier);
  if (code != rc::kOk) return code;
  if (prefix.rest.empty()) return rc::kBadData;
  printer::loadWidthSetting(env_);
  if (static_cast<uint8_t>(prefix.rest[0]) != setting::kPrinterWidth) return rc::kOutOfRange;
  reply->assign(1, static_cast<char>(printer::widthSetting()));
  return rc::kOk;
}

int ConfigWorker::writePrinterSetting(const std::string& data) {
  CashierPrefix prefix;
  Cashier cashier;
  const int code = authorise(env_, data, &prefix, &cashier);
  if (code != rc::kOk) return code;
  if (!(cashier.rights & tables::kRightClock)) return rc::kNoRight;
  if (prefix.rest.size() < 2) return rc::kBadData;
  printer::loadWidthSetting(env_);
  if (static_cast<uint8_t>(prefix.rest[0]) != setting::kPrinterWidth) return rc::kOutOfRange;
  return printer::saveWidthSetting(env_, static_cast<uint8_t>(prefix.rest[1])) ? rc::kOk : rc::kNotSaved;
}
