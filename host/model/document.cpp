#include "host/model/document.h"

#include "app/codes.h"
#include "documents/base_document.h"
#include "util/cp866.h"

namespace host {

using nlohmann::json;

bool Document::is_receipt() const { return type == doc::kReceipt; }
bool Document::is_cash() const { return type == doc::kCashIn || type == doc::kCashOut; }

Document DocumentOfClose(const Document& request, const CloseReply& c) {
  Document d = request;
  d.number = c.number;
  d.time = c.time;
  d.has_shift = c.has_shift;
  d.shift = c.shift;
  d.fiscal_sign = c.sign;
  if (c.is_receipt) {
    d.receipt_number = c.receipt;
    d.total = c.total;
    d.has_change = true;
    d.change = c.change;
    // The register books the cash as the total less the cashless part,
    // whatever was handed over: the change went back.
    d.has_payment = true;
    d.cash = d.total - d.cashless;
  }
  d.has_drawer = c.has_drawer;
  d.drawer = c.drawer;
  return d;
}

void PutAmount(json* j, const std::string& name, int64_t kopecks) {
  (*j)[name] = kopecks;
  (*j)[name + "_decimal"] = Decimal2(kopecks);
}

json LineJson(const Line& l) {
  json j = {{"name", util::Cp866ToUtf8(l.name)},
            {"price", l.price},
            {"quantity", FormatQuantity(l)},
            {"tax", l.tax},
            {"section", l.section}};
  if (l.discount != 0) j["discount"] = l.discount;
  if (l.discount_amount != 0) j["discount_amount"] = l.discount_amount;
  if (!l.code.empty()) j["code"] = util::Cp866ToUtf8(l.code);
  if (!l.unit.empty()) j["unit"] = util::Cp866ToUtf8(l.unit);
  if (!l.extra.empty()) j["extra_text"] = util::Cp866ToUtf8(l.extra);
  return j;
}

json DocumentJson(const Document& d) {
  const char* name = DocumentTypeName(d.type);
  json j = {{"document", name != nullptr ? std::string(name) : "type " + std::to_string(d.type)},
            {"number", d.number},
            {"time", FormatTime(d.time)},
            {"fiscal_sign", d.fiscal_sign}};
  if (d.has_shift) j["shift"] = d.shift;
  if (d.cashier != 0) j["cashier"] = d.cashier;
  if (!d.cashier_name.empty()) j["cashier_name"] = util::Cp866ToUtf8(d.cashier_name);
  if (d.is_receipt()) {
    const char* kind = ReceiptTypeName(d.receipt_type);
    j["receipt_type"] = kind != nullptr ? std::string(kind) : "type " + std::to_string(d.receipt_type);
    j["receipt_number"] = d.receipt_number;
    PutAmount(&j, "total", d.total);
    if (d.has_lines) {
      json lines = json::array();
      for (size_t i = 0; i < d.lines.size(); ++i) {
        json line = LineJson(d.lines[i]);
        if (i < d.line_amounts.size()) PutAmount(&line, "amount", d.line_amounts[i]);
        lines.push_back(line);
      }
      j["lines"] = lines;
    }
    if (d.has_payment) {
      json payment = json::object();
      PutAmount(&payment, "cash", d.cash);
      PutAmount(&payment, "cashless", d.cashless);
      j["payment"] = payment;
    }
    if (d.has_change) PutAmount(&j, "change", d.change);
    if (!d.taxes.empty()) {
      json taxes = json::array();
      for (const auto& t : d.taxes) {
        json tax = {{"number", t.first}};
        PutAmount(&tax, "amount", t.second);
        taxes.push_back(tax);
      }
      j["taxes"] = taxes;
    }
  }
  if (d.is_cash()) PutAmount(&j, "amount", d.amount);
  if (d.has_drawer) PutAmount(&j, "drawer", d.drawer);
  return j;
}

json NamesJson() {
  auto names = [](const NameTable& table) {
    json list = json::array();
    for (const Named& n : table) list.push_back(n.name);
    return list;
  };
  // The register's result codes with their meanings in each language, for
  // screens that show a refusal in the shop's language.
  size_t count = 0;
  const rc::CodeText* codes = rc::CodeTexts(&count);
  json results = json::array();
  for (size_t i = 0; i < count; ++i) {
    results.push_back(
        {{"code", codes[i].code}, {"name", codes[i].name}, {"en", codes[i].meaning}, {"ru", codes[i].meaning_ru}});
  }
  return {{"document_types", names(kDocumentTypes)},
          {"receipt_types", names(kReceiptTypes)},
          {"report_kinds", names(kReportKinds)},
          {"totals_records", names(kTotalsRecords)},
          {"results", results}};
}

}  // namespace host
