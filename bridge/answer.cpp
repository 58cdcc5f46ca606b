#include "bridge/answer.h"

#include <algorithm>

#include "app/status_format.h"
#include "storage/tax_rate.h"
#include "util/cp866.h"

namespace bridge {

namespace {

// Totals blocks are kept by receipt type, 0 to 3.
const char* OperationName(size_t type) { return host::ReceiptTypeName(static_cast<uint8_t>(type)); }

json OperationJson(const OperationCounters& op) {
  json j = {{"receipts", op.receiptCount()}};
  PutAmount(&j, "total", op.total());
  PutAmount(&j, "cash", op.cash());
  PutAmount(&j, "cashless", op.cashless());
  if (op.hasTaxes()) {
    json taxes = json::array();
    for (size_t i = 0; i < 5; ++i) taxes.push_back(op.tax(i));
    j["taxes"] = taxes;
  }
  return j;
}

template <typename Record>
json RecordJson(const Record& r) {
  json j = {{"shift", r.shiftNumber()}, {"receipts", r.receiptCount()}};
  json in = {{"count", r.cashInCount()}}, out = {{"count", r.cashOutCount()}};
  PutAmount(&in, "sum", r.cashInSum());
  PutAmount(&out, "sum", r.cashOutSum());
  j["cash_in"] = in;
  j["cash_out"] = out;
  json ops = json::object();
  for (size_t t = 0; t < 4; ++t) ops[OperationName(t)] = OperationJson(r.block(t));
  j["operations"] = ops;
  return j;
}

}  // namespace

host::Document RequestedDocument(const Job& job, const host::Login& service) {
  host::Document doc;
  doc.type = InfoOf(job.action).document;
  doc.cashier = job.has_login ? job.login.cashier : service.cashier;
  if (job.has_login) doc.cashier_name = job.cashier_name;
  if (job.action == Action::kReceipt) {
    doc.receipt_type = job.receipt_type;
    doc.has_lines = true;
    doc.lines = job.lines;
    doc.cashless = job.cashless;
  }
  if (job.action == Action::kCashIn || job.action == Action::kCashOut) doc.amount = job.amount;
  return doc;
}

json DocumentJson(const std::string& register_name, const Job& job, const host::Login& service,
                  const host::CloseReply& c) {
  json j = host::DocumentJson(host::DocumentOfClose(RequestedDocument(job, service), c));
  j["register"] = register_name;
  return j;
}

json PreviewJson(const std::string& register_name, const Job& job, const host::ReceiptPreview& p) {
  json j = {{"register", register_name}, {"receipt_type", host::ReceiptTypeName(job.receipt_type)}};
  json lines = json::array();
  for (const host::PreviewLine& l : p.lines) {
    json line = json::object();
    PutAmount(&line, "cost", l.cost);
    PutAmount(&line, "discount", l.discount);
    PutAmount(&line, "amount", l.amount);
    PutAmount(&line, "tax", l.tax);
    lines.push_back(line);
  }
  j["lines"] = lines;
  json taxes = json::array();
  for (const host::PreviewTax& t : p.taxes) {
    json tax = {{"number", t.number}, {"name", util::Cp866ToUtf8(t.name)}};
    PutAmount(&tax, "amount", t.amount);
    taxes.push_back(tax);
  }
  j["taxes"] = taxes;
  PutAmount(&j, "total", p.total);
  PutAmount(&j, "change", p.change);
  j["refusal"] = nullptr;
  if (p.code != rc::kOk) {
    Problem refusal = RefusalProblem(p.code);
    refusal.pointer = p.line >= 0 ? "/lines/" + std::to_string(p.line) : p.lines.empty() ? "/type" : "/payment";
    j["refusal"] = ProblemJson(refusal);
  }
  return j;
}

json TaxRatesJson(const std::string& register_name, const std::vector<std::string>& images) {
  json rates = json::array();
  for (size_t i = 0; i < images.size(); ++i) {
    TaxRate rate;
    if (images[i].empty() || !rate.parse(images[i]) || !rate.isValid()) continue;
    rates.push_back({{"number", i + 1},
                     {"type", rate.type()},
                     {"rate", rate.rate()},
                     {"rate_decimal", host::Decimal2(rate.rate())},
                     {"name", util::Cp866ToUtf8(rate.name())}});
  }
  return {{"register", register_name}, {"tax_rates", rates}};
}

const char* PaperState(const StatusSnapshot& s) {
  if (!s.valid) return "unknown";
  if (s.device.flag(FrStatus::kPaperOut)) return "out";
  if (s.device.flag(FrStatus::kPaperNearEnd)) return "near-end";
  return "ready";
}

const char* PrinterState(const StatusSnapshot& s) {
  if (!s.valid) return "unknown";
  return s.device.flag(FrStatus::kPrinterSilent) ? "silent" : "ready";
}

json StatusJson(const std::string& register_name, bool online, const StatusSnapshot& s, int64_t now_ms) {
  json j = {{"register", register_name}, {"online", online}};
  // A refusal is cached too: its age says how long ago the register said so.
  if (s.taken_ms != 0) j["age_ms"] = std::max<int64_t>(0, now_ms - s.taken_ms);
  if (!s.valid) {
    if (s.refused != 0) {
      j["result_code"] = s.refused;
      j["result_meaning"] = rc::Meaning(s.refused);
    }
    return j;
  }
  const host::DeviceStatus& d = s.device;
  j["serial"] = d.serial;
  j["flags"] = host::FlagNames(d.flags);
  j["registrations"] = d.registrations;
  json shift = {{"open", s.shift.open}, {"number", d.shift}, {"receipts", d.receipts}};
  if (s.shift.open_time != 0) shift["opened"] = FormatTime(s.shift.open_time);
  if (s.shift.close_time != 0) shift["closed"] = FormatTime(s.shift.close_time);
  j["shift"] = shift;
  json last = {{"number", d.last_document}};
  if (d.last_time > 0) last["time"] = FormatTime(static_cast<uint32_t>(d.last_time));
  j["last_document"] = last;
  if (d.open_document != 0) {
    // Words joined by hyphens, as documents are named elsewhere in answers.
    std::string name =
        host::DocumentTypeName(d.open_document) != nullptr ? host::DocumentTypeName(d.open_document) : "unknown";
    std::replace(name.begin(), name.end(), ' ', '-');
    j["open_document"] = {{"type", name}};
  } else {
    j["open_document"] = nullptr;
  }
  PutAmount(&j, "drawer", s.shift.drawer);
  j["paper"] = PaperState(s);
  j["printer"] = PrinterState(s);
  j["capacity"] = d.capacity;
  return j;
}

void ApplyClose(Action action, const host::CloseReply& c, StatusSnapshot* s) {
  if (!s->valid) return;
  host::DeviceStatus& d = s->device;
  d.last_document = c.number;
  if (c.time != 0) d.last_time = static_cast<int32_t>(c.time);
  d.open_document = 0;
  if (c.has_shift) d.shift = c.shift;
  if (c.is_receipt) d.receipts = s->shift.receipts = c.receipt;
  if (c.has_drawer) s->shift.drawer = c.drawer;
  if (action == Action::kShiftOpen) {
    d.flags |= FrStatus::kShiftOpen;
    d.receipts = 0;
    s->shift = host::ShiftStatus{true, d.shift, 0, c.number, c.time, c.number, 0, s->shift.drawer};
  } else if (action == Action::kShiftClose) {
    d.flags &= static_cast<uint16_t>(~FrStatus::kShiftOpen);
    s->shift.open = false;
    s->shift.close_time = c.time;
  }
  if (s->shift.open) s->shift.last_document = c.number;
}

std::vector<std::string> StatusChanges(const StatusSnapshot& a, const StatusSnapshot& b) {
  std::vector<std::string> changed;
  if (a.valid != b.valid) return {"shift", "drawer", "paper", "printer", "open_document", "last_document"};
  if (!b.valid) return changed;
  if (a.shift.open != b.shift.open || a.device.shift != b.device.shift) changed.push_back("shift");
  if (a.shift.drawer != b.shift.drawer) changed.push_back("drawer");
  if (std::string(PaperState(a)) != PaperState(b)) changed.push_back("paper");
  if (std::string(PrinterState(a)) != PrinterState(b)) changed.push_back("printer");
  if (a.device.open_document != b.device.open_document) changed.push_back("open_document");
  if (a.device.last_document != b.device.last_document) changed.push_back("last_document");
  return changed;
}

bool TableRecordJson(uint8_t table, const std::string& data, json* out) {
  if (table == table::kCashiers) {
    Cashier c;
    if (!host::DecodeCashier(data, &c)) return false;
    // The password stays on the register.
    *out = {{"number", c.number}, {"name", util::Cp866ToUtf8(c.name)}, {"rights", c.rights}};
    return true;
  }
  if (table == table::kSections) {
    Section s;
    if (!host::DecodeSection(data, &s)) return false;
    *out = {{"number", s.number}, {"name", util::Cp866ToUtf8(s.name)}};
    return true;
  }
  Discount d;
  if (!host::DecodeDiscount(data, &d)) return false;
  const char* type = d.type == tables::kPercentDiscount ? "percent" : d.type == 0 ? "amount" : "empty";
  *out = {{"number", d.number}, {"type", type}, {"value", d.value}, {"name", util::Cp866ToUtf8(d.name)}};
  return true;
}

bool TotalsJson(uint8_t record, const std::string& data, json* out) {
  if (record == cmd::kShiftTotals || record == cmd::kRegistrationTotals) {
    ShiftCounters c;
    if (!host::DecodeShiftTotals(data, &c)) return false;
    *out = RecordJson(c);
    if (record == cmd::kShiftTotals) PutAmount(out, "drawer", c.cashInDrawer());
  } else if (record == cmd::kGrandTotals) {
    GrossCounters c;
    if (!host::DecodeGrossTotals(data, &c)) return false;
    *out = RecordJson(c);
  } else {
    SectionTotals t;
    if (!host::DecodeSectionTotals(data, &t)) return false;
    json ops = json::object();
    for (size_t type = 0; type < 4; ++type) {
      json sections = json::array();
      for (size_t s = 0; s < 20; ++s) sections.push_back(t.amount(type, s));
      ops[OperationName(type)] = sections;
    }
    *out = {{"operations", ops}};
  }
  (*out)["record"] = host::kTotalsRecords.Name(record);
  return true;
}

std::string Dump(const json& j) { return j.dump(-1, ' ', false, json::error_handler_t::replace); }

json ListingGaps(const std::vector<uint32_t>& numbers, uint32_t after, uint32_t last, bool complete) {
  json gaps = json::array();
  const uint32_t newest = numbers.empty() ? after : numbers.front();
  if (last > newest) gaps.push_back({newest + 1, last});
  for (size_t i = 0; i + 1 < numbers.size(); ++i) {
    if (numbers[i] > numbers[i + 1] + 1) gaps.push_back({numbers[i + 1] + 1, numbers[i] - 1});
  }
  if (complete && !numbers.empty() && numbers.back() > after + 1) gaps.push_back({after + 1, numbers.back() - 1});
  return gaps;
}

json ProblemJson(const Problem& p) {
  json j = {{"type", "urn:fr-bridge:problem:" + p.code},
            {"title", p.title},
            {"status", p.status},
            {"code", p.code},
            {"detail", p.detail}};
  if (!p.pointer.empty()) j["pointer"] = p.pointer;
  if (!p.register_name.empty()) j["register"] = p.register_name;
  if (p.result_code >= 0) {
    j["result_code"] = p.result_code;
    j["result_meaning"] = rc::Meaning(p.result_code);
  }
  return j;
}

}  // namespace bridge
