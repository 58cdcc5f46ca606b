// The host's vocabulary: command codes and result codes. One byte each on
// the wire; every module, on the device and on the host, names them from here.
#ifndef FR_APP_CODES_H_
#define FR_APP_CODES_H_

#include <cstddef>
#include <cstdint>

namespace cmd {

constexpr uint8_t kReadTableRecord = 1;
constexpr uint8_t kWriteTableRecord = 2;
constexpr uint8_t kReadClock = 3;
constexpr uint8_t kSetClock = 4;
constexpr uint8_t kCancelDocument = 6;
constexpr uint8_t kAddDocumentData = 7;
constexpr uint8_t kOpenRegistration = 8;
constexpr uint8_t kCloseRegistration = 9;
constexpr uint8_t kShiftStatus = 16;
constexpr uint8_t kOpenShiftOpen = 17;
constexpr uint8_t kCloseShiftOpen = 18;
constexpr uint8_t kOpenShiftClose = 19;
constexpr uint8_t kCloseShiftClose = 20;
constexpr uint8_t kOpenReceipt = 21;
constexpr uint8_t kCloseReceipt = 22;
constexpr uint8_t kOpenArchiveClose = 24;
constexpr uint8_t kCloseArchiveClose = 25;
constexpr uint8_t kDeviceStatus = 48;
constexpr uint8_t kModelData = 49;
constexpr uint8_t kDeviceKey = 50;
constexpr uint8_t kVersion = 51;
constexpr uint8_t kShiftTotals = 54;
constexpr uint8_t kRegistrationTotals = 55;
constexpr uint8_t kGrandTotals = 56;
constexpr uint8_t kSectionTotals = 57;
constexpr uint8_t kControlTape = 58;
constexpr uint8_t kSetSerialNumber = 63;
constexpr uint8_t kRegistrationField = 68;
constexpr uint8_t kOpenCashIn = 162;
constexpr uint8_t kCloseCashIn = 163;
constexpr uint8_t kOpenCashOut = 164;
constexpr uint8_t kCloseCashOut = 165;
constexpr uint8_t kDocumentState = 176;
constexpr uint8_t kPrintReport = 177;
constexpr uint8_t kPrintCopy = 178;
constexpr uint8_t kPrinterStatus = 192;
constexpr uint8_t kReadPrinterSetting = 193;
constexpr uint8_t kWritePrinterSetting = 194;
constexpr uint8_t kPrintText = 195;
constexpr uint8_t kPrintRaw = 196;
constexpr uint8_t kFeedAndCut = 197;

}  // namespace cmd

// Receipt types of command 21, the only ones the register opens. Its drawer
// counts the cash of a sale and of a return of sale as coming in, of a
// purchase and of a return of purchase as going out.
namespace receipt {
constexpr uint8_t kSale = 0;
constexpr uint8_t kPurchase = 1;
constexpr uint8_t kSaleReturn = 2;
constexpr uint8_t kPurchaseReturn = 3;
// Whether the drawer counts the receipt's cash as coming in.
constexpr bool IsIncoming(uint8_t type) { return type == kSale || type == kSaleReturn; }
}  // namespace receipt

// Table numbers of commands 1 and 2.
namespace table {
constexpr uint8_t kCashiers = 1;
constexpr uint8_t kSections = 2;
constexpr uint8_t kDiscounts = 3;
}  // namespace table

// Report kinds of command 177.
namespace report {
constexpr uint8_t kXReport = 1;
constexpr uint8_t kRegistrationTotals = 2;  // since the last registration
constexpr uint8_t kGrossTotals = 3;
constexpr uint8_t kSectionXReport = 4;      // X report with section totals
constexpr uint8_t kPeriod = 5;              // two times follow
constexpr uint8_t kShiftRange = 6;          // two shift numbers follow
}  // namespace report

// Printer settings of commands 193 and 194.
namespace setting {
constexpr uint8_t kPrinterWidth = 1;
}  // namespace setting

namespace rc {

constexpr int kOk = 0;
constexpr int kNoDocumentObject = 3;
constexpr int kEncodeFailed = 4;
constexpr int kArchiveUnusable = 5;
constexpr int kCapacityLow = 6;
constexpr int kDocumentTooLarge = 7;
constexpr int kNoResult = 8;
constexpr int kCrcMismatch = 9;
constexpr int kUnknownCommand = 10;
constexpr int kFrameLength = 11;
constexpr int kNoFrame = 12;
constexpr int kNoSerialNumber = 13;
constexpr int kNoArchiveStorage = 15;
constexpr int kNoRight = 16;
constexpr int kNotFound = 17;
constexpr int kCashierRefused = 18;
constexpr int kBadCashierPrefix = 19;
constexpr int kEmptyLine = 19;  // a receipt line element with nothing inside
constexpr int kOutOfRange = 20;
constexpr int kNotSaved = 21;
constexpr int kBadData = 22;
constexpr int kClockNotLater = 23;
constexpr int kSerialAlreadySet = 24;
constexpr int kIdentityFailure = 25;
constexpr int kShiftOpen = 26;
constexpr int kShiftNotOpen = 27;
constexpr int kDocumentOpen = 28;
constexpr int kNoOpenDocument = 29;
constexpr int kWrongDocumentType = 30;
constexpr int kArchiveClosed = 31;
constexpr int kForeignArchive = 32;
constexpr int kRegistrationLimit = 33;
constexpr int kUnknownTag = 34;  // an element this document does not take
constexpr int kBadRegistrationData = 35;  // a registration text or tax rate that does not fit
constexpr int kCheckValueFailed = 36;     // the registration check value could not be made
constexpr int kCloseData = 37;
constexpr int kNoRegistration = 38;
constexpr int kTlvShort = 39;
constexpr int kNoCash = 40;
constexpr int kCashInTooLarge = 41;  // cash in above 1 000 000 000.00
constexpr int kBadReceiptType = 42;  // receipt type missing, unknown, or never opened
constexpr int kSectionNotFound = 43;  // line section not 1..20 or not in the table
constexpr int kDiscountNotFound = 44;  // line discount not 1..20 or not in the table
constexpr int kTaxNotFound = 45;  // line tax number not 1..5 or its rate unusable
constexpr int kBadLine = 46;  // receipt line fails its checks or its sums overflow
constexpr int kUnderpaid = 47;  // payment less than the receipt total
constexpr int kOverpaid = 48;  // payment or total above what the receipt allows
constexpr int kReceiptLimit = 50;
constexpr int kShiftTooLong = 51;
constexpr int kCashNotZero = 52;
constexpr int kPrinterSilent = 53;
constexpr int kPaperOut = 54;
constexpr int kNotFilled = 255;

// What a result code means, in a few words for people (host tools, logs, the
// protocol reference); "unknown result code" for a number not listed above.
const char* Meaning(int code);
// The same in Russian (UTF-8), for the shop's own screens.
const char* RussianMeaning(int code);
// Its constant's name as a stable word for programs ("paper-out" for
// kPaperOut); "unknown" for a number not listed above.
const char* Name(int code);

// Every code listed above with its texts, in the order of the codes.
struct CodeText {
  int code;
  const char* name;        // stable, for programs: "paper-out"
  const char* meaning;     // for people
  const char* meaning_ru;  // for people, in Russian (UTF-8)
};
const CodeText* CodeTexts(size_t* count);

}  // namespace rc

#endif  // FR_APP_CODES_H_
