#include "storage/tax_rate.h"

#include <cstring>
#include <vector>

#include "storage/reg_data.h"
#include "util/coding.h"

namespace {

constexpr uint16_t kTypeShift = 14;
constexpr uint16_t kUnusedWord = 0xC000;  // type 3, rate 0
constexpr size_t kAmountSize = 8;

// The reader pads a short amount with zero bytes at the end and ignores
// anything past 8 bytes, so a writer must always send all 8.
Decimal ReadAmount(const std::string& value) {
  uint8_t buf[kAmountSize] = {};
  memcpy(buf, value.data(), value.size() < kAmountSize ? value.size() : kAmountSize);
  return Decimal(Decimal::kMoneyScale, static_cast<int64_t>(util::DecodeFixed64(buf)));
}

}  // namespace

TaxRate::TaxRate() { memset(bytes_, 0, sizeof(bytes_)); }

bool TaxRate::parse(const std::string& image) {
  if (image.size() != sizeof(bytes_)) return false;
  memcpy(bytes_, image.data(), sizeof(bytes_));
  return true;
}

std::string TaxRate::image() const {
  return std::string(reinterpret_cast<const char*>(bytes_), sizeof(bytes_));
}

uint16_t TaxRate::rateWord() const { return util::DecodeFixed16(bytes_ + kRateWordOffset); }
void TaxRate::setRateWord(uint16_t word) { util::EncodeFixed16(bytes_ + kRateWordOffset, word); }

uint8_t TaxRate::type() const { return static_cast<uint8_t>(rateWord() >> kTypeShift); }
void TaxRate::setType(uint8_t type) {
  setRateWord(static_cast<uint16_t>(rate() | ((type & 3u) << kTypeShift)));
}

uint16_t TaxRate::rate() const { return rateWord() & kRateMask; }
void TaxRate::setRate(uint16_t rate) {
  setRateWord(static_cast<uint16_t>((rateWord() & ~kRateMask) | (rate & kRateMask)));
}

Decimal TaxRate::rateDecimal() const { return Decimal(Decimal::kMoneyScale, rate()); }

std::string TaxRate::name() const {
  const char* p = reinterpret_cast<const char*>(bytes_ + kNameOffset);
  if (bytes_[kSize - 1] != 0) return std::string(p, kNameSize);
  return std::string(p, strnlen(p, kNameSize));
}

void TaxRate::setName(const std::string& cp866) {
  memset(bytes_ + kNameOffset, 0, kNameSize);
  if (cp866.size() <= kNameSize) memcpy(bytes_ + kNameOffset, cp866.data(), cp866.size());
}

bool TaxRate::isValid() const { return rate() <= kMaxRate && type() != kUnused && !name().empty(); }

bool TaxRate::isWithoutTax() const { return type() == kNoTax || rate() == 0; }

Decimal TaxRate::taxAmount(const Decimal& amount) const {
  if (!isValid() || amount.mantissa() <= 0) return Decimal(amount.scale(), 0);
  if (isWithoutTax()) return amount;
  const double r = rateDecimal().toDouble();
  const double a = amount.toDouble();
  if (type() == kIncluded) {
    // k is rounded to four places before it is applied; a * r / (100 + r)
    // in one step can land a kopeck away (1000.00 at 20 %: 166.67, not 166.70).
    const Decimal k = Decimal::fromReal(10000, r / (100.0 + r));
    return Decimal::fromReal(amount.scale(), a * k.toDouble());
  }
  return Decimal::fromReal(amount.scale(), r * a / 100.0);  // kOnTop
}

std::string TaxRate::printName() const { return isValid() ? name() : std::string(); }

bool TaxRate::operator==(const TaxRate& other) const {
  return rateWord() == other.rateWord() && name() == other.name();
}

TlvElement TaxRate::makeTlv(size_t index, const Decimal* amount) const {
  if (index >= kCount) return TlvElement();
  std::vector<TlvElement> inner = {
      TlvElement::fromByte(tag::kTaxRateType, type()),
      TlvElement::fromU16(tag::kTaxRateWord, rate()),
      TlvElement::fromString(tag::kTaxName, name()),
  };
  if (amount != nullptr) {
    std::string bytes;
    util::PutFixed64(&bytes, static_cast<uint64_t>(amount->rescaled(Decimal::kMoneyScale).mantissa()));
    inner.push_back(TlvElement::fromString(tag::kTaxAmount, bytes));
  }
  return TlvElement::fromList(static_cast<uint16_t>(tag::kTaxRateFirst + index), inner);
}

TlvElement TaxRate::toTlv(size_t index) const { return makeTlv(index, nullptr); }

TlvElement TaxRate::toReceiptTlv(size_t index, const Decimal& amount) const {
  return makeTlv(index, &amount);
}

bool TaxRate::fromTlv(const TlvElement& e, TaxRate* out, size_t* index, Decimal* amount) {
  if (out == nullptr) return false;
  if (e.tag() < tag::kTaxRateFirst || e.tag() >= tag::kTaxRateFirst + kCount) return false;
  if (index != nullptr) *index = e.tag() - tag::kTaxRateFirst;
  *out = TaxRate();
  out->setRateWord(kUnusedWord);
  bool complete = false;
  const std::vector<TlvElement> inner = e.asList(&complete);
  if (!complete) return false;
  for (const TlvElement& item : inner) {
    switch (item.tag()) {
      case tag::kTaxRateWord:
        out->setRate(item.asU16());  // a wrong length reads as 0
        break;
      case tag::kTaxName:
        out->setName(item.value());
        break;
      case tag::kTaxRateType:
        out->setType(item.asByte());  // a wrong length reads as 0
        break;
      case tag::kTaxAmount:
        if (amount == nullptr) return false;
        *amount = ReadAmount(item.value());
        break;
      default:
        return false;
    }
  }
  return true;
}

bool hasUsableTaxes(const RegData& reg) {
  for (size_t i = 0; i < TaxRate::kCount; ++i) {
    TaxRate t;
    if (t.parse(reg.taxRateImage(i)) && t.type() != TaxRate::kUnused && t.rate() <= TaxRate::kMaxRate) {
      return true;
    }
  }
  return false;
}
