#include "app/codes.h"

namespace rc {

const char* Meaning(int code) {
  switch (code) {
    case kOk: return "success";
    case kNoDocumentObject: return "no document object";
    case kEncodeFailed: return "document not serialisable";
    case kArchiveUnusable: return "archive not usable";
    case kCapacityLow: return "archive capacity low";
    case kDocumentTooLarge: return "document too large";
    case kNoResult: return "the command produced no result";
    case kCrcMismatch: return "CRC mismatch";
    case kUnknownCommand: return "unknown command";
    case kFrameLength: return "bad frame length or body not in one piece";
    case kNoFrame: return "no frame start could be read";
    case kNoSerialNumber: return "no factory serial number";
    case kNoArchiveStorage: return "no SD card";
    case kNoRight: return "right missing";
    case kNotFound: return "not found";
    case kCashierRefused: return "cashier refused";
    case kBadCashierPrefix: return "cashier prefix, record number or line contents missing";
    case kOutOfRange: return "out of range";
    case kNotSaved: return "not saved";
    case kBadData: return "bad data";
    case kClockNotLater: return "clock not later than the last document";
    case kSerialAlreadySet: return "serial number already set";
    case kIdentityFailure: return "identity failure or no key";
    case kShiftOpen: return "shift open";
    case kShiftNotOpen: return "no shift open";
    case kDocumentOpen: return "a document is open";
    case kNoOpenDocument: return "no document open";
    case kWrongDocumentType: return "wrong document type";
    case kArchiveClosed: return "archive closed";
    case kForeignArchive: return "archive of another device";
    case kRegistrationLimit: return "registration limit";
    case kUnknownTag: return "element not taken";
    case kBadRegistrationData: return "bad registration data";
    case kCheckValueFailed: return "check value failed";
    case kCloseData: return "item missing at close";
    case kNoRegistration: return "not registered";
    case kTlvShort: return "cashier text short";
    case kNoCash: return "not enough cash";
    case kCashInTooLarge: return "cash in too large";
    case kBadReceiptType: return "bad receipt type";
    case kSectionNotFound: return "section not found";
    case kDiscountNotFound: return "discount not found";
    case kTaxNotFound: return "tax rate not usable";
    case kBadLine: return "bad line";
    case kUnderpaid: return "underpaid";
    case kOverpaid: return "overpaid";
    case kReceiptLimit: return "3000 receipts in the shift";
    case kShiftTooLong: return "shift older than 24 hours";
    case kCashNotZero: return "cash in the drawer";
    case kPrinterSilent: return "printer does not answer";
    case kPaperOut: return "paper out";
    case kNotFilled: return "no result was filled in";
    default: return "unknown result code";
  }
}

}  // namespace rc
