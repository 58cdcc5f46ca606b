#include "documents/receipt_operation.h"

#include <cmath>
#include <vector>

#include "util/coding.h"
#include "util/cp866.h"

namespace {

constexpr double kTwoTo63 = 9223372036854775808.0;

// The mantissa of `d` at scale m, a multiple of its own; scale 0 counts as 0.
bool MantissaAt(const Decimal& d, uint32_t m, int64_t* out) {
  if (d.scale() == 0) {
    *out = 0;
    return true;
  }
  return !__builtin_mul_overflow(d.mantissa(), static_cast<int64_t>(m / d.scale()), out);
}

std::string Cp(const char* utf8) { return util::Utf8ToCp866(utf8); }

void ReplaceFirstTab(std::string* s) {
  const size_t p = s->find('\t');
  if (p != std::string::npos) (*s)[p] = ' ';
}

// A left and a right text on one line when they fit, else on two lines.
void AddPair(PrintBlock* block, size_t width, std::string a, std::string b) {
  if (a.size() + b.size() < width) {
    ReplaceFirstTab(&a);
    ReplaceFirstTab(&b);
    block->addText(a + "\t" + b);
  } else {
    block->addText(a);
    block->addText(b);
  }
}

template <typename T, typename Eq>
bool SameRecord(const T* a, const T* b, Eq eq) {
  if (a == nullptr || b == nullptr) return a == b;
  return eq(*a, *b);
}

}  // namespace

namespace receipt {

bool addChecked(const Decimal& a, const Decimal& b, Decimal* out) {
  const uint32_t m = a.scale() > b.scale() ? a.scale() : b.scale();
  int64_t x = 0, y = 0, r = 0;
  if (!MantissaAt(a, m, &x) || !MantissaAt(b, m, &y) || __builtin_add_overflow(x, y, &r)) {
    return false;
  }
  *out = Decimal(m, r);
  return true;
}

bool subtractChecked(const Decimal& a, const Decimal& b, Decimal* out) {
  const uint32_t m = a.scale() > b.scale() ? a.scale() : b.scale();
  int64_t x = 0, y = 0, r = 0;
  if (!MantissaAt(a, m, &x) || !MantissaAt(b, m, &y) || __builtin_sub_overflow(x, y, &r)) {
    return false;
  }
  *out = Decimal(m, r);
  return true;
}

}  // namespace receipt

bool ReceiptOperation::computeAmounts(Decimal* cost, Decimal* discount, Decimal* amount) const {
  int64_t product = 0;
  if (__builtin_mul_overflow(price_.mantissa(), quantity_.mantissa(), &product)) return false;
  // Rescaling from price scale x quantity scale to the price scale drops
  // exactly the quantity's places; done that way because the product scale
  // (up to 100 x 10^9) does not fit 32 bits.
  *cost = Decimal(price_.scale(), Decimal(quantity_.scale(), product).rescaled(1).mantissa());
  if (hasValidDiscount()) {
    if (cost->mantissa() > 0 && discount_->type == tables::kPercentDiscount) {
      // The real product would saturate in the conversion; refuse it instead.
      const double real = cost->toDouble() * (static_cast<double>(discount_->value) / 100.0) /
                          100.0 * static_cast<double>(cost->scale());
      if (!(real < kTwoTo63)) return false;
    }
    *discount = tables::discountAmount(*discount_, *cost);
  } else {
    *discount = explicit_discount_;
  }
  return receipt::subtractChecked(*cost, *discount, amount);
}

Decimal ReceiptOperation::cost() const {
  Decimal c, d, a;
  return computeAmounts(&c, &d, &a) ? c : Decimal();
}

Decimal ReceiptOperation::discountAmount() const {
  Decimal c, d, a;
  return computeAmounts(&c, &d, &a) ? d : Decimal();
}

Decimal ReceiptOperation::amount() const {
  Decimal c, d, a;
  return computeAmounts(&c, &d, &a) ? a : Decimal();
}

Decimal ReceiptOperation::taxAmount() const {
  return tax_rate_ == nullptr ? Decimal() : tax_rate_->taxAmount(amount());
}

bool ReceiptOperation::isValid() const {
  Decimal c, d, a;
  return computeAmounts(&c, &d, &a) && a.mantissa() >= 0 && tax_rate_ != nullptr &&
         tax_rate_->isValid() && tax_number_ >= 1 && tax_number_ <= TaxRate::kCount &&
         section_ != nullptr && section_->isValid() && !name_.empty() && quantity_.mantissa() > 0 &&
         code_.size() < kMaxTextSize && extra_text_.size() < kMaxTextSize &&
         name_.size() < kMaxTextSize && unit_.size() < kMaxUnitSize;
}

TlvElement ReceiptOperation::toTlv() const {
  auto money = [](const Decimal& d) { return d.rescaled(Decimal::kMoneyScale).mantissa(); };
  std::vector<TlvElement> inner;
  if (!code_.empty()) inner.push_back(TlvElement::fromString(tag::kLineCode, code_));
  if (!extra_text_.empty())
    inner.push_back(TlvElement::fromString(tag::kLineExtraText, extra_text_));
  if (!name_.empty()) inner.push_back(TlvElement::fromString(tag::kLineName, name_));
  if (!unit_.empty()) inner.push_back(TlvElement::fromString(tag::kUnit, unit_));
  if (section_ != nullptr)
    inner.push_back(TlvElement::fromByte(tag::kSectionNumber, section_->number));
  inner.push_back(TlvElement::fromByte(tag::kLineTaxNumber, tax_number_));
  if (tax_rate_ != nullptr && !tax_rate_->isWithoutTax()) {
    inner.push_back(TlvElement::fromVln(tag::kTaxAmount, money(taxAmount())));
  }
  inner.push_back(TlvElement::fromVln(tag::kPrice, money(price_)));
  if (hasValidDiscount() || explicit_discount_.mantissa() > 0) {
    inner.push_back(TlvElement::fromVln(tag::kDiscountAmount, money(discountAmount())));
  }
  inner.push_back(TlvElement::fromVln(tag::kLineAmount, money(amount())));
  inner.push_back(TlvElement::fromFvln(tag::kQuantity, quantity_));
  return TlvElement::fromList(tag::kReceiptLine, inner);
}

void ReceiptOperation::setStorageTag(platform::Env* env, const TlvElement& e,
                                     uint8_t* section_number) {
  switch (e.tag()) {
    case tag::kLineCode:
      code_ = e.value();
      return;
    case tag::kLineExtraText:
      extra_text_ = e.value();
      return;
    case tag::kLineName:
      name_ = e.value();
      return;
    case tag::kUnit:
      unit_ = e.value();
      return;
    case tag::kPrice:
      price_ = Decimal(Decimal::kMoneyScale, e.asVln());
      return;
    case tag::kQuantity:
      quantity_ = e.asFvln();
      return;
    case tag::kDiscountAmount:
      explicit_discount_ = Decimal(Decimal::kMoneyScale, e.asVln());
      return;
    case tag::kLineTaxNumber:
      tax_number_ = e.asByte();
      return;
    case tag::kSectionNumber:
      if (section_number != nullptr) *section_number = e.asByte();
      return;
    default:
      break;
  }
  if (env == nullptr) return;
  env->WriteLine(std::string("ReceiptOperation::") + "setStorageTag" + " UNKNOWN TAG " +
                 std::to_string(e.tag()) + " " + std::to_string(e.value().size()) + " " +
                 util::HexUpper(e.value()));
}

PrintData ReceiptOperation::printedForm() const {
  PrintStyle style;
  style.set(PrintStyle::kMarker);
  style.setFont(1);
  return printedForm(style);
}

PrintData ReceiptOperation::printedForm(const PrintStyle& style) const {
  const size_t width = style.lineWidth();
  PrintBlock block(style);
  Decimal cost, discount, amount;
  if (!computeAmounts(&cost, &discount, &amount)) cost = discount = amount = Decimal();

  const std::string section_text =
      section_ != nullptr && !section_->name.empty()
          ? section_->name
          : Cp("ОТДЕЛ\t") + std::to_string(section_ != nullptr ? section_->number : 0);
  AddPair(&block, width, section_text, code_.empty() ? std::string() : Cp("КОД\t") + code_);

  const std::string arithmetic = "\t" + price_.toString() + " x " + quantity_.quantityText() +
                                 (unit_.empty() ? "" : " " + unit_) + " = " + cost.toString();
  if (width < name_.size() + arithmetic.size()) {
    block.addText(name_);
    block.addText(arithmetic);
  } else {
    block.addText(name_ + arithmetic);
  }

  // The first letter is a Latin C (0x43), as the register has always printed it.
  const std::string after = Cp("C УЧЕТОМ СКИДКИ\t") + amount.toString();
  if (hasValidDiscount()) {
    AddPair(&block, width, tables::discountPrintName(*discount_) + "\t" + discount.toString(),
            after);
  } else if (explicit_discount_.mantissa() > 0) {
    AddPair(&block, width, Cp("СКИДКА\t") + discount.toString(), after);
  }

  if (tax_rate_ != nullptr) {
    std::string tax = tax_rate_->printName();
    if (!tax_rate_->isWithoutTax()) tax += "\t" + tax_rate_->taxAmount(amount).toString();
    block.addText(tax);
  }
  return PrintData{PrintItem{block, false}};
}

bool ReceiptOperation::operator==(const ReceiptOperation& other) const {
  const bool same_section = SameRecord(
      section_, other.section_,
      [](const Section& a, const Section& b) { return a.number == b.number && a.name == b.name; });
  const bool same_tax = SameRecord(tax_rate_, other.tax_rate_,
                                   [](const TaxRate& a, const TaxRate& b) { return a == b; });
  const bool same_discount =
      SameRecord(discount_, other.discount_, [](const Discount& a, const Discount& b) {
        return a.number == b.number && a.type == b.type && a.value == b.value && a.name == b.name;
      });
  return code_ == other.code_ && name_ == other.name_ && unit_ == other.unit_ && same_section &&
         same_tax && price_ == other.price_ && quantity_ == other.quantity_ && same_discount &&
         tax_number_ == other.tax_number_;
}
