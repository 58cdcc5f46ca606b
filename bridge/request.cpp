#include "bridge/request.h"

#include <cstdio>
#include <ctime>
#include <set>

#include <nlohmann/json.hpp>

#include "app/codes.h"
#include "documents/receipt_doc.h"
#include "documents/receipt_operation.h"
#include "documents/registration_documents.h"
#include "documents/shift_documents.h"
#include "documents/tlv_tags.h"
#include "storage/tax_rate.h"
#include "util/cp866.h"

namespace bridge {

using nlohmann::json;

namespace {

constexpr ActionInfo kActions[] = {
    // action, name, admin, key required, changes state, document, needs cashier, prints
    {Action::kReceipt, "receipt", false, true, true, doc::kReceipt, true, false},
    {Action::kCancel, "cancel", false, false, true, 0, false, false},
    {Action::kShiftOpen, "shift-open", false, true, true, doc::kShiftOpen, true, false},
    {Action::kShiftClose, "shift-close", false, true, true, doc::kShiftClose, true, false},
    {Action::kCashIn, "cash-in", false, true, true, doc::kCashIn, true, false},
    {Action::kCashOut, "cash-out", false, true, true, doc::kCashOut, true, false},
    {Action::kReport, "report", false, false, true, 0, true, true},
    {Action::kCopy, "copy", false, false, true, 0, true, true},
    {Action::kReadTable, "read-table", true, false, false, 0, false, false},
    {Action::kWriteTable, "write-table", true, false, true, 0, false, false},
    {Action::kReadClock, "read-clock", false, false, false, 0, false, false},
    {Action::kSetClock, "set-clock", true, false, true, 0, false, false},
    {Action::kSetSerial, "set-serial", true, false, true, 0, false, false},
    {Action::kRegistration, "registration", true, true, true, doc::kFiscalisation, false, false},
    {Action::kTotals, "totals", false, false, false, 0, false, false},
    {Action::kPreview, "receipt-preview", false, false, false, 0, false, false},
    {Action::kTaxRates, "tax-rates", false, false, false, 0, false, false},
};

const struct {
  const char* slug;
  uint8_t table;
} kTables[] = {{"cashiers", table::kCashiers}, {"sections", table::kSections}, {"discounts", table::kDiscounts}};

// Reads the fields of one JSON object, remembering where it is, and fails
// with the first bad field's pointer.
class Fields {
 public:
  Fields(const json& j, std::string at, Problem* problem) : j_(j), at_(std::move(at)), problem_(problem) {}

  // False (with the problem set) when it is not an object or has a field
  // outside `allowed`.
  bool Only(std::initializer_list<const char*> allowed) {
    if (!j_.is_object()) return Fail(at_, "must be an object");
    const std::set<std::string> names(allowed.begin(), allowed.end());
    for (auto it = j_.begin(); it != j_.end(); ++it) {
      if (names.count(it.key()) == 0) return Fail(Pointer(it.key()), "is not a field of this request");
    }
    return true;
  }
  bool Has(const char* name) const { return j_.contains(name); }

  bool Int(const char* name, int64_t min, int64_t max, int64_t* out, bool required = true) {
    if (!j_.contains(name)) return required ? Fail(Pointer(name), "is required") : true;
    const json& v = j_[name];
    if (!v.is_number_integer()) return Fail(Pointer(name), "must be an integer");
    if (v.is_number_unsigned() ? v.get<uint64_t>() > static_cast<uint64_t>(max) : v.get<int64_t>() > max) {
      return Fail(Pointer(name), "must be at most " + std::to_string(max));
    }
    // The JSON library keeps every integer from 0 up as unsigned.
    if (v.is_number_unsigned() ? min > 0 && v.get<uint64_t>() < static_cast<uint64_t>(min) : v.get<int64_t>() < min) {
      return Fail(Pointer(name), "must be at least " + std::to_string(min));
    }
    *out = v.get<int64_t>();
    return true;
  }
  template <typename T>
  bool Small(const char* name, int64_t min, int64_t max, T* out, bool required = true) {
    int64_t v = static_cast<int64_t>(*out);
    if (!Int(name, min, max, &v, required)) return false;
    *out = static_cast<T>(v);
    return true;
  }
  bool Text(const char* name, size_t max_chars, std::string* cp866, bool required = true) {
    if (!j_.contains(name)) return required ? Fail(Pointer(name), "is required") : true;
    return TextAt(j_[name], Pointer(name), max_chars, cp866);
  }
  // A UTF-8 text of 1 to max_chars characters, out in CP866. Every text the
  // bridge takes comes through here, so the host library's text rule is
  // kept: a control character is refused before anything is sent.
  bool TextAt(const json& v, const std::string& pointer, size_t max_chars, std::string* cp866) {
    if (!v.is_string()) return Fail(pointer, "must be a string");
    const std::string& s = v.get_ref<const std::string&>();
    size_t chars = 0;
    for (unsigned char c : s) chars += (c & 0xC0) != 0x80;
    if (chars == 0) return Fail(pointer, "must not be empty");
    if (chars > max_chars) return Fail(pointer, "must be at most " + std::to_string(max_chars) + " characters");
    std::string converted = util::Utf8ToCp866(s);
    if (!host::PrintableText(converted)) {
      return Fail(pointer, "must not hold control characters (line breaks, tabs, NUL, ESC, DEL)");
    }
    *cp866 = std::move(converted);
    return true;
  }
  bool Time(const char* name, uint32_t* out) {
    if (!j_.contains(name)) return Fail(Pointer(name), "is required");
    const json& v = j_[name];
    if (!v.is_string() || !ParseTime(v.get<std::string>(), out)) {
      return Fail(Pointer(name), "must be an RFC 3339 time such as 2035-01-02T10:00:00Z");
    }
    return true;
  }
  const json& at(const char* name) const { return j_[name]; }
  std::string Pointer(const std::string& name) const { return at_ + "/" + name; }
  bool Fail(const std::string& pointer, const std::string& what) {
    *problem_ = MakeProblem(400, "request.invalid", (pointer.empty() ? "the body" : pointer) + " " + what, pointer);
    return false;
  }

 private:
  const json& j_;
  const std::string at_;
  Problem* problem_;
};

// Deeper nesting than any request has is refused before parsing.
bool TooDeep(const std::string& body) {
  size_t depth = 0;
  bool in_string = false;
  for (size_t i = 0; i < body.size(); ++i) {
    const char c = body[i];
    if (in_string) {
      if (c == '\\')
        ++i;
      else if (c == '"')
        in_string = false;
    } else if (c == '"') {
      in_string = true;
    } else if (c == '{' || c == '[') {
      if (++depth > kMaxDepth) return true;
    } else if ((c == '}' || c == ']') && depth > 0) {
      --depth;
    }
  }
  return false;
}

bool DecodeCashier(Fields& f, Job* job, Problem* problem) {
  if (!f.Has("cashier")) return true;
  Fields c(f.at("cashier"), f.Pointer("cashier"), problem);
  if (!c.Only({"number", "password", "name"}) ||
      !c.Small("number", 1, tables::kServiceCashierNumber, &job->login.cashier) ||
      !c.Small("password", 0, 99999999, &job->login.password)) {
    return false;
  }
  job->cashier_name.clear();
  if (!c.Text("name", kMaxCashierName, &job->cashier_name, false)) return false;
  if (job->cashier_name.empty()) job->cashier_name = util::Utf8ToCp866("Кассир " + std::to_string(job->login.cashier));
  job->has_login = true;
  return true;
}

bool DecodeLine(const json& j, const std::string& at, host::Line* l, Problem* problem) {
  Fields f(j, at, problem);
  constexpr size_t kText = ReceiptOperation::kMaxTextSize - 1, kUnit = ReceiptOperation::kMaxUnitSize - 1;
  if (!f.Only({"name", "price", "quantity", "tax", "section", "discount", "discount_amount", "code", "unit",
               "extra_text"}) ||
      !f.Text("name", kText, &l->name) || !f.Int("price", 0, receipt::kMaxIncomingTotal, &l->price) ||
      !f.Small("tax", 1, 5, &l->tax) || !f.Small("section", 1, 20, &l->section, false) ||
      !f.Small("discount", 1, 20, &l->discount, false) ||
      !f.Int("discount_amount", 1, receipt::kMaxIncomingTotal, &l->discount_amount, false) ||
      !f.Text("code", kText, &l->code, false) || !f.Text("unit", kUnit, &l->unit, false) ||
      !f.Text("extra_text", kText, &l->extra, false)) {
    return false;
  }
  // The register takes an amount off only where no discount table applies.
  if (l->discount != 0 && l->discount_amount != 0) {
    return f.Fail(f.Pointer("discount_amount"), "cannot be given with a discount table");
  }
  if (!f.Has("quantity")) return f.Fail(f.Pointer("quantity"), "is required");
  const json& q = f.at("quantity");
  const bool ok = q.is_string()            ? host::ParseQuantity(q.get<std::string>(), l)
                  : q.is_number_unsigned() ? host::ParseQuantity(std::to_string(q.get<uint64_t>()), l)
                                           : false;
  if (!ok) return f.Fail(f.Pointer("quantity"), "must be a decimal such as \"1.5\" (up to 9 places) or an integer");
  // The line's amount must stay within what a receipt may hold.
  __int128 amount = static_cast<__int128>(l->price) * l->quantity;
  for (int i = 0; i < l->places; ++i) amount /= 10;
  if (amount > receipt::kMaxIncomingTotal) return f.Fail(f.Pointer("quantity"), "makes the line's amount too large");
  return true;
}

bool DecodeReceipt(Fields& f, Job* job, Problem* problem) {
  if (!f.Only({"type", "cashier", "lines", "payment"})) return false;
  if (!f.Has("type") || !f.at("type").is_string() ||
      !host::kReceiptTypes.Code(f.at("type").get<std::string>(), &job->receipt_type)) {
    return f.Fail(f.Pointer("type"), "must be one of " + host::kReceiptTypes.List());
  }
  if (!f.Has("lines") || !f.at("lines").is_array()) return f.Fail(f.Pointer("lines"), "must be an array of lines");
  const json& lines = f.at("lines");
  if (lines.empty()) return f.Fail(f.Pointer("lines"), "must hold at least one line");
  if (lines.size() > kMaxLines)
    return f.Fail(f.Pointer("lines"), "must hold at most " + std::to_string(kMaxLines) + " lines");
  for (size_t i = 0; i < lines.size(); ++i) {
    host::Line l;
    if (!DecodeLine(lines[i], f.Pointer("lines") + "/" + std::to_string(i), &l, problem)) return false;
    job->lines.push_back(l);
  }
  if (!f.Has("payment")) return f.Fail(f.Pointer("payment"), "is required");
  Fields pay(f.at("payment"), f.Pointer("payment"), problem);
  return pay.Only({"cash", "cashless"}) && pay.Int("cash", 0, receipt::kMaxIncomingTotal, &job->cash, false) &&
         pay.Int("cashless", 0, receipt::kMaxIncomingTotal, &job->cashless, false);
}

bool DecodeTableRecord(Fields& f, Job* job, Problem* problem) {
  switch (job->table) {
    case table::kCashiers: {
      if (!f.Only({"cashier", "name", "password", "rights"})) return false;
      Cashier& c = job->cashier_record;
      c.number = job->record;
      return f.Text("name", 255, &c.name) && f.Small("password", 1, 99999999, &c.password) &&
             f.Small("rights", 0, 0xFFFF, &c.rights);
    }
    case table::kSections:
      job->section_record.number = job->record;
      return f.Only({"cashier", "name"}) && f.Text("name", 126, &job->section_record.name);
    default: {
      if (!f.Only({"cashier", "type", "value", "name"})) return false;
      Discount& d = job->discount_record;
      d.number = job->record;
      const json* type = f.Has("type") ? &f.at("type") : nullptr;
      if (type == nullptr || !type->is_string() || (*type != "percent" && *type != "amount" && *type != "empty")) {
        return f.Fail(f.Pointer("type"), "must be percent, amount or empty");
      }
      d.type = *type == "percent" ? tables::kPercentDiscount : *type == "amount" ? 0 : tables::kEmptyDiscountType;
      return f.Int("value", 0, receipt::kMaxIncomingTotal, &d.value, d.type != tables::kEmptyDiscountType) &&
             f.Text("name", 127, &d.name, false);
    }
  }
}

bool DecodeRegistration(Fields& f, Job* job, Problem* problem) {
  if (!f.Only({"cashier", "inn", "fn", "texts", "tax_rates"})) return false;
  for (const auto& [name, size, out] :
       {std::make_tuple("inn", size_t{12}, &job->inn), std::make_tuple("fn", size_t{16}, &job->fn)}) {
    if (!f.Has(name) || !f.at(name).is_string() || f.at(name).get<std::string>().empty() ||
        f.at(name).get<std::string>().size() > size ||
        f.at(name).get<std::string>().find_first_not_of("0123456789") != std::string::npos) {
      return f.Fail(f.Pointer(name), "must be 1 to " + std::to_string(size) + " digits");
    }
    *out = f.at(name).get<std::string>();
  }
  static const uint16_t kTextTags[] = {tag::kFirstRegText, tag::kSecondRegText, tag::kThirdRegText};
  if (f.Has("texts")) {
    const json& texts = f.at("texts");
    if (!texts.is_array() || texts.size() > 3) return f.Fail(f.Pointer("texts"), "must be an array of up to 3 texts");
    for (size_t i = 0; i < texts.size(); ++i) {
      std::string cp866;
      if (!f.TextAt(texts[i], f.Pointer("texts") + "/" + std::to_string(i), regdoc::kMaxTextSize, &cp866)) {
        return false;
      }
      job->elements.push_back(TlvElement::fromString(kTextTags[i], cp866));
    }
  }
  if (f.Has("tax_rates")) {
    const json& rates = f.at("tax_rates");
    if (!rates.is_array() || rates.size() > 5)
      return f.Fail(f.Pointer("tax_rates"), "must be an array of up to 5 tax rates");
    for (size_t i = 0; i < rates.size(); ++i) {
      Fields r(rates[i], f.Pointer("tax_rates") + "/" + std::to_string(i), problem);
      host::TaxRateSetting t;
      uint8_t number = 0;
      if (!r.Only({"number", "type", "rate", "name"}) || !r.Small("number", 1, 5, &number) ||
          !r.Small("type", 0, 2, &t.type) || !r.Small("rate", 0, TaxRate::kMaxRate, &t.rate) ||
          !r.Text("name", 30, &t.name)) {
        return false;
      }
      t.index = static_cast<uint8_t>(number - 1);
      job->elements.push_back(host::TaxRateElement(t));
    }
  }
  return true;
}

bool DecodeBody(const json& body, Job* job, Problem* problem) {
  Fields f(body, "", problem);
  if (!body.is_object()) return f.Fail("", "must be a JSON object");
  if (InfoOf(job->action).needs_cashier && !f.Has("cashier")) return f.Fail("/cashier", "is required");
  if (!DecodeCashier(f, job, problem)) return false;
  switch (job->action) {
    case Action::kReceipt:
    case Action::kPreview: return DecodeReceipt(f, job, problem);
    case Action::kShiftOpen:
    case Action::kShiftClose: return f.Only({"cashier"});
    case Action::kCashIn:
    case Action::kCashOut:
      return f.Only({"cashier", "amount"}) && f.Int("amount", 1, shiftdoc::kMaxCashIn, &job->amount);
    case Action::kCancel:
    case Action::kReadTable:
    case Action::kReadClock:
    case Action::kTaxRates:
    case Action::kTotals: return f.Only({});
    case Action::kReport:
      if (job->report == report::kPeriod) {
        return f.Only({"cashier", "from", "to"}) && f.Time("from", &job->from) && f.Time("to", &job->to);
      }
      if (job->report == report::kShiftRange) {
        return f.Only({"cashier", "first", "last"}) && f.Small("first", 1, 0xFFFF, &job->from) &&
               f.Small("last", 1, 0xFFFF, &job->to);
      }
      if (job->report == host::kControlTape)
        return f.Only({"cashier", "from"}) && f.Small("from", 0, UINT32_MAX, &job->from, false);
      return f.Only({"cashier"});
    case Action::kCopy: return f.Only({"cashier", "number"}) && f.Small("number", 1, UINT32_MAX, &job->number);
    case Action::kWriteTable: return DecodeTableRecord(f, job, problem);
    case Action::kSetClock: return f.Only({"cashier", "time"}) && f.Time("time", &job->time);
    case Action::kSetSerial:
      if (!f.Only({"cashier", "serial"})) return false;
      if (!f.Has("serial") || !f.at("serial").is_string() || f.at("serial").get<std::string>().size() != 10 ||
          f.at("serial").get<std::string>().find_first_not_of("0123456789") != std::string::npos) {
        return f.Fail("/serial", "must be 10 digits");
      }
      job->serial = f.at("serial").get<std::string>();
      return true;
    case Action::kRegistration: return DecodeRegistration(f, job, problem);
  }
  return false;
}

}  // namespace

Problem MakeProblem(int status, const std::string& code, const std::string& detail, const std::string& pointer) {
  Problem p;
  p.status = status;
  p.code = code;
  p.detail = detail;
  p.pointer = pointer;
  switch (status) {
    case 400: p.title = "Bad request"; break;
    case 401: p.title = "Token required"; break;
    case 403: p.title = "Not allowed"; break;
    case 404: p.title = "Not found"; break;
    case 409: p.title = "Conflict"; break;
    case 422: p.title = "Refused by the register"; break;
    case 503: p.title = "Register offline"; break;
    case 504: p.title = "Outcome not settled yet"; break;
    default: p.title = "Bridge error"; break;
  }
  return p;
}

Problem RefusalProblem(int result_code) {
  Problem p = MakeProblem(
      result_code == rc::kDocumentOpen ? 409 : 422, std::string("register.") + rc::Name(result_code),
      std::string("the register answered ") + std::to_string(result_code) + ": " + rc::Meaning(result_code));
  p.result_code = result_code;
  return p;
}

bool ActionByName(const std::string& name, Action* out) {
  for (const ActionInfo& a : kActions) {
    if (name == a.name) {
      *out = a.action;
      return true;
    }
  }
  return false;
}

const ActionInfo& InfoOf(Action action) { return kActions[static_cast<size_t>(action)]; }

bool DecodeJob(Action action, const std::string& segment, const std::string& record, const std::string& body, Job* job,
               Problem* problem) {
  *job = Job();
  job->action = action;
  job->login = host::Login();
  if (action == Action::kReport) {
    if (!host::kReportKinds.Code(segment, &job->report)) {
      *problem = MakeProblem(404, "route.not-found", "no report " + segment);
      return false;
    }
  }
  if (action == Action::kTotals) {
    if (!host::kTotalsRecords.Code(segment, &job->totals)) {
      *problem = MakeProblem(404, "route.not-found", "no totals record " + segment);
      return false;
    }
  }
  if (action == Action::kReadTable || action == Action::kWriteTable) {
    for (const auto& t : kTables) {
      if (segment == t.slug) job->table = t.table;
    }
    const bool number_ok = !record.empty() && record.size() <= 2 &&
                           record.find_first_not_of("0123456789") == std::string::npos && std::stoi(record) >= 1 &&
                           std::stoi(record) <= 20;
    if (job->table == 0 || !number_ok) {
      *problem = MakeProblem(404, "route.not-found", "tables are cashiers, sections and discounts, records 1 to 20");
      return false;
    }
    job->record = static_cast<uint8_t>(std::stoi(record));
  }
  if (body.size() > kMaxBodyBytes) {
    *problem =
        MakeProblem(400, "request.too-large", "a body may have at most " + std::to_string(kMaxBodyBytes) + " bytes");
    return false;
  }
  const bool empty = body.find_first_not_of(" \t\r\n") == std::string::npos;
  if (empty && !InfoOf(action).needs_cashier && action != Action::kWriteTable && action != Action::kSetClock &&
      action != Action::kSetSerial && action != Action::kRegistration) {
    return true;  // reads and cancel need no body
  }
  if (TooDeep(body)) {
    *problem = MakeProblem(400, "request.invalid-json", "the body is nested too deeply");
    return false;
  }
  const json j = json::parse(body, nullptr, false);
  if (j.is_discarded()) {
    *problem = MakeProblem(400, "request.invalid-json", "the body is not JSON");
    return false;
  }
  return DecodeBody(j, job, problem);
}

host::Plan DocumentPlan(const Job& job, const host::Session& session) {
  switch (job.action) {
    case Action::kReceipt: return session.ReceiptPlan(job.receipt_type, job.lines, job.cash, job.cashless);
    case Action::kShiftOpen: return session.ShiftOpenPlan();
    case Action::kShiftClose: return session.ShiftClosePlan();
    case Action::kCashIn:
    case Action::kCashOut: return session.CashPlan(job.action == Action::kCashIn, job.amount);
    case Action::kRegistration: return session.RegistrationPlan(job.elements, job.inn, job.fn);
    default: return host::Plan();
  }
}

host::Request SingleRequest(const Job& job, const host::Login& login) {
  switch (job.action) {
    case Action::kCancel: return host::req::Cancel();
    case Action::kCopy: return host::req::Copy(login, job.number);
    case Action::kReadClock: return host::req::ReadClock();
    case Action::kSetClock: return host::req::SetClock(login, job.time);
    case Action::kSetSerial: return host::req::SetSerialNumber(login, job.serial);
    case Action::kReadTable: return host::req::ReadRecord(login, job.table, job.record);
    case Action::kWriteTable:
      if (job.table == table::kCashiers) return host::req::WriteCashier(login, job.cashier_record);
      if (job.table == table::kSections) return host::req::WriteSection(login, job.section_record);
      return host::req::WriteDiscount(login, job.discount_record);
    case Action::kTotals: return host::req::Totals(job.totals);
    case Action::kReport:
      if (job.report == report::kPeriod) return host::req::PeriodReport(login, job.from, job.to);
      if (job.report == report::kShiftRange) {
        return host::req::ShiftRangeReport(login, static_cast<uint16_t>(job.from), static_cast<uint16_t>(job.to));
      }
      if (job.report == host::kControlTape) return host::req::ControlTape(login, job.from);
      return host::req::Report(login, job.report);
    default: return host::Request();
  }
}

}  // namespace bridge
