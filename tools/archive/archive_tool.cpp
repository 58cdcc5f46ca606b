#include "tools/archive/archive_tool.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/codes.h"
#include "documents/receipt_doc.h"
#include "documents/shift_documents.h"
#include "host/model/document.h"
#include "host/protocol.h"
#include "storage/archive_format.h"
#include "storage/eeprom_format.h"
#include "storage/fiscal_archive.h"
#include "storage/identity_format.h"
#include "tools/common/archive_check.h"
#include "tools/common/print_decoder.h"
#include "util/coding.h"
#include "util/cp866.h"
#include "workers/counters.h"
#include "workers/counters_format.h"
#include "workers/reports_worker.h"

namespace archivetool {

namespace d = descriptor;
using json = nlohmann::ordered_json;

namespace {

constexpr int kClean = 0;
constexpr int kFindings = 1;
constexpr int kUnreadable = 2;

uint32_t Field32(const DocDescriptor& x, size_t offset) { return util::DecodeFixed32(x.bytes + offset); }
uint16_t Field16(const DocDescriptor& x, size_t offset) { return util::DecodeFixed16(x.bytes + offset); }
uint64_t Field64(const DocDescriptor& x, size_t offset) { return util::DecodeFixed64(x.bytes + offset); }

std::string TypeName(uint8_t type) {
  const char* name = host::DocumentTypeName(type);
  return name != nullptr ? name : "type " + std::to_string(type);
}

bool Keeps(const Filter& f, const sim::StoredDocument& doc) {
  return (f.first == 0 || doc.number >= f.first) && (f.last == 0 || doc.number <= f.last) &&
         (f.from_time == 0 || doc.time >= f.from_time) && (f.to_time == 0 || doc.time <= f.to_time) &&
         (f.shift == 0 || doc.shift == f.shift);
}

int64_t Kopecks(const Decimal& d) { return d.rescaled(Decimal::kMoneyScale).mantissa(); }

host::Line LineOf(const ReceiptOperation& op) {
  host::Line l;
  l.name = op.name();
  l.price = Kopecks(op.price());
  l.quantity = op.quantity().mantissa();
  l.places = static_cast<uint8_t>(op.quantity().places());
  l.tax = op.taxNumber();
  l.section = op.section() != nullptr ? op.section()->number : 0;
  l.discount = op.discount() != nullptr ? op.discount()->number : 0;
  if (l.discount == 0) l.discount_amount = Kopecks(op.explicitDiscount());
  l.code = op.code();
  l.unit = op.unit();
  l.extra = op.extraText();
  return l;
}

// A document as the register keeps it, read back with its own document
// code: lines with their amounts, taxes, the payment as booked.
host::Document DocumentOf(const BaseWorkDocument& stored) {
  host::Document d;
  d.number = stored.documentNumber();
  d.type = stored.type();
  d.time = stored.dateTime();
  d.has_shift = true;
  d.shift = stored.shiftNumber();
  d.fiscal_sign = stored.fiscalSign();
  d.cashier = stored.cashier().number;
  d.cashier_name = stored.cashier().name;
  if (const auto* receipt = dynamic_cast<const ReceiptDoc*>(&stored)) {
    d.receipt_type = receipt->receiptType();
    d.receipt_number = receipt->receiptNumber();
    d.total = Kopecks(receipt->total());
    d.has_lines = true;
    for (const ReceiptOperation& op : receipt->lines()) {
      d.lines.push_back(LineOf(op));
      d.line_amounts.push_back(Kopecks(op.amount()));
    }
    d.has_payment = true;
    d.cash = Kopecks(receipt->cashPayment());
    d.cashless = Kopecks(receipt->cashlessPayment());
    for (const auto& [number, amount] : receipt->taxTotals()) d.taxes.emplace_back(number, Kopecks(amount));
  } else if (const auto* cash = dynamic_cast<const CashCtrlDocument*>(&stored)) {
    d.amount = Kopecks(cash->amount());
  }
  return d;
}

// What the archive's walk read of a document: no lines, no change.
json DocumentJson(const sim::StoredDocument& doc) {
  host::Document d;
  d.number = doc.number;
  d.type = doc.type;
  d.time = doc.time;
  d.has_shift = true;
  d.shift = doc.shift;
  d.fiscal_sign = doc.fiscal_sign;
  d.cashier = doc.cashier;
  d.cashier_name = doc.cashier_name;
  d.receipt_type = doc.receipt_type;
  d.receipt_number = doc.receipt_number;
  d.total = doc.total;
  d.has_payment = d.is_receipt();
  d.cash = doc.cash;
  d.cashless = doc.cashless;
  d.amount = doc.amount;
  json j = host::DocumentJson(d);
  if (d.is_receipt()) j["line_count"] = doc.lines;
  return j;
}

std::string Csv(const sim::StoredDocument& doc) {
  const bool receipt = doc.type == doc::kReceipt;
  const bool cash = doc.type == doc::kCashIn || doc.type == doc::kCashOut;
  const char* kind = receipt ? host::ReceiptTypeName(doc.receipt_type) : nullptr;
  std::string line = std::to_string(doc.number) + "," + TypeName(doc.type) + "," + host::FormatTime(doc.time) + "," +
                     std::to_string(doc.shift) + "," + std::to_string(doc.fiscal_sign) + ",";
  line += (receipt ? std::string(kind != nullptr ? kind : "") : "") + ",";
  line += (receipt ? std::to_string(doc.receipt_number) : "") + ",";
  line += (receipt ? host::Decimal2(doc.total) : "") + "," + (receipt ? host::Decimal2(doc.cash) : "") + ",";
  line += (receipt ? host::Decimal2(doc.cashless) : "") + "," + (cash ? host::Decimal2(doc.amount) : "");
  return line + "\n";
}

std::string ListLine(const sim::StoredDocument& doc) {
  std::string line = std::to_string(doc.number) + "  " + host::FormatTime(doc.time) + "  shift " +
                     std::to_string(doc.shift) + "  " + TypeName(doc.type);
  if (doc.type == doc::kReceipt) {
    const char* kind = host::ReceiptTypeName(doc.receipt_type);
    line += std::string(" ") + (kind != nullptr ? kind : "?") + " " + std::to_string(doc.receipt_number) + "  " +
            host::Decimal2(doc.total);
  } else if (doc.type == doc::kCashIn || doc.type == doc::kCashOut) {
    line += "  " + host::Decimal2(doc.amount);
  }
  return line + "  FP " + std::to_string(doc.fiscal_sign) + "\n";
}

// The file opened and, when `check` is given, the checker's reading of it;
// nullptr, with a message, when the file cannot be read at all.
std::unique_ptr<Card> Read(platform::Env* env, const std::string& path, sim::ArchiveCheck* check, std::ostream& out) {
  std::unique_ptr<Card> card;
  const host::Status opened = Card::Open(env, path, &card);
  if (!opened.ok()) {
    out << "fr-archive: " << opened.ToString() << "\n";
    return nullptr;
  }
  if (check != nullptr) *check = sim::CheckArchive(env, path);
  return card;
}

json CountersJson(const OperationCounters& b) {
  json j = {{"receipts", b.receiptCount()},
            {"total", host::Decimal2(b.total())},
            {"cash", host::Decimal2(b.cash())},
            {"cashless", host::Decimal2(b.cashless())}};
  if (b.hasTaxes()) {
    json taxes = json::array();
    for (size_t i = 0; i < counters::kTaxCount; ++i) taxes.push_back(host::Decimal2(b.tax(i)));
    j["taxes"] = taxes;
  }
  return j;
}

template <typename Record>
json TotalsJson(const Record& c) {
  json blocks = json::object();
  for (size_t type = 0; type < counters::kTypeCount; ++type) {
    const char* kind = host::ReceiptTypeName(static_cast<uint8_t>(type));
    blocks[kind != nullptr ? kind : std::to_string(type)] = CountersJson(c.block(type));
  }
  return {{"receipts", c.receiptCount()},
          {"operations", blocks},
          {"cash_in", {{"count", c.cashInCount()}, {"sum", host::Decimal2(c.cashInSum())}}},
          {"cash_out", {{"count", c.cashOutCount()}, {"sum", host::Decimal2(c.cashOutSum())}}}};
}

void TotalsText(const json& t, std::ostream& out) {
  out << "receipts  " << t["receipts"].get<uint32_t>() << "\n";
  for (const auto& b : t["operations"].items()) {
    out << b.key() << "  " << b.value()["receipts"].get<uint32_t>() << " receipts  total "
        << b.value()["total"].get<std::string>() << "  cash " << b.value()["cash"].get<std::string>() << "  cashless "
        << b.value()["cashless"].get<std::string>();
    if (b.value().contains("taxes")) {
      const json& taxes = b.value()["taxes"];
      for (size_t i = 0; i < taxes.size(); ++i) {
        if (taxes[i] != "0.00") out << "  tax " << i + 1 << " " << taxes[i].get<std::string>();
      }
    }
    out << "\n";
  }
  out << "cash in  " << t["cash_in"]["count"].get<int>() << "  " << t["cash_in"]["sum"].get<std::string>() << "\n";
  out << "cash out  " << t["cash_out"]["count"].get<int>() << "  " << t["cash_out"]["sum"].get<std::string>() << "\n";
  if (t.contains("drawer")) out << "drawer  " << t["drawer"].get<std::string>() << "\n";
}

// A small file whole; false when it cannot be read or is over `limit` bytes.
bool ReadSmall(platform::Env* env, const std::string& path, size_t limit, std::string* bytes) {
  std::unique_ptr<platform::File> f = env->OpenFile(path, "r");
  if (!f) return false;
  bytes->assign(limit + 1, '\0');
  const size_t n = f->Read(&(*bytes)[0], bytes->size());
  if (n > limit) return false;
  bytes->resize(n);
  return true;
}

constexpr size_t kMaxEepromFile = 64 * 1024;  // a dump is about 9 KB

}  // namespace

host::Status ParseEepromImage(const std::string& bytes, Identity* out) {
  std::string image;
  if (bytes.size() == eeprom::kSize) {
    image = bytes;
  } else {
    // fr-core -d: rows of hexadecimal digit groups.
    std::string digits;
    for (char c : bytes) {
      if (std::isxdigit(static_cast<unsigned char>(c))) {
        digits += c;
      } else if (!std::isspace(static_cast<unsigned char>(c))) {
        return host::Status::Corrupt("the EEPROM image is neither 4096 bytes nor a hexadecimal dump");
      }
    }
    if (digits.size() != 2 * eeprom::kSize) {
      return host::Status::Corrupt("the EEPROM dump holds " + std::to_string(digits.size() / 2) + " bytes, not 4096");
    }
    for (size_t i = 0; i < digits.size(); i += 2)
      image += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
  }
  out->key = image.substr(eeprom::kKeyOffset, eeprom::kKeySize);
  if (!out->model.parse(image.substr(eeprom::kModelDataOffset, identity::kModelDataSize)) || !out->model.isValid()) {
    return host::Status::Corrupt("the EEPROM image holds no serial number");
  }
  return host::Status::OK();
}

host::Status Card::Open(platform::Env* env, const std::string& path, std::unique_ptr<Card>* card) {
  std::unique_ptr<platform::File> file = env->OpenFile(path, "r");  // never "r+": an auditor's copy stays as it was
  if (!file) return host::Status::IoError("cannot open " + path);
  card->reset(new Card(env, path, std::move(file)));
  return host::Status::OK();
}

bool Card::readAt(uint64_t offset, size_t n, std::string* bytes) {
  bytes->assign(n, '\0');
  return n == 0 || (file_->Seek(offset) && file_->Read(&(*bytes)[0], n) == n);
}

bool Card::readDescriptor(uint32_t n, DocDescriptor* x) {
  std::string bytes;
  if (n == 0 || n > archive::kIndexSlots ||
      !readAt(archive::kIndexOffset + (n - 1) * archive::kDescriptorSize, d::kSize, &bytes)) {
    return false;
  }
  memcpy(x->bytes, bytes.data(), d::kSize);
  return true;
}

uint32_t Card::lastNumber() {
  std::string bytes;
  return readAt(archive::kLastDocumentOffset, d::kSize, &bytes) ? util::GetFixed32(bytes, d::kDocumentNumberOffset) : 0;
}

ModelData Card::headModel() {
  std::string image;
  ModelData model;
  if (readAt(archive::kModelDataOffset, identity::kModelDataSize, &image)) model.parse(image);
  return model;
}

RegData Card::headReg() {
  std::string image;
  RegData reg;
  if (readAt(archive::kRegDataOffset, identity::kRegDataSize, &image)) reg.parse(image);
  return reg;
}

int Card::rebuild(const DocDescriptor& x, const ModelData& model, const RegData& reg,
                  std::shared_ptr<BaseWorkDocument>* out) {
  std::string block;
  if (!readAt(Field64(x, d::kDataOffsetOffset), Field16(x, d::kLengthOffset), &block)) return rc::kArchiveUnusable;
  return RebuildDocument(env_, x, block, model, reg, out);
}

int Card::readDocument(uint32_t n, const ModelData& model, std::shared_ptr<BaseWorkDocument>* out) {
  const uint32_t last = lastNumber();
  if (n == 0 || n > last) return rc::kNotFound;
  DocDescriptor x, fiscal;
  std::string slot;
  if (!readDescriptor(n, &x) || !readAt(archive::kLastFiscalisationOffset, d::kSize, &slot)) {
    return rc::kArchiveUnusable;
  }
  memcpy(fiscal.bytes, slot.data(), d::kSize);
  RegData reg = headReg();
  const uint32_t own = Field32(x, d::kFiscalisationOffset);
  if (own != Field32(fiscal, d::kDocumentNumberOffset)) {
    // An earlier registration: its report carries the registration of the day.
    DocDescriptor f;
    std::shared_ptr<BaseWorkDocument> report;
    if (own == 0 || own > last || !readDescriptor(own, &f)) return rc::kArchiveUnusable;
    const int code = rebuild(f, model, reg, &report);
    if (code != rc::kOk) return code;
    if (n == own) {
      *out = report;
      return rc::kOk;
    }
    reg = report->regData();
  }
  return rebuild(x, model, reg, out);
}

namespace {

// The identity an EEPROM image holds; false, with a message, when it cannot.
bool LoadEeprom(platform::Env* env, const std::string& eeprom_path, Identity* id, std::ostream& out) {
  std::string bytes;
  if (!ReadSmall(env, eeprom_path, kMaxEepromFile, &bytes)) {
    out << "fr-archive: cannot read " << eeprom_path << "\n";
    return false;
  }
  const host::Status parsed = ParseEepromImage(bytes, id);
  if (!parsed.ok()) {
    out << "fr-archive: " << eeprom_path << ": " << parsed.ToString() << "\n";
    return false;
  }
  return true;
}

// A receipt again from its stored lines, by the register's own line
// arithmetic (price times quantity less the discount, the tax of the line's
// rate). The fiscal sign covers the receipt's totals, not its lines: a line
// edited on the card shows here as lines that no longer give what was signed.
void RecomputeReceipt(const sim::StoredDocument& stored, const ReceiptDoc& receipt,
                      std::vector<std::string>* findings) {
  const std::string what = "document " + std::to_string(stored.number);
  int64_t total = 0;
  std::map<uint8_t, int64_t> taxes;
  for (const auto& kept : receipt.taxTotals()) taxes.emplace(kept.first, 0);
  for (size_t i = 0; i < receipt.lines().size(); ++i) {
    const ReceiptOperation& line = receipt.lines()[i];
    const int64_t amount = Kopecks(line.amount());
    if (i < stored.line_amounts.size() && amount != stored.line_amounts[i]) {
      findings->push_back(what + " line " + std::to_string(i + 1) + ": its price, quantity and discount give " +
                          host::Decimal2(amount) + ", the line stores " + host::Decimal2(stored.line_amounts[i]));
    }
    // A card's file may hold anything: sums that do not fit are a finding.
    if (__builtin_add_overflow(total, amount, &total) ||
        __builtin_add_overflow(taxes[line.taxNumber()], Kopecks(line.taxAmount()), &taxes[line.taxNumber()])) {
      findings->push_back(what + ": its lines' sums overflow");
      return;
    }
  }
  if (total != Kopecks(receipt.total())) {
    findings->push_back(what + ": its lines add up to " + host::Decimal2(total) + ", its signed total is " +
                        host::Decimal2(Kopecks(receipt.total())));
  }
  for (const auto& [number, computed] : taxes) {
    const auto kept = receipt.taxTotals().find(number);
    const int64_t stored_tax = kept == receipt.taxTotals().end() ? 0 : Kopecks(kept->second);
    if (computed != stored_tax) {
      findings->push_back(what + " tax " + std::to_string(number) + ": its lines give " + host::Decimal2(computed) +
                          ", the receipt stores " + host::Decimal2(stored_tax));
    }
  }
}

}  // namespace

int Verify(platform::Env* env, const std::string& path, const std::string& eeprom_path, std::ostream& out) {
  Identity id;
  if (!eeprom_path.empty() && !LoadEeprom(env, eeprom_path, &id, out)) return kUnreadable;
  sim::ArchiveCheck check;
  std::unique_ptr<Card> card = Read(env, path, &check, out);
  if (!card) return kUnreadable;
  std::vector<std::string> findings = check.problems;
  // Each document read back once, for its lines (a receipt) and its sign.
  const bool signs = !eeprom_path.empty();
  const ModelData model = signs ? id.model : card->headModel();
  size_t recomputed = 0, signed_checked = 0;
  for (const sim::StoredDocument& doc : check.summary.documents) {
    const bool receipt = doc.type == doc::kReceipt;
    if (!receipt && !signs) continue;
    const std::string what = "document " + std::to_string(doc.number);
    std::shared_ptr<BaseWorkDocument> document;
    if (card->readDocument(doc.number, model, &document) != rc::kOk) {
      if (receipt) findings.push_back(what + " cannot be read back to recompute its lines");
      if (signs) findings.push_back(what + " cannot be read back to check its sign");
      continue;
    }
    if (receipt) {
      if (const auto* r = dynamic_cast<const ReceiptDoc*>(document.get())) {
        RecomputeReceipt(doc, *r, &findings);
        ++recomputed;
      } else {
        findings.push_back(what + " cannot be read back to recompute its lines");
      }
    }
    if (!signs) continue;
    if (document->verifySign(id.key, id.model.serialNumber())) {
      ++signed_checked;
    } else {
      findings.push_back(what + " fiscal sign does not match the device key");
    }
  }
  for (const std::string& f : findings) out << f << "\n";
  out << path << ": " << check.summary.documents.size() << " of " << check.summary.last_number << " documents read";
  if (signs) out << ", " << signed_checked << " signs good";
  out << ", " << recomputed << (recomputed == 1 ? " receipt" : " receipts") << " recomputed from their lines";
  out << ", " << findings.size() << (findings.size() == 1 ? " finding" : " findings") << "\n";
  // Said every time: no check of this format can catch these.
  if (recomputed > 0) {
    out << "not checkable: a receipt line's name, code, unit or extra text (no amount depends on them and the "
           "fiscal sign does not cover them)\n";
  }
  return findings.empty() ? kClean : kFindings;
}

int List(platform::Env* env, const std::string& path, const Filter& filter, std::ostream& out) {
  sim::ArchiveCheck check;
  if (!Read(env, path, &check, out)) return kUnreadable;
  for (const sim::StoredDocument& doc : check.summary.documents) {
    if (Keeps(filter, doc)) out << ListLine(doc);
  }
  return kClean;
}

int Show(platform::Env* env, const std::string& path, uint32_t number, bool as_json, const std::string& eeprom_path,
         std::ostream& out) {
  std::unique_ptr<Card> card = Read(env, path, nullptr, out);
  if (!card) return kUnreadable;
  Identity id;
  id.model = card->headModel();
  if (!eeprom_path.empty() && !LoadEeprom(env, eeprom_path, &id, out)) return kUnreadable;
  std::shared_ptr<BaseWorkDocument> document;
  const int code = card->readDocument(number, id.model, &document);
  if (code != rc::kOk) {
    out << "fr-archive: document " << number << (code == rc::kNotFound ? " is not in the archive" : " does not read")
        << "\n";
    return kFindings;
  }
  std::vector<std::string> jobs;
  std::vector<std::string> printed;
  if (CopyJobs(document.get(), id.key, &jobs) == rc::kOk) {
    for (const std::string& job : jobs) {
      if (job.empty()) continue;
      for (const sim::PrintJob& j : sim::DecodePrintStream(sim::kJobStart + job)) {
        for (const sim::PrintedLine& line : j.lines) printed.push_back(line.text);
      }
    }
  }
  if (!as_json) {
    for (const std::string& line : printed) out << line << "\n";
    return kClean;
  }
  json j = host::DocumentJson(DocumentOf(*document));
  if (j.contains("lines")) j["line_count"] = j["lines"].size();
  // A 16-digit ФН prints with its field's end byte: text in JSON never
  // carries such bytes.
  for (std::string& line : printed) line.erase(std::remove(line.begin(), line.end(), '\0'), line.end());
  j["printed"] = printed;
  out << j.dump(2) << "\n";
  return kClean;
}

int Export(platform::Env* env, const std::string& path, const std::string& format, const Filter& filter,
           std::ostream& out) {
  if (format != "json" && format != "csv") {
    out << "fr-archive: --format is json or csv\n";
    return kFindings;
  }
  sim::ArchiveCheck check;
  if (!Read(env, path, &check, out)) return kUnreadable;
  if (format == "csv") {
    out << "number,type,time,shift,fiscal_sign,receipt_type,receipt_number,total,cash,cashless,amount\n";
    for (const sim::StoredDocument& doc : check.summary.documents) {
      if (Keeps(filter, doc)) out << Csv(doc);
    }
    return kClean;
  }
  // One object per line inside the array: a large archive streams out
  // without one big document in memory.
  out << "[";
  bool first = true;
  for (const sim::StoredDocument& doc : check.summary.documents) {
    if (!Keeps(filter, doc)) continue;
    out << (first ? "\n" : ",\n") << DocumentJson(doc).dump();
    first = false;
  }
  out << (first ? "]\n" : "\n]\n");
  return kClean;
}

namespace {

// One shift's totals: a closed shift's Z report, the open one's record.
int ShiftTotals(Card* card, const sim::ArchiveCheck& check, uint16_t shift, std::ostream& out, json* totals) {
  const ModelData model = card->headModel();
  for (const sim::StoredDocument& doc : check.summary.documents) {
    if (doc.type != doc::kShiftClose || doc.shift != shift) continue;
    std::shared_ptr<BaseWorkDocument> document;
    const auto* z = card->readDocument(doc.number, model, &document) == rc::kOk
                        ? dynamic_cast<const CloseCycleDoc*>(document.get())
                        : nullptr;
    if (z == nullptr || z->shiftCounters() == nullptr) {
      out << "fr-archive: the Z report of shift " << shift << " (document " << doc.number << ") does not read\n";
      return kFindings;
    }
    *totals = TotalsJson(*z->shiftCounters());
    (*totals)["drawer"] = host::Decimal2(z->shiftCounters()->cashInDrawer());
    (*totals)["from"] = "Z report " + std::to_string(doc.number);
  }
  if (totals->is_null() && shift == check.summary.shift_number && check.summary.shift_open) {
    std::string image;
    ShiftCounters c;
    if (!card->readAt(archive::kShiftCountersOffset, counters::kShiftSize, &image) || !c.fromStored(image)) {
      out << "fr-archive: the open shift's record does not read\n";
      return kFindings;
    }
    *totals = TotalsJson(c);
    (*totals)["drawer"] = host::Decimal2(c.cashInDrawer());
    (*totals)["from"] = "the open shift's record";
  }
  if (totals->is_null()) {
    out << "fr-archive: no shift " << shift << " in the archive\n";
    return kFindings;
  }
  (*totals)["shift"] = shift;
  return kClean;
}

// The Z reports of the closed shifts from `shift` to `last_shift`, summed.
int RangeTotals(Card* card, const sim::ArchiveCheck& check, uint16_t shift, uint16_t last_shift, std::ostream& out,
                json* totals) {
  const ModelData model = card->headModel();
  GrossCounters sum;
  for (const sim::StoredDocument& doc : check.summary.documents) {
    if (doc.type != doc::kShiftClose || doc.shift < shift || doc.shift > last_shift) continue;
    std::shared_ptr<BaseWorkDocument> document;
    const auto* z = card->readDocument(doc.number, model, &document) == rc::kOk
                        ? dynamic_cast<const CloseCycleDoc*>(document.get())
                        : nullptr;
    if (z != nullptr && z->shiftCounters() != nullptr) AddShiftToRange(*z->shiftCounters(), &sum);
  }
  if (sum.shiftNumber() == 0) {
    out << "fr-archive: no closed shift from " << shift << " to " << last_shift << "\n";
    return kFindings;
  }
  *totals = TotalsJson(sum);
  (*totals)["shifts"] = {{"first", shift}, {"last", last_shift}, {"closed", sum.shiftNumber()}};
  return kClean;
}

}  // namespace

int Totals(platform::Env* env, const std::string& path, uint16_t shift, uint16_t last_shift, bool as_json,
           std::ostream& out) {
  sim::ArchiveCheck check;
  std::unique_ptr<Card> card = Read(env, path, &check, out);
  if (!card) return kUnreadable;
  if (shift == 0) shift = check.summary.shift_number;
  if (last_shift < shift) last_shift = shift;
  json totals;
  const int status = last_shift == shift ? ShiftTotals(card.get(), check, shift, out, &totals)
                                         : RangeTotals(card.get(), check, shift, last_shift, out, &totals);
  if (status != kClean) return status;
  if (as_json) {
    out << totals.dump(2) << "\n";
  } else {
    if (totals.contains("shift")) {
      out << "shift " << shift << " (" << totals["from"].get<std::string>() << ")\n";
    } else {
      out << "shifts " << shift << " to " << last_shift << " (" << totals["shifts"]["closed"].get<int>()
          << " closed)\n";
    }
    TotalsText(totals, out);
  }
  return kClean;
}

}  // namespace archivetool
