// One receipt line (tag 11059): what is sold or bought, at which price and
// quantity, in which section, under which tax rate and with which discount.
// The section, tax rate and discount are borrowed from the receipt that
// resolved them and must outlive the line.
#ifndef FR_DOCUMENTS_RECEIPT_OPERATION_H_
#define FR_DOCUMENTS_RECEIPT_OPERATION_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "documents/decimal.h"
#include "documents/tlv_element.h"
#include "platform/env.h"
#include "printer/print_layout.h"
#include "storage/tables.h"
#include "storage/tax_rate.h"

namespace receipt {

// Sums of host amounts that must not wrap: false, *out untouched, when the
// result at the larger scale does not fit 64 bits.
bool addChecked(const Decimal& a, const Decimal& b, Decimal* out);
bool subtractChecked(const Decimal& a, const Decimal& b, Decimal* out);

}  // namespace receipt

class ReceiptOperation {
 public:
  static constexpr size_t kMaxTextSize = 128;  // code, extra text, name: shorter
  static constexpr size_t kMaxUnitSize = 16;   // unit: shorter

  const std::string& code() const { return code_; }
  void setCode(const std::string& cp866) { code_ = cp866; }
  const std::string& extraText() const { return extra_text_; }
  void setExtraText(const std::string& cp866) { extra_text_ = cp866; }
  const std::string& name() const { return name_; }
  void setName(const std::string& cp866) { name_ = cp866; }
  const std::string& unit() const { return unit_; }
  void setUnit(const std::string& cp866) { unit_ = cp866; }
  const Decimal& price() const { return price_; }
  void setPrice(const Decimal& price) { price_ = price; }
  const Decimal& quantity() const { return quantity_; }
  void setQuantity(const Decimal& quantity) { quantity_ = quantity; }
  uint8_t taxNumber() const { return tax_number_; }
  const Section* section() const { return section_; }
  void setSection(const Section* section) { section_ = section; }
  const TaxRate* taxRate() const { return tax_rate_; }
  // The rate and the number it was resolved from always travel together.
  void setTaxRate(const TaxRate* rate, uint8_t number) {
    tax_rate_ = rate;
    tax_number_ = number;
  }
  const Discount* discount() const { return discount_; }
  void setDiscount(const Discount* discount) { discount_ = discount; }
  // Taken only when no valid discount record is referenced.
  const Decimal& explicitDiscount() const { return explicit_discount_; }
  void setExplicitDiscount(const Decimal& amount) { explicit_discount_ = amount; }

  // Price x quantity at the price's scale. A line whose arithmetic does not
  // fit 64 bits computes as zero everywhere and is not valid.
  Decimal cost() const;
  Decimal discountAmount() const;
  // Cost minus discount amount.
  Decimal amount() const;
  // The tax in the amount; 0.00 without a tax rate.
  Decimal taxAmount() const;
  bool isValid() const;

  // Tag 11059 with the stored elements; amount and tax amount included.
  TlvElement toTlv() const;
  // Reads one element of a stored 11059 list. The tax number is kept in the
  // line; a section number is written to *section_number only. The caller
  // resolves both references. Other tags, the recomputed amount and tax
  // amount included, are reported through `env` and skipped.
  void setStorageTag(platform::Env* env, const TlvElement& e, uint8_t* section_number);

  // The lines printed as the line is added, in the normal style (font code 1,
  // marker) or in `style`, whose line width decides the two-column layout.
  PrintData printedForm() const;
  PrintData printedForm(const PrintStyle& style) const;

  // Extra text and explicit discount take no part; the referenced records are
  // compared by content, so a copied receipt's lines equal the original's.
  bool operator==(const ReceiptOperation& other) const;
  bool operator!=(const ReceiptOperation& other) const { return !(*this == other); }

 private:
  // False when some step does not fit 64 bits.
  bool computeAmounts(Decimal* cost, Decimal* discount, Decimal* amount) const;
  bool hasValidDiscount() const { return discount_ != nullptr && discount_->isValid(); }

  std::string code_;
  std::string extra_text_;
  std::string name_;
  std::string unit_;
  Decimal price_;
  Decimal quantity_;
  uint8_t tax_number_ = 0;
  const Section* section_ = nullptr;
  const TaxRate* tax_rate_ = nullptr;
  const Discount* discount_ = nullptr;
  Decimal explicit_discount_;
};

#endif  // FR_DOCUMENTS_RECEIPT_OPERATION_H_
