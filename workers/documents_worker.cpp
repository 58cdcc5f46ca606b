#include "workers/documents_worker.h"

#include <mutex>

#include "app/codes.h"
#include "app/fr_status.h"
#include "app/identity.h"
#include "documents/document_factory.h"
#include "documents/receipt_doc.h"
#include "documents/registration_documents.h"
#include "documents/shift_documents.h"
#include "printer/render.h"
#include "storage/sd_card.h"
#include "storage/table_format.h"
#include "util/coding.h"
#include "util/cp866.h"

namespace {

// The one open document of the device.
struct Slot {
  std::mutex mu;
  std::shared_ptr<BaseWorkDocument> document;  // guarded by mu
};

Slot& slot() {
  static Slot* const s = new Slot;  // lives until the process is killed
  return *s;
}

uint16_t RightsFor(uint8_t type) {
  switch (type) {
    case doc::kFiscalisation:
    case doc::kArchiveClose:
      return tables::kRightRegistration;
    case doc::kReceipt:
      return tables::kRightSales | tables::kRightReturns;
    default:
      return tables::kRightSales | tables::kRightCash | tables::kRightReturns;
  }
}

FrStatus::Check CheckFor(uint8_t type) {
  switch (type) {
    case doc::kFiscalisation: return FrStatus::Check::A;
    case doc::kShiftClose: return FrStatus::Check::G;
    case doc::kReceipt: return FrStatus::Check::F;
    case doc::kArchiveClose: return FrStatus::Check::C;
    case doc::kCashIn: return FrStatus::Check::D;
    case doc::kCashOut: return FrStatus::Check::E;
    default: return FrStatus::Check::B;
  }
}

int64_t NotBelowZero(int64_t drawer, int64_t amount) { return amount >= drawer ? 0 : drawer - amount; }

}  // namespace

DocumentsWorker::DocumentsWorker(platform::Env* env, FiscalArchive* archive, PrinterLine* printer)
    : env_(env), archive_(archive), printer_(printer) {}

uint8_t DocumentsWorker::typeOfCommand(uint8_t command) {
  switch (command) {
    case cmd::kOpenRegistration:
    case cmd::kCloseRegistration:
      return doc::kFiscalisation;
    case cmd::kOpenShiftClose:
    case cmd::kCloseShiftClose:
      return doc::kShiftClose;
    case cmd::kOpenReceipt:
    case cmd::kCloseReceipt:
      return doc::kReceipt;
    case cmd::kOpenArchiveClose:
    case cmd::kCloseArchiveClose:
      return doc::kArchiveClose;
    case cmd::kOpenCashIn:
    case cmd::kCloseCashIn:
      return doc::kCashIn;
    case cmd::kOpenCashOut:
    case cmd::kCloseCashOut:
      return doc::kCashOut;
    case cmd::kOpenShiftOpen:
    case cmd::kCloseShiftOpen:
      return doc::kShiftOpen;
    default:
      return 0;
  }
}

std::shared_ptr<BaseWorkDocument> DocumentsWorker::currentDocument() {
  std::lock_guard<std::mutex> lock(slot().mu);
  return slot().document;
}

CoreApiResult DocumentsWorker::handle(const CoreTransaction& t) {
  CoreApiResult result(rc::kOk, t.id);
  const uint8_t command = static_cast<uint8_t>(t.command);
  switch (command) {
    case cmd::kCancelDocument:
      result.code = cancel();
      break;
    case cmd::kAddDocumentData:
      result.code = add(t.data);
      break;
    case cmd::kDocumentState:
      result.code = state(&result.data);
      break;
    case cmd::kOpenRegistration:
    case cmd::kOpenShiftOpen:
    case cmd::kOpenShiftClose:
    case cmd::kOpenReceipt:
    case cmd::kOpenArchiveClose:
    case cmd::kOpenCashIn:
    case cmd::kOpenCashOut:
      result.code = open(typeOfCommand(command), t.data);
      break;
    default:
      result.code = close(typeOfCommand(command), t.data, &result.data);
      break;
  }
  return result;
}

int DocumentsWorker::print(const std::string& text) { return printer_->printJob(text); }

int DocumentsWorker::open(uint8_t type, const std::string& data) {
  CashierPrefix prefix;
  Cashier cashier;
  const int authorised = authorise(env_, data, &prefix, &cashier);
  if (authorised != rc::kOk) return authorised;
  if (!doc::isKnownType(type)) return rc::kWrongDocumentType;
  if (!CoreIdentity::modelData().isValid()) return rc::kNoSerialNumber;
  const int64_t now = env_->Now();
  if (!FrStatus::clockCheck(now)) return rc::kClockNotLater;
  std::unique_lock<std::mutex> lock(slot().mu);
  if (slot().document) return rc::kDocumentOpen;
  if (!(cashier.rights & RightsFor(type))) return rc::kNoRight;
  int code = FrStatus::check(CheckFor(type), now);
  if (code != rc::kOk) return code;
  code = printer_->statusCheck();
  if (code != rc::kOk) return code;
  std::shared_ptr<BaseWorkDocument> document =
      makeDocument(env_, type, CoreIdentity::modelData(), CoreIdentity::regData(), cashier);
  if (!document) return rc::kNoDocumentObject;
  code = document->setCashierName(prefix.rest);
  if (code != rc::kOk) return code;

  slot().document = document;
  FrStatus::setOpenDocumentType(type);
  const std::string header = printer::render(document->printHeader());
  code = header.empty() ? printer_->statusCheck() : print(header);
  if (code != rc::kOk) {
    slot().document.reset();
    FrStatus::setOpenDocumentType(0);
  }
  return code;
}

int DocumentsWorker::add(const std::string& data) {
  int code = printer_->statusCheck();
  if (code != rc::kOk) return code;
  std::lock_guard<std::mutex> lock(slot().mu);
  if (!slot().document) return rc::kNoOpenDocument;
  TlvElement element;
  if (!TlvElement::decode(data, &element)) element = TlvElement();
  PrintData printed;
  auto* receipt = dynamic_cast<ReceiptDoc*>(slot().document.get());
  code = receipt != nullptr ? receipt->addLine(element, &printed) : slot().document->addData(element);
  if (code != rc::kOk || printed.empty()) return code;
  code = print(printer::render(printed));
  if (code != rc::kOk) {
    slot().document.reset();
    FrStatus::setOpenDocumentType(0);
  }
  return code;
}

int DocumentsWorker::close(uint8_t type, const std::string& data, std::string* reply) {
  std::shared_ptr<BaseWorkDocument> document;
  {
    std::lock_guard<std::mutex> lock(slot().mu);
    if (!slot().document) return rc::kNoOpenDocument;
    if (slot().document->type() != type) return rc::kWrongDocumentType;
    const int64_t now = env_->Now();
    if (!FrStatus::clockCheck(now)) return rc::kClockNotLater;
    int code = printer_->statusCheck();
    if (code != rc::kOk) {
      slot().document.reset();
      FrStatus::setOpenDocumentType(0);
      return code;
    }
    document = slot().document;
    if (document->regData().archiveNumber() == 0 && archive_ != nullptr) {
      document->setArchiveNumber(archive_->archiveNumber());
    }
    uint16_t missing = 0;
    code = document->close(static_cast<uint32_t>(now), CoreIdentity::deviceKey(), data, &missing);
    if (code == rc::kCloseData) {
      util::PutFixed16(reply, missing);
      return code;
    }
    if (code != rc::kOk) return code;
    code = archive_ != nullptr ? archive_->store(document.get()) : rc::kArchiveUnusable;
    if (code != rc::kOk) return code;
    slot().document.reset();
  }
  afterClose(*document);
  *reply = document->closeReply();
  return rc::kOk;
}

void DocumentsWorker::afterClose(const BaseWorkDocument& document) {
  const uint32_t number = document.documentNumber();
  switch (document.type()) {
    case doc::kFiscalisation: {
      FrStatus::setFlag(FrStatus::kRegistered, true);
      uint8_t count = 0;
      if (archive_ != nullptr && archive_->readRegistrationCount(&count)) FrStatus::setRegistrationCount(count);
      const auto* report = dynamic_cast<const FiscalizationDocument*>(&document);
      if (report != nullptr) {
        print(report->headerText());
        print(report->reportText());
      }
      break;
    }
    case doc::kShiftClose: {
      FrStatus::setFlag(FrStatus::kShiftOpen, false);
      FrStatus::setLastShiftDocument(number);
      FrStatus::setShiftCloseTime(document.dateTime());
      const auto* z = dynamic_cast<const CloseCycleDoc*>(&document);
      if (z != nullptr) print(z->reportText());
      break;
    }
    case doc::kReceipt: {
      const auto* receipt = dynamic_cast<const ReceiptDoc*>(&document);
      if (receipt != nullptr) {
        const int64_t cash = receipt->cashPayment().mantissa();
        const int64_t drawer = FrStatus::cashInDrawer();
        FrStatus::setCashInDrawer(receipt->isIncoming() ? static_cast<int64_t>(static_cast<uint64_t>(drawer) +
                                                                               static_cast<uint64_t>(cash))
                                                        : NotBelowZero(drawer, cash));
        FrStatus::setReceiptsInShift(receipt->receiptNumber());
      }
      FrStatus::setLastShiftDocument(number);
      break;
    }
    case doc::kArchiveClose: {
      FrStatus::setFlag(FrStatus::kArchiveClosed, true);
      const auto* report = dynamic_cast<const ArchiveCloseDoc*>(&document);
      if (report != nullptr) print(report->reportText());
      break;
    }
    case doc::kCashIn:
    case doc::kCashOut: {
      const auto* cash = dynamic_cast<const CashCtrlDocument*>(&document);
      if (cash != nullptr) {
        const int64_t amount = cash->amount().mantissa();
        const int64_t drawer = FrStatus::cashInDrawer();
        FrStatus::setCashInDrawer(cash->isCashIn() ? static_cast<int64_t>(static_cast<uint64_t>(drawer) +
                                                                          static_cast<uint64_t>(amount))
                                                   : NotBelowZero(drawer, amount));
      }
      FrStatus::setLastShiftDocument(number);
      break;
    }
    case doc::kShiftOpen:
      FrStatus::setFlag(FrStatus::kShiftOpen, true);
      FrStatus::setReceiptsInShift(0);
      FrStatus::setShiftOpenDocument(number);
      FrStatus::setShiftOpenTime(document.dateTime());
      FrStatus::setLastShiftDocument(number);
      FrStatus::setShiftCloseTime(0);
      break;
    default:
      break;
  }
  FrStatus::setLastDocumentNumber(number);
  FrStatus::setLastDocumentTime(static_cast<int32_t>(document.dateTime()));
  FrStatus::setShiftNumber(document.shiftNumber());
  FrStatus::setOpenDocumentType(0);
  FrStatus::setCapacity(sdcard::maxDocuments(env_));
  const std::string footer = printer::render(document.printFooter(true));
  if (!footer.empty()) print(footer);
}

int DocumentsWorker::cancel() {
  {
    std::lock_guard<std::mutex> lock(slot().mu);
    if (!slot().document) return rc::kNoOpenDocument;
    slot().document.reset();
    FrStatus::setOpenDocumentType(0);
  }
  PrintStyle style;
  style.setFont(0);
  style.set(PrintStyle::kCentre | PrintStyle::kBold | PrintStyle::kDouble);
  print(printer::render(PrintBlock::fromText(style, util::Utf8ToCp866("\nДОКУМЕНТ ОТМЕНЕН\n")), true));
  return rc::kOk;
}

int DocumentsWorker::state(std::string* reply) {
  std::lock_guard<std::mutex> lock(slot().mu);
  if (!slot().document) return rc::kNoOpenDocument;
  *reply = slot().document->statusBytes();
  return rc::kOk;
}
