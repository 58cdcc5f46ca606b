#include "app/core_worker.h"

#include <ctime>

#include "app/codes.h"
#include "app/config_worker.h"
#include "app/fr_status.h"
#include "app/identity.h"
#include "printer/print_layout.h"
#include "printer/printer_settings.h"
#include "printer/render.h"
#include "printer/shared_blocks.h"
#include "storage/eeprom.h"
#include "storage/sd_card.h"
#include "storage/tables.h"
#include "util/cp866.h"
#include "workers/documents_worker.h"
#include "workers/reports_worker.h"

namespace {
constexpr int kLoopPause = 20;  // ms after every pass, busy or idle
}  // namespace

CoreWorker::CoreWorker(platform::Env* env)
    : env_(env), queue_(new CoreQueue), printer_(new PrinterLine(env)) {}

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

  openArchive();

  printBanner();
}

void CoreWorker::openArchive() {
  if (archive_) archive_->close();
  archive_.reset();
  if (!sdcard::mount(env_)) {
    FrStatus::setFlag(FrStatus::kArchivePresent | FrStatus::kArchiveUsable, false);
    return;
  }
  archive_.reset(new FiscalArchive(env_, sdcard::archivePath(env_)));
  FrStatus::setFlag(FrStatus::kArchivePresent | FrStatus::kArchiveUsable, true);
  if (!archive_->createOrVerify()) FrStatus::setFlag(FrStatus::kArchiveUsable, false);
  archive_->publish();
}

// The totals records as stored: 54 shift, 55 since registration, 56 grand,
// 57 the four section tables.
CoreApiResult CoreWorker::readTotals(const CoreTransaction& transaction) {
  CoreApiResult result(rc::kArchiveUnusable, transaction.id);
  if (!archive_) return result;
  bool ok = false;
  switch (transaction.command) {
    case cmd::kShiftTotals:
    case cmd::kRegistrationTotals: {
      ShiftCounters c;
      ok = transaction.command == cmd::kShiftTotals ? archive_->readShiftCounters(&c)
                                                     : archive_->readRegistrationCounters(&c);
      result.data = c.image();
      break;
    }
    case cmd::kGrandTotals: {
      GrossCounters g;
      ok = archive_->readGrossCounters(&g);
      result.data = g.image();
      break;
    }
    default:
      ok = archive_->readSectionTotals(4, &result.data);
      break;
  }
  if (!ok) {
    result.data.clear();
    return result;
  }
  result.code = rc::kOk;
  return result;
}

void CoreWorker::printBanner() {
  printer::loadWidthSetting(env_);
  printer_->open();
  printer_->initialise();
  printer_->statusCheck();

  const ModelData model = CoreIdentity::modelData();
  const RegData reg = CoreIdentity::regData();
  PrintStyle style;
  style.setFont(3);
  style.set(PrintStyle::kCentre | PrintStyle::kBold);
  PrintBlock block(style);
  block.addText(model.modelName());
  block.addText(model.isValid() ? util::Utf8ToCp866("ЗН ") + model.serialNumber()
                                : util::Utf8ToCp866("НЕ УСТАНОВЛЕН ЗАВОДСКОЙ НОМЕР"));
  struct tm tm;
  char when[32] = "";
  if (env_->LocalTime(env_->Now(), &tm)) strftime(when, sizeof(when), "%d.%m.%Y %H:%M", &tm);
  block.addText(when);

  std::string text;
  if (reg.isValid()) {
    text = printer::render(block, false) + printer::render(registrationHeader(reg)) +
           printer::render(taxpayerLines(reg, true));
  } else {
    text = printer::render(block, true);
  }
  printer_->printJob(text);  // the banner's fate changes nothing
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
    case cmd::kReadTableRecord:
    case cmd::kWriteTableRecord:
    case cmd::kReadClock:
    case cmd::kSetClock:
    case cmd::kReadPrinterSetting:
    case cmd::kWritePrinterSetting:
      return ConfigWorker(env_).handle(transaction);
    case cmd::kCancelDocument:
    case cmd::kAddDocumentData:
    case cmd::kOpenRegistration:
    case cmd::kCloseRegistration:
    case cmd::kOpenShiftOpen:
    case cmd::kCloseShiftOpen:
    case cmd::kOpenShiftClose:
    case cmd::kCloseShiftClose:
    case cmd::kOpenReceipt:
    case cmd::kCloseReceipt:
    case cmd::kOpenArchiveClose:
    case cmd::kCloseArchiveClose:
    case cmd::kOpenCashIn:
    case cmd::kCloseCashIn:
    case cmd::kOpenCashOut:
    case cmd::kCloseCashOut:
    case cmd::kDocumentState:
      return DocumentsWorker(env_, archive_.get(), printer_.get()).handle(transaction);
    case cmd::kControlTape:
    case cmd::kPrintReport:
    case cmd::kPrintCopy:
      return ReportsWorker(env_, archive_.get(), printer_.get()).handle(transaction);
    case cmd::kShiftTotals:
    case cmd::kRegistrationTotals:
    case cmd::kGrandTotals:
    case cmd::kSectionTotals:
      return readTotals(transaction);
    case cmd::kPrinterStatus:
      return CoreApiResult(printer_->statusCheck(), transaction.id);
    case cmd::kPrintText:
      return CoreApiResult(printText(transaction.data), transaction.id);
    case cmd::kPrintRaw:
      if (transaction.data.empty()) return CoreApiResult(rc::kBadData, transaction.id);
      return CoreApiResult(printer_->rawWrite(transaction.data), transaction.id);
    case cmd::kFeedAndCut:
      return CoreApiResult(printer_->feedAndCut(), transaction.id);
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

// Free text from the host: spacing, alignment, font and flags, then the text.
int CoreWorker::printText(const std::string& data) {
  constexpr size_t kHeader = 4;
  if (data.size() < kHeader) return rc::kBadData;
  const uint8_t spacing = static_cast<uint8_t>(data[0]);
  const uint8_t align = static_cast<uint8_t>(data[1]);
  const uint8_t font = static_cast<uint8_t>(data[2]);
  const uint8_t flags = static_cast<uint8_t>(data[3]);
  PrintStyle style;
  style.setSpacing(spacing % 6);
  style.setFont(font & 3);
  uint32_t bits = PrintStyle::kMarker;
  if (align == 1) bits |= PrintStyle::kCentre;
  if (align == 2) bits |= PrintStyle::kRight;
  if (flags & 0x01) bits |= PrintStyle::kBold;
  if (flags & 0x02) bits |= PrintStyle::kMarker28;
  if (flags & 0x04) bits |= PrintStyle::kReverse;
  if (flags & 0x08) bits |= PrintStyle::kDouble;
  style.set(bits);
  const bool cut = (flags & 0x10) != 0;
  return printer_->printJob(printer::render(PrintBlock::fromText(style, data.substr(kHeader)), cut));
}
