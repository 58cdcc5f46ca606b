#include "workers/reports_worker.h"

#include <ctime>
#include <memory>
#include <vector>

#include "app/codes.h"
#include "app/fr_status.h"
#include "app/identity.h"
#include "documents/receipt_doc.h"
#include "documents/registration_documents.h"
#include "documents/shift_documents.h"
#include "printer/render.h"
#include "printer/shared_blocks.h"
#include "storage/table_format.h"
#include "util/coding.h"
#include "util/cp866.h"
#include "workers/counters.h"

namespace {

// Rights bits: the tape needs sales, cash and returns, the others cash.
constexpr uint16_t kTapeRights = tables::kRightSales | tables::kRightCash | tables::kRightReturns;
constexpr uint16_t kReportRights = tables::kRightCash;

constexpr size_t kCopyPayloadSize = 4;
constexpr size_t kTapePayloadSize = 4;
constexpr size_t kPeriodArgsSize = 8;
constexpr size_t kShiftRangeArgsSize = 4;

// Documents 1 and 2 are at best the registration and the first shift open:
// no search needs them.
constexpr uint32_t kFirstSearched = 3;

std::string Cp(const char* utf8) { return util::Utf8ToCp866(utf8); }

PrintStyle TitleStyle() {
  PrintStyle style;
  style.set(PrintStyle::kCentre | PrintStyle::kBold);
  style.setFont(1);
  return style;
}

PrintStyle LineStyle() {
  PrintStyle style;
  style.set(PrintStyle::kMarker);
  style.setFont(1);
  return style;
}

std::string OneLine(const PrintStyle& style, const std::string& cp866, bool cut = false) {
  return printer::render(PrintBlock::fromText(style, cp866), cut);
}

uint8_t EntryType(const DocDescriptor& d) { return d.bytes[descriptor::kTypeOffset]; }
uint32_t EntryTime(const DocDescriptor& d) {
  return util::DecodeFixed32(d.bytes + descriptor::kDateTimeOffset);
}
uint16_t EntryShift(const DocDescriptor& d) {
  return util::DecodeFixed16(d.bytes + descriptor::kShiftNumberOffset);
}

bool IsCloseOf(const DocDescriptor& d, uint16_t shift) {
  return EntryShift(d) == shift && EntryType(d) == doc::kShiftClose;
}

// Stored amounts may be anything: summed unsigned, where wrap-around is defined.

}  // namespace

ReportsWorker::ReportsWorker(platform::Env* env, FiscalArchive* archive, PrinterLine* printer)
    : env_(env), archive_(archive), printer_(printer) {}

CoreApiResult ReportsWorker::handle(const CoreTransaction& t) {
  const uint8_t command = static_cast<uint8_t>(t.command);
  if (t.command != cmd::kControlTape && t.command != cmd::kPrintReport && t.command != cmd::kPrintCopy) {
    return CoreApiResult(rc::kUnknownCommand, t.id);
  }
  CashierPrefix prefix;
  Cashier cashier;
  int code = authorise(env_, t.data, &prefix, &cashier);
  if (code != rc::kOk) return CoreApiResult(code, t.id);
  const uint16_t needed = command == cmd::kControlTape ? kTapeRights : kReportRights;
  if ((cashier.rights & needed) != needed) return CoreApiResult(rc::kNoRight, t.id);
  const std::string& payload = prefix.rest;
  if ((command == cmd::kPrintReport && payload.empty()) ||
      (command == cmd::kPrintCopy && payload.size() != kCopyPayloadSize)) {
    return CoreApiResult(rc::kBadData, t.id);
  }
  code = printer_->statusCheck();
  if (code != rc::kOk) return CoreApiResult(code, t.id);
  switch (command) {
    case cmd::kControlTape:
      code = controlTape(payload);
      break;
    case cmd::kPrintReport:
      code = report(payload);
      break;
    default:
      code = copy(util::GetFixed32(payload, 0));
      break;
  }
  return CoreApiResult(code, t.id);
}

// ---- Printing ----

int ReportsWorker::print(const std::string& text) {
  return text.empty() ? rc::kOk : printer_->printJob(text);
}

int ReportsWorker::printTitle(const char* utf8) { return print(OneLine(TitleStyle(), Cp(utf8))); }

int ReportsWorker::printLine(const std::string& cp866) { return print(OneLine(LineStyle(), cp866)); }

int ReportsWorker::printRegistrationHeader() {
  return print(printer::render(registrationHeader(CoreIdentity::regData())));
}

int ReportsWorker::printClosing() {
  print(printer::render(taxpayerLines(CoreIdentity::regData(), false)));
  const ModelData model = CoreIdentity::modelData();
  return print(OneLine(LineStyle(), model.modelName() + "\t" + model.serialNumber(), true));
}

std::string ReportsWorker::formatTime(uint32_t t) const {
  struct tm tm = {};
  if (!env_->LocalTime(t, &tm)) return std::string();
  char text[64];
  const size_t n = strftime(text, sizeof(text), "%d.%m.%Y %H:%M:%S", &tm);
  return std::string(text, n);
}

// ---- Archive index ----

bool ReportsWorker::readEntry(uint32_t number, DocDescriptor* d) {
  return archive_ != nullptr && archive_->readDescriptor(number, d);
}

int ReportsWorker::shiftSearch(uint16_t shift, uint32_t lo, uint32_t hi, uint32_t* found) {
  DocDescriptor d;
  while (hi >= lo) {
    if (lo == hi) {
      *found = lo;
      return rc::kOk;
    }
    if (hi - lo == 1) {
      if (!readEntry(lo, &d)) return rc::kArchiveUnusable;
      *found = IsCloseOf(d, shift) ? lo : hi;
      return rc::kOk;
    }
    const uint32_t m = lo + (hi - lo) / 2;  // (lo + hi) / 2 without overflow
    if (!readEntry(m, &d)) return rc::kArchiveUnusable;
    if (shift >= EntryShift(d)) {
      lo = m;
    } else {
      hi = m;
    }
    if (IsCloseOf(d, shift)) {
      *found = m;
      return rc::kOk;
    }
  }
  return rc::kNotFound;
}

int ReportsWorker::timeSearch(uint32_t t, bool upper, uint32_t lo, uint32_t hi, uint32_t* found) {
  DocDescriptor d;
  while (hi >= lo) {
    if (lo == hi) {
      *found = lo;
      return rc::kOk;
    }
    if (hi - lo == 1) {
      if (!readEntry(upper ? lo : hi, &d)) return rc::kArchiveUnusable;
      if (upper) {
        *found = EntryTime(d) < t ? hi : lo;
      } else {
        *found = t < EntryTime(d) ? lo : hi;
      }
      return rc::kOk;
    }
    const uint32_t m = lo + (hi - lo) / 2;
    if (!readEntry(m, &d)) return rc::kArchiveUnusable;
    if (t < EntryTime(d)) {
      hi = m;
    } else {
      lo = m;
    }
  }
  return rc::kNotFound;
}

int ReportsWorker::rangeTotals(uint32_t first, uint32_t last) {
  GrossCounters sum;
  bool found = false;
  // 64-bit, so that a last of 0xFFFFFFFF still ends; entries past the index fail anyway.
  for (uint64_t n = first; n <= last; ++n) {
    DocDescriptor d;
    if (!readEntry(static_cast<uint32_t>(n), &d)) return rc::kArchiveUnusable;
    if (EntryType(d) != doc::kShiftClose) continue;
    std::shared_ptr<BaseWorkDocument> document;
    const int code = archive_->readDocument(static_cast<uint32_t>(n), &document);
    if (code != rc::kOk) return code;
    const auto* z = dynamic_cast<const CloseCycleDoc*>(document.get());
    if (z == nullptr || z->shiftCounters() == nullptr) continue;
    AddShiftToRange(*z->shiftCounters(), &sum);
    found = true;
  }
  if (!found) return rc::kNotFound;
  return print(grossTotalsText(&sum));
}

// ---- Command 177 ----

int ReportsWorker::report(const std::string& payload) {
  const uint8_t kind = static_cast<uint8_t>(payload[0]);
  if (kind < report::kXReport || kind > report::kShiftRange) return rc::kWrongDocumentType;
  const size_t args = payload.size() - 1;
  if ((kind == report::kPeriod && args != kPeriodArgsSize) ||
      (kind == report::kShiftRange && args != kShiftRangeArgsSize)) {
    return rc::kBadData;
  }
  int code =
      kind == report::kXReport ? FrStatus::check(FrStatus::Check::H, env_->Now()) : FrStatus::readiness();
  if (code != rc::kOk) return code;
  if (FrStatus::shiftNumber() == 0) return rc::kNotFound;
  if (archive_ == nullptr) return rc::kArchiveUnusable;

  const RegData reg = CoreIdentity::regData();
  switch (kind) {
    case report::kXReport:
    case report::kSectionXReport:
      return xReport(kind == report::kSectionXReport);
    case report::kPeriod:
      return periodReport(util::GetFixed32(payload, 1), util::GetFixed32(payload, 5));
    case report::kShiftRange:
      return shiftRangeReport(util::GetFixed16(payload, 1), util::GetFixed16(payload, 3));
    case report::kRegistrationTotals: {
      ShiftCounters c;
      if (!archive_->readRegistrationCounters(&c)) return rc::kArchiveUnusable;
      code = printRegistrationHeader();
      if (code == rc::kOk) code = print(shiftTotalsText(false, &c, reg));
      break;
    }
    default: {
      GrossCounters c;
      if (!archive_->readGrossCounters(&c)) return rc::kArchiveUnusable;
      code = printRegistrationHeader();
      if (code == rc::kOk) code = print(grossTotalsText(&c));
      break;
    }
  }
  return code != rc::kOk ? code : printClosing();
}

int ReportsWorker::xReport(bool with_sections) {
  int code = printRegistrationHeader();
  if (code != rc::kOk) return code;
  printTitle("X-Отчет");
  printLine(Cp("СМЕНА\t") + std::to_string(FrStatus::shiftNumber()));
  printLine(Cp("ОТКРЫТА\t") + formatTime(FrStatus::shiftOpenTime()));
  if (with_sections && !FrStatus::testFlags(FrStatus::kShiftOpen)) {
    printLine(Cp("ЗАКРЫТА\t") + formatTime(FrStatus::shiftCloseTime()));
  }
  ShiftCounters shift;
  if (!archive_->readShiftCounters(&shift)) return rc::kArchiveUnusable;
  code = print(shiftTotalsText(true, &shift, CoreIdentity::regData()));
  if (code != rc::kOk) return code;
  if (with_sections) {
    std::string image;
    SectionTotals sections;
    if (!archive_->readSectionTotals(counters::kTypeCount, &image) || !sections.parse(image)) {
      return rc::kArchiveUnusable;
    }
    code = print(sectionTotalsText(&sections, counters::kTypeCount));
    if (code != rc::kOk) return code;
  }
  return printClosing();
}

int ReportsWorker::periodReport(uint32_t a, uint32_t b) {
  const uint32_t from = a < b ? a : b;
  const uint32_t to = a < b ? b : a;
  // The status keeps the time signed; documents keep it unsigned, as here.
  const uint32_t last_time = static_cast<uint32_t>(FrStatus::lastDocumentTime());
  if (from == to || from >= last_time) return rc::kNotFound;
  const uint32_t last_document = FrStatus::lastDocumentNumber();
  uint32_t first = 0;
  int code = timeSearch(from, false, kFirstSearched, last_document, &first);
  if (code != rc::kOk) return code;
  uint32_t last = last_document;
  if (to < last_time) {
    code = timeSearch(to, true, first, last_document, &last);
    if (code != rc::kOk) return code;
  }
  if (last < first) return rc::kNotFound;

  code = printRegistrationHeader();
  if (code != rc::kOk) return code;
  printTitle("ОТЧЕТ ЗА ПЕРИОД");
  printLine(Cp("С  ") + formatTime(from) + Cp("\tПО ") + formatTime(to));
  code = rangeTotals(first, last);
  return code != rc::kOk ? code : printClosing();
}

int ReportsWorker::shiftRangeReport(uint16_t a, uint16_t b) {
  uint32_t from = a < b ? a : b;
  uint32_t to = a < b ? b : a;
  const uint32_t last_document = FrStatus::lastDocumentNumber();
  uint32_t first = 0;
  uint32_t last = 0;
  int code = rc::kOk;
  if (from == to) {
    code = shiftSearch(static_cast<uint16_t>(from), kFirstSearched, last_document, &first);
    if (code != rc::kOk) return code;
    last = first;
  } else {
    if (from < 2) {
      first = kFirstSearched;  // from the first shift on
      from = 1;
    } else {
      code = shiftSearch(static_cast<uint16_t>(from), kFirstSearched, last_document, &first);
      if (code != rc::kOk) return code;
    }
    const uint32_t current = FrStatus::shiftNumber();
    if (to < current) {
      code = shiftSearch(static_cast<uint16_t>(to), first, last_document, &last);
      if (code != rc::kOk) return code;
    } else {
      // The open shift has no close yet: the range ends at the one before it.
      last = FrStatus::lastShiftDocument();
      to = FrStatus::testFlags(FrStatus::kShiftOpen) ? current - 1 : current;  // current >= 1 here
    }
    if (to < from) return rc::kNotFound;
  }

  code = printRegistrationHeader();
  if (code != rc::kOk) return code;
  printTitle("ОТЧЕТ ПО ДИАПАЗОНУ СМЕН");
  printLine(Cp("СМЕНЫ С  ") + std::to_string(from) + Cp("\tПО ") + std::to_string(to));
  code = rangeTotals(first, last);
  return code != rc::kOk ? code : printClosing();
}

// ---- Command 58 ----

int ReportsWorker::controlTape(const std::string& payload) {
  const uint32_t from = payload.size() == kTapePayloadSize ? util::GetFixed32(payload, 0) : 0;
  int code = FrStatus::check(FrStatus::Check::H, env_->Now());
  if (code != rc::kOk) return code;
  const uint32_t opening = FrStatus::shiftOpenDocument();
  const bool continued = opening < from;
  const uint64_t start = continued ? from : static_cast<uint64_t>(opening) + 1;
  const uint32_t last = FrStatus::lastDocumentNumber();
  if (last < start) return rc::kNotFound;
  if (archive_ == nullptr) return rc::kArchiveUnusable;

  code = printRegistrationHeader();
  if (code != rc::kOk) return code;
  printTitle("КОНТРОЛЬНАЯ ЛЕНТА");
  // The head of the tape keeps the title style.
  if (continued) {
    print(OneLine(TitleStyle(), Cp("(ПРОДОЛЖЕНИЕ)")));
  } else {
    print(OneLine(TitleStyle(), Cp("СМЕНА\t") + std::to_string(FrStatus::shiftNumber())));
    print(OneLine(TitleStyle(), Cp("ОТКРЫТА\t") + formatTime(FrStatus::shiftOpenTime())));
    ShiftCounters shift;
    if (!archive_->readShiftCounters(&shift)) return rc::kArchiveUnusable;
    code = print(shiftTotalsText(true, &shift, CoreIdentity::regData()));
    if (code != rc::kOk) return code;
  }
  for (uint64_t n = start; n <= last; ++n) {
    DocDescriptor d;
    if (!readEntry(static_cast<uint32_t>(n), &d)) return rc::kArchiveUnusable;
    if (EntryType(d) != doc::kReceipt) continue;
    std::shared_ptr<BaseWorkDocument> document;
    code = archive_->readDocument(static_cast<uint32_t>(n), &document);
    if (code != rc::kOk) return code;
    const auto* receipt = dynamic_cast<const ReceiptDoc*>(document.get());
    if (receipt == nullptr) continue;
    code = print(printer::render(receipt->journalHead()));
    for (size_t i = 0; code == rc::kOk && i < receipt->lines().size(); ++i) {
      code = print(printer::render(receipt->lines()[i].printedForm()));
    }
    if (code == rc::kOk) code = print(printer::render(receipt->journalTotals()));
    if (code != rc::kOk) return code;
  }
  return printClosing();
}

// ---- Command 178 ----

int ReportsWorker::copy(uint32_t number) {
  if (archive_ == nullptr) return rc::kArchiveUnusable;
  std::shared_ptr<BaseWorkDocument> document;
  const int code = archive_->readDocument(number, &document);
  if (code != rc::kOk) return code;
  if (!document) return rc::kArchiveUnusable;
  std::vector<std::string> jobs;
  const int made = CopyJobs(document.get(), CoreIdentity::deviceKey(), &jobs);
  if (made != rc::kOk) return made;
  int last = rc::kOk;
  for (const std::string& job : jobs) last = print(job);
  return last;
}

int CopyJobs(BaseWorkDocument* document, const std::string& device_key, std::vector<std::string>* jobs) {
  std::string opening;
  std::vector<std::string> body;
  switch (document->type()) {
    case doc::kFiscalisation: {
      auto* report = dynamic_cast<FiscalizationDocument*>(document);
      if (report == nullptr) return rc::kNotFilled;
      // Its header prints only from a valid registration: the copy read back
      // gets its check value made again from the device key.
      report->recomputeCheckValue(device_key);
      opening = report->headerText();
      body.push_back(report->reportText());
      break;
    }
    case doc::kShiftClose: {
      const auto* z = dynamic_cast<const CloseCycleDoc*>(document);
      if (z == nullptr) return rc::kNotFilled;
      body.push_back(z->reportText());
      break;
    }
    case doc::kReceipt: {
      const auto* receipt = dynamic_cast<const ReceiptDoc*>(document);
      if (receipt == nullptr) return rc::kNotFilled;
      for (const ReceiptOperation& line : receipt->lines())
        body.push_back(printer::render(line.printedForm()));
      break;
    }
    case doc::kArchiveClose: {
      const auto* report = dynamic_cast<const ArchiveCloseDoc*>(document);
      if (report == nullptr) return rc::kNotFilled;
      body.push_back(report->reportText());
      break;
    }
    default:
      break;
  }
  if (document->type() != doc::kFiscalisation) opening = printer::render(document->printHeader());
  jobs->clear();
  jobs->push_back(opening);
  jobs->push_back(OneLine(TitleStyle(), Cp("(КОПИЯ)")));
  for (const std::string& text : body) jobs->push_back(text);
  jobs->push_back(printer::render(document->printFooter(true)));
  return rc::kOk;
}
