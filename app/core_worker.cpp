#include "app/core_worker.h"

#include "app/codes.h"
#include "app/fr_status.h"
#include "app/identity.h"
#include "storage/eeprom.h"
#include "storage/tables.h"
#include "util/cp866.h"

namespace {
constexpr int kLoopPause = 20;  // ms after every pass, busy or idle
}  // namespace

CoreWorker::CoreWorker(platform::Env* env) : env_(env), queue_(new CoreQueue) {}

CoreWorker::~CoreWorker() = default;

void CoreWorker::initialise() {
  // The order matters: each step reads what the ones before it set up.
  FrStatus::reset();
  tables::initCashiers(env_);
  tables::initSections(env_);
  tables::initDiscounts(env_);

  const eeprom::Identity id = eeprom::loadIdentity(env_);
  if (id.has_key) CoreIdentity::storeDeviceKey(id.key);
  if (id.has_model) CoreIdentity::replaceModelData(id.model);
  if (id.has_reg) CoreIdentity::replaceRegData(id.reg);
  if (!id.ok) FrStatus::setFlag(FrStatus::kIdentityError, true);

  // No archive storage yet: without a card the archive bits stay clear.
  FrStatus::setFlag(FrStatus::kArchivePresent | FrStatus::kArchiveUsable, false);
}

void CoreWorker::loop() {
  for (;;) {
    processOne();
    env_->SleepMillis(kLoopPause);
  }
}

bool CoreWorker::processOne() {
  CoreTransaction transaction;
  if (!queue_->pop(&transaction)) return false;
  CoreApiResult result = dispatch(transaction);
  result.id = transaction.id;  // a result without it would never be picked up
  queue_->pushResult(result);
  return true;
}

CoreApiResult CoreWorker::dispatch(const CoreTransaction& transaction) {
  // The handlers of the documents, reports, configuration, archive and
  // printer commands join this switch as they are built.
  switch (transaction.command) {
    case cmd::kSetSerialNumber:
      return CoreApiResult(setSerialNumber(transaction.data), transaction.id);
    default:
      return CoreApiResult(rc::kUnknownCommand, transaction.id);
  }
}

// The factory serial number, set once for the life of the device.
int CoreWorker::setSerialNumber(const std::string& data) {
  CashierPrefix prefix;
  Cashier cashier;
  const int code = authorise(env_, data, &prefix, &cashier);
  if (code != rc::kOk) return code;
  const ModelData current = CoreIdentity::modelData();
  if (current.isValid()) return rc::kSerialAlreadySet;
  const std::string& serial = prefix.rest;
  if (serial.size() != identity::kSerialSize) return rc::kBadData;
  if (!(cashier.rights & tables::kRightSerialNumber)) return rc::kNoRight;
  for (char c : serial) {
    if (c < '0' || c > '9') return rc::kBadData;
  }
  ModelData model = current;
  model.setModelCode(identity::kModelCode);
  model.setModelName(util::Utf8ToCp866(identity::kModelNameUtf8));
  model.setSerialNumber(serial);
  model.setCheckValue(model.computeCheckValue(CoreIdentity::deviceKey()));
  if (!model.isValid()) return rc::kBadData;
  if (!eeprom::writeModelData(env_, model)) {
    FrStatus::setFlag(FrStatus::kIdentityError, true);
    return rc::kIdentityFailure;
  }
  CoreIdentity::replaceModelData(model);
  return rc::kOk;
}
