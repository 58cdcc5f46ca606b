#include "host/protocol.h"

#include <cstdio>
#include <ctime>

#include "app/reply_format.h"
#include "app/status_format.h"
#include "documents/base_document.h"
#include "documents/tlv_tags.h"
#include "host/clock.h"
#include "storage/identity_format.h"
#include "storage/tax_rate.h"
#include "util/coding.h"

namespace host {
namespace {

using util::Fixed16;
using util::Fixed32;
using util::Fixed64;

std::string U8(uint8_t v) { return std::string(1, static_cast<char>(v)); }

std::string Prefix(const Login& login) { return U8(login.cashier) + Fixed32(static_cast<uint32_t>(login.password)); }

// A length-prefixed text, as the open commands take the cashier's name.
std::string Counted(const std::string& text) {
  const std::string cut = text.substr(0, 255);
  return U8(static_cast<uint8_t>(cut.size())) + cut;
}

int64_t Amount(const std::string& data, size_t offset) { return static_cast<int64_t>(util::GetFixed64(data, offset)); }

// A text field: up to its first NUL.
std::string Text(const std::string& field) { return field.substr(0, field.find('\0')); }

std::string Refusal(const std::string& what) {
  return what + " holds a control character (a line break, tab, NUL, ESC or DEL); nothing was sent";
}

// `r`, refused (unless it is already) when `text`, which `what` names, is
// not PrintableText.
Request Checked(Request r, const std::string& what, const std::string& text) {
  if (r.refused.empty() && !PrintableText(text)) r.refused = Refusal(what);
  return r;
}

// The tag of the first text in `e` that is not PrintableText, 0 when there
// is none. Texts are the string tags a host sends; lines and tax rates are
// read through.
uint16_t BadTextTag(const TlvElement& e) {
  switch (e.tag()) {
    case tag::kLineName:
    case tag::kLineCode:
    case tag::kUnit:
    case tag::kLineExtraText:
    case tag::kCashierName:
    case tag::kFirstRegText:
    case tag::kSecondRegText:
    case tag::kThirdRegText:
    case tag::kTaxName: return PrintableText(e.value()) ? 0 : e.tag();
    default: break;
  }
  const bool list =
      e.tag() == tag::kReceiptLine || (e.tag() >= tag::kTaxRateFirst && e.tag() < tag::kTaxRateFirst + TaxRate::kCount);
  if (!list) return 0;
  for (const TlvElement& part : e.asList()) {
    if (const uint16_t bad = BadTextTag(part)) return bad;
  }
  return 0;
}

// The name in a record image, as the register reads it.
std::string RecordName(uint8_t table, const std::string& image) {
  Cashier c;
  Section s;
  Discount d;
  switch (table) {
    case table::kCashiers: tables::parseCashierImage(image, &c); return c.name;
    case table::kSections: tables::parseSectionImage(image, &s); return s.name;
    case table::kDiscounts: tables::parseDiscountImage(image, &d); return d.name;
    default: return "";
  }
}

}  // namespace

bool PrintableText(const std::string& cp866) {
  for (const char c : cp866) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F) return false;
  }
  return true;
}

int DrawerDirection(uint8_t receipt_type) {
  if (ReceiptTypeName(receipt_type) == nullptr) return 0;
  return receipt::IsIncoming(receipt_type) ? 1 : -1;
}

uint8_t ClosedDocumentType(uint8_t command) {
  switch (command) {
    case cmd::kCloseRegistration: return doc::kFiscalisation;
    case cmd::kCloseShiftOpen: return doc::kShiftOpen;
    case cmd::kCloseShiftClose: return doc::kShiftClose;
    case cmd::kCloseReceipt: return doc::kReceipt;
    case cmd::kCloseArchiveClose: return doc::kArchiveClose;
    case cmd::kCloseCashIn: return doc::kCashIn;
    case cmd::kCloseCashOut: return doc::kCashOut;
    default: return 0;
  }
}

bool ClosesDocument(uint8_t command) { return ClosedDocumentType(command) != 0; }

bool ParseQuantity(const std::string& text, Line* line) {
  const size_t dot = text.find('.');
  const std::string whole = text.substr(0, dot);
  const std::string places = dot == std::string::npos ? "" : text.substr(dot + 1);
  const std::string digits = whole + places;
  if (whole.empty() || (dot != std::string::npos && places.empty()) ||
      places.size() > static_cast<size_t>(TlvElement::kMaxFvlnPlaces) || digits.size() > 18 ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  line->quantity = std::stoll(digits);
  line->places = static_cast<uint8_t>(places.size());
  return true;
}

namespace {

Decimal QuantityOf(const Line& l) {
  uint32_t scale = 1;
  for (uint8_t i = 0; i < l.places; ++i) scale *= 10;
  return Decimal(scale, l.quantity);
}

}  // namespace

std::string FormatQuantity(const Line& line) { return QuantityOf(line).toString(); }

TlvElement LineElement(const Line& l) {
  std::vector<TlvElement> parts;
  if (!l.code.empty()) parts.push_back(TlvElement::fromString(tag::kLineCode, l.code));
  if (!l.extra.empty()) parts.push_back(TlvElement::fromString(tag::kLineExtraText, l.extra));
  parts.push_back(TlvElement::fromString(tag::kLineName, l.name));
  if (!l.unit.empty()) parts.push_back(TlvElement::fromString(tag::kUnit, l.unit));
  parts.push_back(TlvElement::fromVln(tag::kPrice, l.price));
  parts.push_back(TlvElement::fromFvln(tag::kQuantity, QuantityOf(l)));
  parts.push_back(TlvElement::fromByte(tag::kLineTaxNumber, l.tax));
  parts.push_back(TlvElement::fromByte(tag::kSectionNumber, l.section));
  if (l.discount != 0) parts.push_back(TlvElement::fromByte(tag::kDiscountNumber, l.discount));
  if (l.discount == 0 && l.discount_amount != 0) {
    parts.push_back(TlvElement::fromVln(tag::kDiscountAmount, l.discount_amount));
  }
  return TlvElement::fromList(tag::kReceiptLine, parts);
}

TlvElement TaxRateElement(const TaxRateSetting& t) {
  return TlvElement::fromList(
      static_cast<uint16_t>(tag::kTaxRateFirst + t.index),
      {TlvElement::fromByte(tag::kTaxRateType, t.type), TlvElement::fromU16(tag::kTaxRateWord, t.rate),
       TlvElement::fromString(tag::kTaxName, t.name)});
}

namespace req {

Request ShiftStatus() { return {cmd::kShiftStatus, ""}; }
Request DeviceStatus() { return {cmd::kDeviceStatus, ""}; }
Request ModelData() { return {cmd::kModelData, ""}; }
Request DeviceKey() { return {cmd::kDeviceKey, ""}; }
Request Version() { return {cmd::kVersion, ""}; }
Request RegistrationField(uint16_t tag) { return {cmd::kRegistrationField, Fixed16(tag)}; }
Request ReadClock() { return {cmd::kReadClock, ""}; }
Request SetClock(const Login& login, uint32_t t) { return {cmd::kSetClock, Prefix(login) + Fixed32(t)}; }
Request ReadRecord(const Login& login, uint8_t table, uint8_t number) {
  return {cmd::kReadTableRecord, Prefix(login) + U8(table) + U8(number)};
}
Request WriteRecord(const Login& login, uint8_t table, const std::string& image) {
  return Checked({cmd::kWriteTableRecord, Prefix(login) + U8(table) + image}, "the record's name",
                 RecordName(table, image));
}
// The name itself too: an image would drop what follows a NUL in it.
Request WriteCashier(const Login& login, const Cashier& c) {
  return Checked(WriteRecord(login, table::kCashiers, tables::cashierImage(c)), "the cashier's name", c.name);
}
Request WriteSection(const Login& login, const Section& s) {
  return Checked(WriteRecord(login, table::kSections, tables::sectionImage(s)), "the section's name", s.name);
}
Request WriteDiscount(const Login& login, const Discount& d) {
  return Checked(WriteRecord(login, table::kDiscounts, tables::discountImage(d)), "the discount's name", d.name);
}
Request SetSerialNumber(const Login& login, const std::string& digits) {
  return {cmd::kSetSerialNumber, Prefix(login) + digits};
}
Request Open(uint8_t open_command, const Login& login, const std::string& name) {
  return Checked({open_command, Prefix(login) + Counted(name)}, "the cashier's name", name);
}
Request OpenReceipt(const Login& login, uint8_t receipt_type, const std::string& name) {
  return Checked({cmd::kOpenReceipt, Prefix(login) + U8(receipt_type) + Counted(name)}, "the cashier's name", name);
}
Request Add(const TlvElement& element) {
  Request r{cmd::kAddDocumentData, element.encode()};
  if (const uint16_t bad = BadTextTag(element)) r.refused = Refusal("the text of element " + std::to_string(bad));
  return r;
}
Request CloseReceipt(int64_t cash, int64_t cashless) {
  return {cmd::kCloseReceipt, Fixed64(static_cast<uint64_t>(cash)) + Fixed64(static_cast<uint64_t>(cashless))};
}
Request CloseCash(uint8_t close_command, int64_t amount) {
  return {close_command, Fixed64(static_cast<uint64_t>(amount))};
}
Request CloseRegistration(const std::string& inn, const std::string& fn) {
  std::string i = inn.substr(0, identity::kInnSize), f = fn.substr(0, identity::kFnSize);
  i.resize(identity::kInnSize, '\0');
  f.resize(identity::kFnSize, '\0');
  return {cmd::kCloseRegistration, i + f};
}
Request Close(uint8_t close_command) { return {close_command, ""}; }
Request Cancel() { return {cmd::kCancelDocument, ""}; }
Request DocumentState() { return {cmd::kDocumentState, ""}; }
Request Totals(uint8_t command) { return {command, ""}; }
Request ControlTape(const Login& login, uint32_t from) {
  return {cmd::kControlTape, Prefix(login) + (from != 0 ? Fixed32(from) : "")};
}
Request Report(const Login& login, uint8_t kind) { return {cmd::kPrintReport, Prefix(login) + U8(kind)}; }
Request PeriodReport(const Login& login, uint32_t from, uint32_t to) {
  return {cmd::kPrintReport, Prefix(login) + U8(report::kPeriod) + Fixed32(from) + Fixed32(to)};
}
Request ShiftRangeReport(const Login& login, uint16_t first, uint16_t last) {
  return {cmd::kPrintReport, Prefix(login) + U8(report::kShiftRange) + Fixed16(first) + Fixed16(last)};
}
Request Copy(const Login& login, uint32_t number) { return {cmd::kPrintCopy, Prefix(login) + Fixed32(number)}; }
Request PrinterStatus() { return {cmd::kPrinterStatus, ""}; }
Request ReadPrinterSetting(const Login& login, uint8_t number) {
  return {cmd::kReadPrinterSetting, Prefix(login) + U8(number)};
}
Request WritePrinterSetting(const Login& login, uint8_t number, uint8_t value) {
  return {cmd::kWritePrinterSetting, Prefix(login) + U8(number) + U8(value)};
}
Request PrintText(uint8_t spacing, uint8_t align, uint8_t font, uint8_t flags, const std::string& text) {
  return Checked({cmd::kPrintText, U8(spacing) + U8(align) + U8(font) + U8(flags) + text}, "the text", text);
}
Request PrintRaw(const std::string& bytes) { return {cmd::kPrintRaw, bytes}; }
Request FeedAndCut() { return {cmd::kFeedAndCut, ""}; }

}  // namespace req

bool DecodeCloseReply(const std::string& d, CloseReply* out) {
  const size_t n = d.size();
  if (n != reply::kCloseBaseSize && n != reply::kCloseShiftSize && n != reply::kCloseCashSize &&
      n != reply::kCloseReceiptSize) {
    return false;
  }
  CloseReply c;
  c.number = util::GetFixed32(d, reply::kCloseNumberOffset);
  c.sign = util::GetFixed32(d, reply::kCloseSignOffset);
  c.time = util::GetFixed32(d, reply::kCloseTimeOffset);
  if (n > reply::kCloseBaseSize) {
    c.has_shift = true;
    c.shift = util::GetFixed16(d, reply::kCloseShiftOffset);
  }
  if (n == reply::kCloseCashSize) {
    c.has_drawer = true;
    c.drawer = Amount(d, reply::kCloseDrawerOffset);
  }
  if (n == reply::kCloseReceiptSize) {
    c.is_receipt = true;
    c.receipt = util::GetFixed16(d, reply::kCloseReceiptNumberOffset);
    c.total = Amount(d, reply::kCloseTotalOffset);
    c.change = Amount(d, reply::kCloseChangeOffset);
  }
  *out = c;
  return true;
}

bool DecodeMissingTag(const std::string& data, uint16_t* tag) {
  if (data.size() != reply::kMissingTagSize) return false;
  *tag = util::GetFixed16(data, 0);
  return true;
}

bool DecodeShiftStatus(const std::string& d, ShiftStatus* out) {
  if (d.size() != reply::kShiftStatusSize) return false;
  const std::string cycle = d.substr(reply::kShiftCycleOffset);
  ShiftStatus s;
  s.open = d[reply::kShiftOpenOffset] != 0;
  s.shift = util::GetFixed16(d, reply::kShiftNumberOffset);
  s.receipts = util::GetFixed16(d, reply::kShiftReceiptsOffset);
  s.open_document = util::GetFixed32(cycle, FrStatus::kShiftOpenDocumentOffset);
  s.open_time = util::GetFixed32(cycle, FrStatus::kShiftOpenTimeOffset);
  s.last_document = util::GetFixed32(cycle, FrStatus::kLastShiftDocumentOffset);
  s.close_time = util::GetFixed32(cycle, FrStatus::kShiftCloseTimeOffset);
  s.drawer = Amount(cycle, FrStatus::kCashInDrawerOffset);
  *out = s;
  return true;
}

bool DecodeDeviceStatus(const std::string& d, DeviceStatus* out) {
  if (d.size() != reply::kDeviceStatusSize) return false;
  const std::string r = d.substr(reply::kDeviceStatusRecordOffset);
  DeviceStatus s;
  s.serial = d.substr(0, reply::kSerialSize);
  s.flags = util::GetFixed16(r, FrStatus::kFlagsOffset);
  s.registrations = static_cast<uint8_t>(r[FrStatus::kRegistrationCountOffset]);
  s.constant = static_cast<uint8_t>(r[FrStatus::kConstantOffset]);
  s.shift = util::GetFixed16(r, FrStatus::kShiftNumberOffset);
  s.last_document = util::GetFixed32(r, FrStatus::kLastDocumentNumberOffset);
  s.last_time = static_cast<int32_t>(util::GetFixed32(r, FrStatus::kLastDocumentTimeOffset));
  s.receipts = util::GetFixed16(r, FrStatus::kReceiptsInShiftOffset);
  s.open_document = static_cast<uint8_t>(r[FrStatus::kOpenDocumentTypeOffset]);
  s.capacity = util::GetFixed32(r, FrStatus::kCapacityOffset);
  *out = s;
  return true;
}

std::vector<std::string> FlagNames(uint16_t flags) {
  static const struct {
    uint16_t mask;
    const char* name;
  } kNames[] = {
      {FrStatus::kArchivePresent, "archive storage present"},
      {FrStatus::kRegistered, "registered"},
      {FrStatus::kForeignArchive, "archive of another device"},
      {FrStatus::kShiftOpen, "shift open"},
      {FrStatus::kArchiveUsable, "archive usable"},
      {FrStatus::kArchiveClosed, "archive closed"},
      {FrStatus::kIdentityError, "identity error"},
      {FrStatus::kPrinterSilent, "printer not answering"},
      {FrStatus::kPaperNearEnd, "paper near end"},
      {FrStatus::kPaperOut, "paper out"},
  };
  std::vector<std::string> out;
  for (const auto& n : kNames)
    if (flags & n.mask) out.push_back(n.name);
  return out;
}

bool DecodeModelData(const std::string& d, ModelInfo* out) {
  if (d.size() != reply::kModelDataSize) return false;
  out->code = util::GetFixed16(d, identity::kModelCodeOffset);
  out->serial = Text(d.substr(identity::kSerialOffset, identity::kSerialSize));
  out->name = Text(d.substr(identity::kModelNameOffset, identity::kModelNameSize));
  return true;
}

bool DecodeDeviceKey(const std::string& d, std::string* key) {
  if (d.size() != reply::kDeviceKeySize ||
      d.compare(0, reply::kKeyHeaderSize, reply::kKeyHeader, reply::kKeyHeaderSize) != 0) {
    return false;
  }
  *key = d.substr(reply::kKeyHeaderSize);
  return true;
}

bool DecodeVersion(const std::string& d, std::string* text) {
  if (d.size() != reply::kVersionSize) return false;
  *text = std::to_string(static_cast<uint8_t>(d[0])) + "." + std::to_string(static_cast<uint8_t>(d[1])) + "." +
          std::to_string(static_cast<uint8_t>(d[2]));
  return true;
}

bool DecodeRegistrationField(const std::string& d, TlvElement* out) { return TlvElement::decode(d, out); }

bool DecodeTime(const std::string& d, uint32_t* t) {
  if (d.size() != 4) return false;
  *t = util::GetFixed32(d, 0);
  return true;
}

bool DecodeDocumentState(const std::string& d, DocumentState* out) {
  if (d.size() != 1 && d.size() != reply::kStateReceiptSize) return false;
  DocumentState s;
  s.type = static_cast<uint8_t>(d[reply::kStateTypeOffset]);
  if (d.size() == reply::kStateReceiptSize) {
    s.is_receipt = true;
    s.receipt_type = static_cast<uint8_t>(d[reply::kStateReceiptTypeOffset]);
    s.receipt_number = util::GetFixed16(d, reply::kStateReceiptNumberOffset);
    s.lines = util::GetFixed16(d, reply::kStateLinesOffset);
    s.total = Amount(d, reply::kStateTotalOffset);
  }
  *out = s;
  return true;
}

bool DecodeCashier(const std::string& d, Cashier* out) { return tables::parseCashierImage(d, out); }
bool DecodeSection(const std::string& d, Section* out) { return tables::parseSectionImage(d, out); }
bool DecodeDiscount(const std::string& d, Discount* out) { return tables::parseDiscountImage(d, out); }
bool DecodeShiftTotals(const std::string& d, ShiftCounters* out) { return out->fromStored(d); }
bool DecodeGrossTotals(const std::string& d, GrossCounters* out) { return out->fromStored(d); }
bool DecodeSectionTotals(const std::string& d, SectionTotals* out) { return out->parse(d); }

bool ParseTime(const std::string& text, uint32_t* t) {
  int y, mo, d, h, mi, s, n = 0;
  if (text.size() < 20 || std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &y, &mo, &d, &h, &mi, &s, &n) != 6 ||
      n != 19 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60 || y < 1970) {
    return false;
  }
  size_t at = 19;
  if (text[at] == '.') {  // fractions of a second are dropped
    ++at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
  }
  int64_t offset = 0;
  const std::string zone = text.substr(at);
  if (zone == "Z" || zone == "z") {
    offset = 0;
  } else {
    int oh, om, m = 0;
    if (zone.size() != 6 || (zone[0] != '+' && zone[0] != '-') ||
        std::sscanf(zone.c_str() + 1, "%2d:%2d%n", &oh, &om, &m) != 2 || m != 5 || oh > 23 || om > 59) {
      return false;
    }
    offset = (zone[0] == '-' ? -1 : 1) * (oh * 3600 + om * 60);
  }
  std::tm tm = {};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  const int64_t v = static_cast<int64_t>(TimeOfUtc(tm)) - offset;
  if (v < 0 || v > UINT32_MAX) return false;
  *t = static_cast<uint32_t>(v);
  return true;
}

std::string FormatTime(uint32_t t) {
  const time_t v = static_cast<time_t>(t);
  const std::tm tm = UtcOf(v);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buf;
}

std::string Decimal2(int64_t kopecks) {
  const bool negative = kopecks < 0;
  const uint64_t v = negative ? 0 - static_cast<uint64_t>(kopecks) : static_cast<uint64_t>(kopecks);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%s%llu.%02llu", negative ? "-" : "", static_cast<unsigned long long>(v / 100),
                static_cast<unsigned long long>(v % 100));
  return buf;
}

}  // namespace host
