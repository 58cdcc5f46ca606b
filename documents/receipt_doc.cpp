#include "documents/receipt_doc.h"

#include <algorithm>

#include "app/codes.h"
#include "app/fr_status.h"
#include "storage/table_format.h"
#include "util/coding.h"
#include "util/cp866.h"

namespace {

template <typename T>
using RecordMap = std::map<uint8_t, std::unique_ptr<T>>;

std::string Cp(const char* utf8) { return util::Utf8ToCp866(utf8); }

template <typename T>
RecordMap<T> CopyRecords(const RecordMap<T>& from) {
  RecordMap<T> out;
  for (const auto& kv : from) out[kv.first] = std::make_unique<T>(*kv.second);
  return out;
}

// The record of `to` filed under the number that holds `old` in `from`.
template <typename T>
const T* Relink(const RecordMap<T>& from, const RecordMap<T>& to, const T* old) {
  for (const auto& kv : from) {
    if (kv.second.get() != old || old == nullptr) continue;
    const auto it = to.find(kv.first);
    return it == to.end() ? nullptr : it->second.get();
  }
  return nullptr;
}

// Re-reads an existing entry in place: lines keep pointing at it.
template <typename T>
T* Enter(RecordMap<T>* records, uint8_t number, const T& value) {
  std::unique_ptr<T>& slot = (*records)[number];
  if (slot) {
    *slot = value;
  } else {
    slot = std::make_unique<T>(value);
  }
  return slot.get();
}

PrintItem Item(const PrintStyle& style, const std::string& text) {
  return PrintItem{PrintBlock::fromText(style, text), false};
}

}  // namespace

ReceiptDoc::ReceiptDoc(platform::Env* env, const ModelData& model, const RegData& reg,
                       const Cashier& cashier)
    : BaseWorkDocument(env, doc::kReceipt, model, reg, cashier) {}

bool ReceiptDoc::isComplete() const {
  return BaseWorkDocument::isComplete() && receipt_number_ != 0;
}

std::shared_ptr<BaseDocument> ReceiptDoc::clone() const {
  auto copy = std::make_shared<ReceiptDoc>(env(), ModelData(), RegData(), Cashier());
  copyTo(copy.get());
  return copy;
}

std::string ReceiptDoc::typeText() const {
  static const char* const kTexts[] = {"ПРОДАЖА", "ПОКУПКА", "ВОЗВРАТ ПРОДАЖИ", "ВОЗВРАТ ПОКУПКИ"};
  return receipt_type_ <= receipt::kPurchaseReturn ? Cp(kTexts[receipt_type_]) : std::string();
}

std::string ReceiptDoc::title() const {
  switch (receipt_type_) {
    case receipt::kSale:
    case receipt::kPurchaseReturn:
      return Cp("ФИСКАЛЬНЫЙ КАССОВЫЙ ЧЕК НА ТОВАРЫ (УСЛУГИ)");
    case receipt::kPurchase:
    case receipt::kSaleReturn:
      return Cp("ФИСКАЛЬНЫЙ КАССОВЫЙ ЧЕК ВЫДАЧИ СРЕДСТВ");
    default:
      return std::string();
  }
}

PrintData ReceiptDoc::printHeader() const {
  PrintData out = BaseWorkDocument::printHeader();
  out.push_back(Item(normalStyle(), typeText() + Cp(" ЧЕК ") + std::to_string(receipt_number_) +
                                        Cp("\tСМЕНА ") + std::to_string(shiftNumber())));
  return out;
}

PrintBlock ReceiptDoc::taxLines(PrintBlock block) const {
  for (const auto& kv : tax_rates_) {
    const auto total = tax_totals_.find(kv.first);
    if (total != tax_totals_.end()) {
      block.addText(kv.second->printName() + "\t" + total->second.toString());
    }
  }
  return block;
}

PrintData ReceiptDoc::printFooter(bool cut) const {
  PrintData out;
  PrintStyle total_style;
  total_style.set(PrintStyle::kDouble | PrintStyle::kMarker);
  total_style.setFont(0);
  out.push_back(Item(total_style, Cp("ИТОГО\t") + total_.toString()));
  // Change never exceeds the cash handed over, so this sum is that cash.
  const Decimal handed = cash_ + change_;
  if (handed.mantissa() > 0) {
    out.push_back(Item(normalStyle(), Cp("НАЛИЧНЫМИ\t") + handed.toString()));
  }
  if (cashless_.mantissa() > 0) {
    out.push_back(Item(normalStyle(), Cp("БЕЗНАЛИЧНЫМИ\t") + cashless_.toString()));
  }
  if (change_.mantissa() > 0) {
    PrintStyle change_style;
    change_style.set(PrintStyle::kDouble | PrintStyle::kMarker);
    change_style.setFont(1);
    out.push_back(Item(change_style, Cp("СДАЧА\t") + change_.toString()));
  }
  const PrintBlock taxes = taxLines(PrintBlock(normalStyle()));
  if (!taxes.lines().empty()) out.push_back(PrintItem{taxes, false});
  out.push_back(Item(normalStyle(), "\n"));
  for (const PrintItem& item : BaseWorkDocument::printFooter(cut)) out.push_back(item);
  return out;
}

BaseDocument* ReceiptDoc::copyTo(BaseDocument* other) const {
  if (BaseWorkDocument::copyTo(other) == nullptr) return nullptr;
  auto* r = dynamic_cast<ReceiptDoc*>(other);
  // Onto itself the records would be freed under its own lines.
  if (r == nullptr || r == this) return other;
  r->receipt_type_ = receipt_type_;
  r->receipt_number_ = receipt_number_;
  r->total_ = total_;
  r->cash_ = cash_;
  r->cashless_ = cashless_;
  r->sections_ = CopyRecords(sections_);
  r->tax_rates_ = CopyRecords(tax_rates_);
  r->discounts_ = CopyRecords(discounts_);
  r->lines_ = lines_;
  for (ReceiptOperation& line : r->lines_) {
    line.setSection(Relink(sections_, r->sections_, line.section()));
    line.setTaxRate(Relink(tax_rates_, r->tax_rates_, line.taxRate()), line.taxNumber());
    line.setDiscount(Relink(discounts_, r->discounts_, line.discount()));
  }
  r->tax_totals_ = tax_totals_;
  r->encoded_size_ = encoded_size_;
  return other;
}

int ReceiptDoc::setCashierName(const std::string& data) {
  if (data.empty()) return rc::kBadReceiptType;
  const uint8_t type = static_cast<uint8_t>(data[0]);
  // Types 4 to 14 have no block in the totals: refused like unknown ones.
  if (type > receipt::kPurchaseReturn) return rc::kBadReceiptType;
  receipt_type_ = type;
  setShiftNumber(FrStatus::shiftNumber());
  const int result = BaseWorkDocument::setCashierName(data.substr(1));
  if (result == rc::kOk) {
    std::string own;
    encodeOwn(&own);
    encoded_size_ = encode().size() - own.size();
  }
  const uint16_t right = type == receipt::kSale || type == receipt::kPurchase
                             ? tables::kRightSales
                             : tables::kRightReturns;
  if ((cashier().rights & right) == 0) return rc::kNoRight;
  receipt_number_ = static_cast<uint16_t>(FrStatus::receiptsInShift() + 1);
  return result;
}

const TaxRate* ReceiptDoc::resolveTax(uint8_t number) {
  if (number < 1 || number > TaxRate::kCount) return nullptr;
  const auto it = tax_rates_.find(number);
  if (it != tax_rates_.end()) return it->second->isValid() ? it->second.get() : nullptr;
  TaxRate rate;
  if (!rate.parse(regData().taxRateImage(number - 1)) || !rate.isValid()) return nullptr;
  return Enter(&tax_rates_, number, rate);
}

const Section* ReceiptDoc::resolveSection(uint8_t number) {
  const auto it = sections_.find(number);
  if (it != sections_.end()) return it->second->isValid() ? it->second.get() : nullptr;
  Section s;
  if (!tables::getSection(number, &s) || !s.isValid()) return nullptr;
  return Enter(&sections_, number, s);
}

const Discount* ReceiptDoc::resolveDiscount(uint8_t number) {
  const auto it = discounts_.find(number);
  if (it != discounts_.end()) return it->second->isValid() ? it->second.get() : nullptr;
  Discount d;
  if (!tables::getDiscount(number, &d) || !d.isValid()) return nullptr;
  return Enter(&discounts_, number, d);
}

int ReceiptDoc::parseLine(const std::vector<TlvElement>& inner, ReceiptOperation* line) {
  for (const TlvElement& item : inner) {
    switch (item.tag()) {
      case tag::kQuantity:
        line->setQuantity(item.asFvln());
        break;
      case tag::kLineName:
        line->setName(item.value());
        break;
      case tag::kPrice:
        line->setPrice(Decimal(Decimal::kMoneyScale, item.asVln()));
        break;
      case tag::kLineCode:
        line->setCode(item.value());
        break;
      case tag::kLineExtraText:
        line->setExtraText(item.value());
        break;
      case tag::kUnit:
        line->setUnit(item.value());
        break;
      case tag::kDiscountAmount:
        line->setExplicitDiscount(Decimal(Decimal::kMoneyScale, item.asVln()));
        break;
      case tag::kLineTaxNumber: {
        const uint8_t number = item.asByte();  // a wrong length reads as 0
        const TaxRate* rate = resolveTax(number);
        if (rate == nullptr) return rc::kTaxNotFound;
        line->setTaxRate(rate, number);
        break;
      }
      case tag::kSectionNumber: {
        const Section* section = resolveSection(item.asByte());
        if (section == nullptr) return rc::kSectionNotFound;
        line->setSection(section);
        break;
      }
      case tag::kDiscountNumber: {
        const Discount* discount = resolveDiscount(item.asByte());
        if (discount == nullptr) return rc::kDiscountNotFound;
        line->setDiscount(discount);
        break;
      }
      default:
        if (env() != nullptr) {
          env()->WriteLine("UNKNOWN TAG " + std::to_string(item.tag()) + " " +
                           util::HexUpper(item.value()));
        }
        return rc::kBadData;
    }
  }
  return rc::kOk;
}

int ReceiptDoc::addData(const TlvElement& e) { return addLine(e, nullptr); }

int ReceiptDoc::addLine(const TlvElement& e, PrintData* print) {
  if (encoded_size_ + e.value().size() + 3 >= maxSize() - receipt::kLineReserve) {
    return rc::kDocumentTooLarge;
  }
  if (e.tag() != tag::kReceiptLine) return rc::kUnknownTag;
  const std::vector<TlvElement> inner = e.asList();
  if (inner.empty()) return rc::kEmptyLine;
  ReceiptOperation line;
  const int result = parseLine(inner, &line);
  if (result != rc::kOk) return result;
  if (!line.isValid()) return rc::kBadLine;

  // Every sum is checked before anything is booked.
  const Decimal amount = line.amount();
  const Decimal tax = line.taxAmount();
  const uint8_t section = line.section()->number;
  Decimal total, tax_total = tax, section_total = amount;
  if (!receipt::addChecked(total_, amount, &total)) return rc::kBadLine;
  const auto t = tax_totals_.find(line.taxNumber());
  if (t != tax_totals_.end() && !receipt::addChecked(t->second, tax, &tax_total)) {
    return rc::kBadLine;
  }
  const auto s = section_totals_.find(section);
  if (s != section_totals_.end() && !receipt::addChecked(s->second, amount, &section_total)) {
    return rc::kBadLine;
  }
  encoded_size_ += e.value().size() + TlvElement::kHeaderSize;
  total_ = total;
  tax_totals_[line.taxNumber()] = tax_total;
  section_totals_[section] = section_total;
  lines_.push_back(line);
  if (print != nullptr) *print = line.printedForm(normalStyle());
  return rc::kOk;
}

int ReceiptDoc::close(uint32_t date_time, const std::string& /*key*/, const std::string& data,
                      uint16_t* missing_tag) {
  setDateTime(date_time);
  auto missing = [missing_tag](uint16_t t) {
    if (missing_tag != nullptr) *missing_tag = t;
    return rc::kCloseData;
  };
  if (cashier().name.empty()) return missing(tag::kCashierName);
  if (data.size() <= 7) return missing(tag::kCashAmount);
  if (data.size() != 16) return missing(tag::kCashlessAmount);
  if (lines_.empty()) return missing(tag::kReceiptLine);
  if (receipt_type_ > receipt::kPurchaseReturn) return rc::kBadReceiptType;

  Decimal cash(Decimal::kMoneyScale, static_cast<int64_t>(util::GetFixed64(data, 0)));
  const Decimal cashless(Decimal::kMoneyScale, static_cast<int64_t>(util::GetFixed64(data, 8)));
  // A negative part would let cash leave the drawer against a made-up
  // electronic refund: payments are never negative.
  if (cash.mantissa() < 0 || cashless.mantissa() < 0) return rc::kBadData;
  Decimal paid;
  if (!receipt::addChecked(cash, cashless, &paid)) return rc::kOverpaid;
  if (paid.mantissa() == 0) {
    cash = total_;
    if (!receipt::addChecked(cash, cashless, &paid)) return rc::kOverpaid;
  }
  if (paid.mantissa() < total_.mantissa()) return rc::kUnderpaid;
  if (cashless.mantissa() > total_.mantissa()) return rc::kOverpaid;

  Decimal change;
  if (!isIncoming()) {
    if (paid.mantissa() > total_.mantissa()) return rc::kOverpaid;
    if (cash.mantissa() > FrStatus::cashInDrawer()) return rc::kNoCash;
  } else {
    if (total_.mantissa() > receipt::kMaxIncomingTotal) return rc::kOverpaid;
    // paid >= total >= 0 and cashless <= total keep both differences in range.
    receipt::subtractChecked(paid, total_, &change);
    receipt::subtractChecked(cash, change, &cash);
  }
  cash_ = cash;
  cashless_ = cashless;
  change_ = change;
  return rc::kOk;
}

std::string ReceiptDoc::closeReply() const {
  std::string out = BaseWorkDocument::closeReply();
  util::PutFixed16(&out, shiftNumber());
  util::PutFixed16(&out, receipt_number_);
  util::PutFixed64(&out, static_cast<uint64_t>(total_.mantissa()));
  util::PutFixed64(&out, static_cast<uint64_t>(change_.mantissa()));
  return out;
}

std::string ReceiptDoc::statusBytes() const {
  std::string out = BaseWorkDocument::statusBytes();
  out.push_back(static_cast<char>(receipt_type_));
  util::PutFixed16(&out, receipt_number_);
  util::PutFixed16(&out, static_cast<uint16_t>(lines_.size()));
  util::PutFixed64(&out, static_cast<uint64_t>(total_.mantissa()));
  return out;
}

void ReceiptDoc::setStoredTag(const TlvElement& e) {
  bool ok = false;
  const uint16_t t = e.tag();
  if (t == tag::kReceiptTotal || t == tag::kCashAmount || t == tag::kCashlessAmount) {
    const Decimal v(Decimal::kMoneyScale, e.asVln(&ok));
    if (ok) (t == tag::kReceiptTotal ? total_ : t == tag::kCashAmount ? cash_ : cashless_) = v;
  } else if (t == tag::kReceiptNumber) {
    const uint16_t v = e.asU16(&ok);
    if (ok) receipt_number_ = v;
  } else if (t == tag::kReceiptType) {
    const uint8_t v = e.asByte(&ok);
    if (ok) receipt_type_ = v;
  } else if (t >= tag::kTaxRateFirst && t < tag::kTaxRateFirst + TaxRate::kCount) {
    TaxRate rate;
    size_t index = 0;
    Decimal amount;
    ok = TaxRate::fromTlv(e, &rate, &index, &amount);
    if (ok) {
      const uint8_t number = static_cast<uint8_t>(index + 1);
      Enter(&tax_rates_, number, rate);
      tax_totals_.emplace(number, amount);  // a total already there is kept
    }
  } else if (t == tag::kSection) {
    Section s;
    ok = tables::sectionFromTlv(e, &s);
    if (ok) Enter(&sections_, s.number, s);
  } else if (t == tag::kReceiptLine) {
    const std::vector<TlvElement> inner = e.asList();
    ok = !inner.empty();
    ReceiptOperation line;
    uint8_t section = 0;
    for (const TlvElement& item : inner) line.setStorageTag(env(), item, &section);
    if (section >= 1 && section <= tables::kSlotCount) {
      if (sections_.count(section) == 0) {
        Section empty;
        empty.number = section;
        Enter(&sections_, section, empty);
      }
      line.setSection(sections_[section].get());
    }
    const uint8_t tax = line.taxNumber();
    if (tax >= 1 && tax <= TaxRate::kCount) {
      if (tax_rates_.count(tax) == 0) Enter(&tax_rates_, tax, TaxRate());
      line.setTaxRate(tax_rates_[tax].get(), tax);
    }
    if (ok) lines_.push_back(line);
  } else {
    BaseWorkDocument::setStoredTag(e);
    return;
  }
  if (!ok) reportUnknownTag(e);
}

void ReceiptDoc::encodeOwn(std::string* out) const {
  *out += TlvElement::fromU16(tag::kReceiptNumber, receipt_number_).encode();
  *out += TlvElement::fromVln(tag::kReceiptTotal, total_.mantissa()).encode();
  if (cash_.mantissa() > 0)
    *out += TlvElement::fromVln(tag::kCashAmount, cash_.mantissa()).encode();
  if (cashless_.mantissa() > 0) {
    *out += TlvElement::fromVln(tag::kCashlessAmount, cashless_.mantissa()).encode();
  }
  *out += TlvElement::fromU16(tag::kShiftNumber, shiftNumber()).encode();
  *out += TlvElement::fromByte(tag::kReceiptType, receipt_type_).encode();
}

std::string ReceiptDoc::signedData() const {
  std::string out = encode();
  // The encoding holds the fiscal sign itself, which was 0 when the sign was
  // made: it is signed as 0, or no stored receipt would ever verify.
  for (size_t p = 1; p + TlvElement::kHeaderSize <= out.size();) {
    const size_t length = util::GetFixed16(out, p + 2);
    if (util::GetFixed16(out, p) == tag::kFiscalSign) {
      const size_t end = std::min(out.size(), p + TlvElement::kHeaderSize + length);
      std::fill(out.begin() + static_cast<long>(p + TlvElement::kHeaderSize), out.begin() + static_cast<long>(end), '\0');
      break;
    }
    p += TlvElement::kHeaderSize + length;
  }
  util::PutFixed32(&out, regData().checkValue());
  return out;
}

std::string ReceiptDoc::taxRateElements() const {
  std::string out;
  for (const auto& kv : tax_rates_) {
    const auto total = tax_totals_.find(kv.first);
    const Decimal amount = total == tax_totals_.end() ? Decimal() : total->second;
    out += kv.second->toReceiptTlv(kv.first - 1u, amount).encode();
  }
  return out;
}

std::string ReceiptDoc::sectionElements() const {
  std::string out;
  for (const auto& kv : sections_) out += tables::sectionToTlv(*kv.second).encode();
  return out;
}

std::string ReceiptDoc::firstLine() const {
  line_cursor_ = 0;
  return lines_.empty() ? std::string() : lines_[0].toTlv().encode();
}

std::string ReceiptDoc::nextLine() const {
  if (line_cursor_ < INT32_MAX) ++line_cursor_;
  if (line_cursor_ < 0 || static_cast<size_t>(line_cursor_) >= lines_.size()) return std::string();
  return lines_[line_cursor_].toTlv().encode();
}

PrintData ReceiptDoc::journalHead() const {
  PrintBlock block(normalStyle());
  block.addText(Cp("КАССИР\t") + cashier().name);
  block.addText(typeText() + Cp(" ЧЕК ") + std::to_string(receipt_number_) + Cp("\tФД ") +
                std::to_string(documentNumber()));
  return PrintData{PrintItem{block, false}};
}

PrintData ReceiptDoc::journalTotals() const {
  PrintBlock block(normalStyle());
  block.addText(Cp("ИТОГО\t") + total_.toString());
  block.addText(Cp("НАЛИЧНЫМИ\t") + (cash_ + change_).toString());
  block.addText(Cp("БЕЗНАЛИЧНЫМИ\t") + cashless_.toString());
  return PrintData{PrintItem{taxLines(block), false}};
}

bool ReceiptDoc::isIncoming() const {
  return receipt::IsIncoming(receipt_type_);
}
