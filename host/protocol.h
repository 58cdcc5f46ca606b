// Typed requests and decoded replies of every host command, and the
// enumerations a host needs. Byte layouts come from the register's own
// format headers (app/reply_format.h, app/status_format.h,
// storage/table_format.h, workers/counters_format.h); codes and names from
// app/codes.h.
#ifndef FR_HOST_PROTOCOL_H_
#define FR_HOST_PROTOCOL_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "app/codes.h"
#include "documents/tlv_element.h"
#include "host/names.h"
#include "storage/table_format.h"
#include "storage/tables.h"
#include "workers/counters.h"

namespace host {

// Who authorises a request: the cashier prefix at the head of its data.
struct Login {
  uint8_t cashier = tables::kServiceCashierNumber;
  int32_t password = tables::kServiceDefaultPassword;
};

// One request, ready for Client::Call.
struct Request {
  Request() = default;
  Request(uint8_t c, std::string d) : command(c), data(std::move(d)) {}

  uint8_t command = 0;
  std::string data;
  // Why the library will not send it, when a builder below was given text
  // that is not PrintableText: Client::Call answers it unsent with this error.
  std::string refused;
};

// The one rule for the texts a host sends to be printed or kept (names,
// registration texts, table records, printed text): no control character,
// no byte below 0x20 and no 0x7F. A line break would print a line of its
// own on fiscal paper (a forged total), and NUL or ESC would reach the
// printer as its commands. CP866 keeps ASCII's control bytes, so the rule
// reads the CP866 bytes themselves, whatever the text was converted from.
bool PrintableText(const std::string& cp866);

// ---- enumerations --------------------------------------------------------

// How the register books a receipt's cash in its drawer figure: +1 in (sale,
// and return of sale), -1 out (purchase, and return of purchase), 0 for a
// type it does not open. A return of sale counts as cash coming in.
int DrawerDirection(uint8_t receipt_type);
// True for the commands that close a document and answer a CloseReply (9,
// 18, 20, 22, 25, 163, 165).
bool ClosesDocument(uint8_t command);
// The type of the document such a command closes (doc::k*); 0 for another
// command.
uint8_t ClosedDocumentType(uint8_t command);

// ---- requests --------------------------------------------------------------

// Every builder that takes text refuses one that is not PrintableText
// (Request::refused); an element added with req::Add is read for its texts
// (the tags a host sends as strings, inside lines and tax rates too).

// A receipt line. Texts are CP866; amounts kopecks; the quantity is
// quantity / 10^places (places 0 to 9, TlvElement::kMaxFvlnPlaces).
struct Line {
  std::string name;
  int64_t price = 0;
  int64_t quantity = 1;
  uint8_t places = 0;
  uint8_t tax = 1;              // 1 to 5
  uint8_t section = 1;          // 1 to 20
  uint8_t discount = 0;         // discount table number 1 to 20; 0 for none
  int64_t discount_amount = 0;  // without a discount number: kopecks off
  std::string code, unit, extra;
};
TlvElement LineElement(const Line& line);
// A quantity written as "2", "1.5" or "0.250" into line->quantity and
// line->places. False, leaving the line unchanged, for anything else: a sign,
// spaces, more than 9 places or more than 18 digits.
bool ParseQuantity(const std::string& text, Line* line);
// The quantity as ParseQuantity reads it, places kept: "1.500", "2".
std::string FormatQuantity(const Line& line);

// A tax rate of the registration: index 0 to 4 (rate 1 to 5 on paper),
// type 0 no tax, 1 included in the price, 2 on top; rate in hundredths of a
// per cent; name CP866, 1 to 30 bytes.
struct TaxRateSetting {
  uint8_t index = 0;
  uint8_t type = 1;
  uint16_t rate = 0;
  std::string name;
};
TlvElement TaxRateElement(const TaxRateSetting& t);

namespace req {

Request ShiftStatus();                                                  // 16
Request DeviceStatus();                                                 // 48
Request ModelData();                                                    // 49
Request DeviceKey();                                                    // 50
Request Version();                                                      // 51
Request RegistrationField(uint16_t tag);                                // 68
Request ReadClock();                                                    // 3
Request SetClock(const Login& login, uint32_t t);                       // 4
Request ReadRecord(const Login& login, uint8_t table, uint8_t number);  // 1
// A record image as it is (a service engineer's bytes; its name is read as
// the register would read it), or one of the register's own record types.
Request WriteRecord(const Login& login, uint8_t table, const std::string& image);  // 2
Request WriteCashier(const Login& login, const Cashier& c);
Request WriteSection(const Login& login, const Section& s);
Request WriteDiscount(const Login& login, const Discount& d);
Request SetSerialNumber(const Login& login, const std::string& digits);  // 63
// Any document's opening (8, 17, 19, 24, 162, 164): the cashier's name as
// printed (CP866, cut to 255 bytes).
Request Open(uint8_t open_command, const Login& login, const std::string& name);
Request OpenReceipt(const Login& login, uint8_t receipt_type, const std::string& name);  // 21
Request Add(const TlvElement& element);                                                  // 7
Request CloseReceipt(int64_t cash, int64_t cashless);                                    // 22
Request CloseCash(uint8_t close_command, int64_t amount);                                // 163, 165
// The ИНН (up to 12 bytes) and ФН number (up to 16), each NUL-padded.
Request CloseRegistration(const std::string& inn, const std::string& fn);        // 9
Request Close(uint8_t close_command);                                            // 18, 20, 25: no data
Request Cancel();                                                                // 6
Request DocumentState();                                                         // 176
Request Totals(uint8_t command);                                                 // 54 to 57
Request ControlTape(const Login& login, uint32_t from = 0);                      // 58; 0: the whole shift
Request Report(const Login& login, uint8_t kind);                                // 177 kinds 1 to 4
Request PeriodReport(const Login& login, uint32_t from, uint32_t to);            // kind 5
Request ShiftRangeReport(const Login& login, uint16_t first, uint16_t last);     // kind 6
Request Copy(const Login& login, uint32_t number);                               // 178
Request PrinterStatus();                                                         // 192
Request ReadPrinterSetting(const Login& login, uint8_t number);                  // 193
Request WritePrinterSetting(const Login& login, uint8_t number, uint8_t value);  // 194
// Styled text (195): spacing code, alignment (1 centre, 2 right, else left),
// font code 0 to 3, flags (bit 0 bold, 2 reverse, 3 double, 4 cut), CP866:
// one line (the register would take line feeds; the library sends none).
Request PrintText(uint8_t spacing, uint8_t align, uint8_t font, uint8_t flags, const std::string& text);
Request PrintRaw(const std::string& bytes);  // 196: printer commands, never refused
Request FeedAndCut();                        // 197

}  // namespace req

// ---- decoded replies -------------------------------------------------------

// A closed document (reply data of 9, 18, 20, 22, 25, 163, 165).
struct CloseReply {
  uint32_t number = 0;
  uint32_t sign = 0;
  uint32_t time = 0;
  bool has_shift = false;
  uint16_t shift = 0;
  bool is_receipt = false;  // then receipt, total and change are there
  uint16_t receipt = 0;
  int64_t total = 0;
  int64_t change = 0;
  bool has_drawer = false;  // cash documents: the drawer after them
  int64_t drawer = 0;
};
bool DecodeCloseReply(const std::string& data, CloseReply* out);
// The tag of the element a close answered 37 misses.
bool DecodeMissingTag(const std::string& data, uint16_t* tag);

struct ShiftStatus {  // 16
  bool open = false;
  uint16_t shift = 0;
  uint16_t receipts = 0;
  uint32_t open_document = 0;
  uint32_t open_time = 0;
  uint32_t last_document = 0;  // of the shift
  uint32_t close_time = 0;     // 0 while the shift is open
  int64_t drawer = 0;
};
bool DecodeShiftStatus(const std::string& data, ShiftStatus* out);

struct DeviceStatus {  // 48
  std::string serial;
  uint16_t flags = 0;  // FrStatus::k* bits (app/status_format.h)
  uint8_t registrations = 0;
  uint8_t constant = 0;  // always 50
  uint16_t shift = 0;
  uint32_t last_document = 0;
  int32_t last_time = 0;
  uint16_t receipts = 0;
  uint8_t open_document = 0;  // its type; 0 for none
  uint32_t capacity = 0;      // documents the card still has room for
  bool flag(uint16_t mask) const { return (flags & mask) != 0; }
};
bool DecodeDeviceStatus(const std::string& data, DeviceStatus* out);
// The names of the set flags, for people: "shift open", "paper out", ...
std::vector<std::string> FlagNames(uint16_t flags);

struct ModelInfo {  // 49
  uint16_t code = 0;
  std::string serial;
  std::string name;  // CP866
};
bool DecodeModelData(const std::string& data, ModelInfo* out);
bool DecodeDeviceKey(const std::string& data, std::string* key);         // 50
bool DecodeVersion(const std::string& data, std::string* text);          // 51: "0.0.3"
bool DecodeRegistrationField(const std::string& data, TlvElement* out);  // 68
bool DecodeTime(const std::string& data, uint32_t* t);                   // 3, 4

struct DocumentState {  // 176
  uint8_t type = 0;     // document type 1 to 7
  bool is_receipt = false;
  uint8_t receipt_type = 0;
  uint16_t receipt_number = 0;
  uint16_t lines = 0;
  int64_t total = 0;
};
bool DecodeDocumentState(const std::string& data, DocumentState* out);

// Table records (1, 2) and totals records (54 to 57): the register's own
// record types read their images.
bool DecodeCashier(const std::string& data, Cashier* out);
bool DecodeSection(const std::string& data, Section* out);
bool DecodeDiscount(const std::string& data, Discount* out);
bool DecodeShiftTotals(const std::string& data, ShiftCounters* out);    // 54, 55
bool DecodeGrossTotals(const std::string& data, GrossCounters* out);    // 56
bool DecodeSectionTotals(const std::string& data, SectionTotals* out);  // 57

// RFC 3339 (any zone offset) to seconds since 1970; false for anything
// else, or a time before 1970 or past 2106.
bool ParseTime(const std::string& text, uint32_t* t);
// Seconds since 1970 as RFC 3339 in UTC: "2035-01-02T10:00:00Z".
std::string FormatTime(uint32_t t);
// 12990 -> "129.90", -5 -> "-0.05".
std::string Decimal2(int64_t kopecks);

}  // namespace host

#endif  // FR_HOST_PROTOCOL_H_
