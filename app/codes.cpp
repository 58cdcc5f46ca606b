#include "app/codes.h"

namespace rc {

namespace {

struct CodeText {
  int code;
  const char* name;     // stable, for programs: "paper-out"
  const char* meaning;  // for people
};

const CodeText kCodeTexts[] = {
    {kOk, "ok", "success"},
    {kNoDocumentObject, "no-document-object", "no document object"},
    {kEncodeFailed, "encode-failed", "document not serialisable"},
    {kArchiveUnusable, "archive-unusable", "archive not usable"},
    {kCapacityLow, "capacity-low", "archive capacity low"},
    {kDocumentTooLarge, "document-too-large", "document too large"},
    {kNoResult, "no-result", "the command produced no result"},
    {kCrcMismatch, "crc-mismatch", "CRC mismatch"},
    {kUnknownCommand, "unknown-command", "unknown command"},
    {kFrameLength, "frame-length", "bad frame length or body not in one piece"},
    {kNoFrame, "no-frame", "no frame start could be read"},
    {kNoSerialNumber, "no-serial-number", "no factory serial number"},
    {kNoArchiveStorage, "no-archive-storage", "no SD card"},
    {kNoRight, "no-right", "right missing"},
    {kNotFound, "not-found", "not found"},
    {kCashierRefused, "cashier-refused", "cashier refused"},
    {kBadCashierPrefix, "bad-cashier-prefix", "cashier prefix, record number or line contents missing"},
    {kOutOfRange, "out-of-range", "out of range"},
    {kNotSaved, "not-saved", "not saved"},
    {kBadData, "bad-data", "bad data"},
    {kClockNotLater, "clock-not-later", "clock not later than the last document"},
    {kSerialAlreadySet, "serial-already-set", "serial number already set"},
    {kIdentityFailure, "identity-failure", "identity failure or no key"},
    {kShiftOpen, "shift-open", "shift open"},
    {kShiftNotOpen, "shift-not-open", "no shift open"},
    {kDocumentOpen, "document-open", "a document is open"},
    {kNoOpenDocument, "no-open-document", "no document open"},
    {kWrongDocumentType, "wrong-document-type", "wrong document type"},
    {kArchiveClosed, "archive-closed", "archive closed"},
    {kForeignArchive, "foreign-archive", "archive of another device"},
    {kRegistrationLimit, "registration-limit", "registration limit"},
    {kUnknownTag, "unknown-tag", "element not taken"},
    {kBadRegistrationData, "bad-registration-data", "bad registration data"},
    {kCheckValueFailed, "check-value-failed", "check value failed"},
    {kCloseData, "close-data", "item missing at close"},
    {kNoRegistration, "no-registration", "not registered"},
    {kTlvShort, "tlv-short", "cashier text short"},
    {kNoCash, "no-cash", "not enough cash"},
    {kCashInTooLarge, "cash-in-too-large", "cash in too large"},
    {kBadReceiptType, "bad-receipt-type", "bad receipt type"},
    {kSectionNotFound, "section-not-found", "section not found"},
    {kDiscountNotFound, "discount-not-found", "discount not found"},
    {kTaxNotFound, "tax-not-found", "tax rate not usable"},
    {kBadLine, "bad-line", "bad line"},
    {kUnderpaid, "underpaid", "underpaid"},
    {kOverpaid, "overpaid", "overpaid"},
    {kReceiptLimit, "receipt-limit", "3000 receipts in the shift"},
    {kShiftTooLong, "shift-too-long", "shift older than 24 hours"},
    {kCashNotZero, "cash-not-zero", "cash in the drawer"},
    {kPrinterSilent, "printer-silent", "printer does not answer"},
    {kPaperOut, "paper-out", "paper out"},
    {kNotFilled, "not-filled", "no result was filled in"},
};

const CodeText* Find(int code) {
  for (const CodeText& t : kCodeTexts) {
    if (t.code == code) return &t;
  }
  return nullptr;
}

}  // namespace

const char* Meaning(int code) {
  const CodeText* t = Find(code);
  return t != nullptr ? t->meaning : "unknown result code";
}

const char* Name(int code) {
  const CodeText* t = Find(code);
  return t != nullptr ? t->name : "unknown";
}

}  // namespace rc
