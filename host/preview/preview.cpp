#include "host/preview/preview.h"

#include <memory>
#include <mutex>

#include "app/fr_status.h"
#include "documents/receipt_doc.h"
#include "documents/tlv_tags.h"
#include "platform/env.h"
#include "storage/model_data.h"
#include "storage/reg_data.h"
#include "storage/table_format.h"
#include "storage/tables.h"
#include "storage/tax_rate.h"
#include "util/coding.h"

namespace host {

namespace {

constexpr uint8_t kRecords = 20;

int64_t Kopecks(const Decimal& d) { return d.rescaled(Decimal::kMoneyScale).mantissa(); }

// The tables and the drawer the document code reads, loaded for one
// preview at a time.
std::mutex& PreviewMutex() {
  static std::mutex mu;
  return mu;
}

// REQUIRES: PreviewMutex() held.
Status LoadTables(platform::Env* env, const std::string& dir, const ReceiptSetup& setup) {
  // The tables stay loaded between previews of one register's setup.
  static std::string loaded;
  std::string wanted = dir;
  for (const Section& s : setup.sections) wanted += tables::sectionImage(s);
  for (const Discount& d : setup.discounts) wanted += tables::discountImage(d);
  if (wanted == loaded) return Status::OK();
  loaded.clear();
  if (!env->PathExists("/nv") && !env->CreateDirectory("/nv")) {
    return Status::IoError("cannot make the preview's table directory");
  }
  bool ok = tables::initSections(env) && tables::initDiscounts(env);
  for (uint8_t n = 1; ok && n <= kRecords; ++n) {
    Section s{n, ""};
    Discount d;
    d.number = n;
    for (const Section& given : setup.sections) {
      if (given.number == n) s = given;
    }
    for (const Discount& given : setup.discounts) {
      if (given.number == n) d = given;
    }
    ok = tables::saveSection(env, s) && tables::saveDiscount(env, d);
  }
  if (!ok) return Status::IoError("cannot write the preview's tables");
  loaded = wanted;
  return Status::OK();
}

}  // namespace

Status ReadReceiptSetup(Client* client, const Login& login, ReceiptSetup* out) {
  ReceiptSetup setup;
  for (uint16_t i = 0; i < TaxRate::kCount; ++i) {
    const Answer a = client->Call(req::RegistrationField(static_cast<uint16_t>(tag::kTaxRateFirst + i)));
    TlvElement e;
    TaxRate rate;
    size_t index = 0;
    Decimal amount;
    if (!a.answered) return a.status().In("tax rate " + std::to_string(i + 1));
    // A register not yet registered has no rates: none is usable.
    const bool usable = a.ok() && DecodeRegistrationField(a.data, &e) && TaxRate::fromTlv(e, &rate, &index, &amount);
    setup.tax_rates.push_back(usable ? rate.image() : "");
  }
  for (uint8_t n = 1; n <= kRecords; ++n) {
    const Answer s = client->Call(req::ReadRecord(login, table::kSections, n));
    const Answer d = s.ok() ? client->Call(req::ReadRecord(login, table::kDiscounts, n)) : s;
    Section section;
    Discount discount;
    const Answer& bad = s.ok() ? d : s;
    if (!bad.ok()) return bad.status().In("table record " + std::to_string(n));
    if (!DecodeSection(s.data, &section) || !DecodeDiscount(d.data, &discount)) {
      return Status::Corrupt("table record " + std::to_string(n) + " does not decode");
    }
    section.number = discount.number = n;
    setup.sections.push_back(section);
    setup.discounts.push_back(discount);
  }
  *out = std::move(setup);
  return Status::OK();
}

Status PreviewReceipt(const std::string& dir, const ReceiptSetup& setup, int64_t drawer, uint8_t receipt_type,
                      const std::vector<Line>& lines, int64_t cash, int64_t cashless, ReceiptPreview* out) {
  std::lock_guard<std::mutex> l(PreviewMutex());
  std::unique_ptr<platform::Env> env = platform::NewSandboxEnv(dir);
  const Status loaded = LoadTables(env.get(), dir, setup);
  if (!loaded.ok()) return loaded;
  RegData reg;
  for (size_t i = 0; i < setup.tax_rates.size() && i < TaxRate::kCount; ++i) {
    if (!setup.tax_rates[i].empty()) reg.setTaxRateImage(i, setup.tax_rates[i]);
  }
  FrStatus::setCashInDrawer(drawer);
  // Every right: the register checks the cashier's password and rights when
  // the receipt opens, which a preview does not send.
  ReceiptDoc doc(env.get(), ModelData(), reg, Cashier{1, 0xFFFF, 1, "PREVIEW"});
  ReceiptPreview p;
  p.code = doc.setCashierName(std::string{static_cast<char>(receipt_type), 0});
  for (size_t i = 0; p.code == rc::kOk && i < lines.size(); ++i) {
    p.code = doc.addData(LineElement(lines[i]));
    if (p.code != rc::kOk) p.line = static_cast<int>(i);
  }
  if (p.code == rc::kOk) {
    std::string pay;
    util::PutFixed64(&pay, static_cast<uint64_t>(cash));
    util::PutFixed64(&pay, static_cast<uint64_t>(cashless));
    uint16_t missing = 0;
    p.code = doc.close(0, "", pay, &missing);
  }
  for (const ReceiptOperation& op : doc.lines()) {
    p.lines.push_back(
        PreviewLine{Kopecks(op.cost()), Kopecks(op.discountAmount()), Kopecks(op.amount()), Kopecks(op.taxAmount())});
  }
  for (const auto& [number, amount] : doc.taxTotals()) {
    TaxRate rate;
    rate.parse(reg.taxRateImage(number - 1));
    p.taxes.push_back(PreviewTax{number, rate.name(), Kopecks(amount)});
  }
  p.total = Kopecks(doc.total());
  p.change = Kopecks(doc.change());
  *out = std::move(p);
  return Status::OK();
}

}  // namespace host
