// One of the five tax rates fixed at fiscalisation. The 32-byte image is the
// same in memory, in RegData and in the archive's copy of it:
//   0 rate word, uint16 LE (2): bits 0-13 rate in hundredths of a per cent,
//     bits 14-15 type | 2 name, CP866 (30): when byte 31 is not 0 the name is
//     all 30 bytes, otherwise it ends at the first NUL
#ifndef FR_STORAGE_TAX_RATE_H_
#define FR_STORAGE_TAX_RATE_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "documents/decimal.h"
#include "documents/tlv_element.h"
#include "storage/identity_format.h"

class RegData;

class TaxRate {
 public:
  static constexpr size_t kSize = identity::kTaxRateSize;
  static constexpr size_t kRateWordOffset = 0;
  static constexpr size_t kNameOffset = 2;
  static constexpr size_t kNameSize = 30;
  static constexpr uint16_t kRateMask = 0x3FFF;
  static constexpr uint16_t kMaxRate = 9999;  // 99.99 %
  static constexpr size_t kCount = identity::kTaxRateCount;

  // How the tax is found in an amount.
  enum Type : uint8_t {
    kNoTax = 0,     // the whole amount is booked to the rate
    kIncluded = 1,  // amount * r / (100 + r)
    kOnTop = 2,     // amount * r / 100
    kUnused = 3,
  };

  // All zero: type 0, rate 0, no name.
  TaxRate();
  // False, leaving the record unchanged, unless the image is 32 bytes.
  bool parse(const std::string& image);
  std::string image() const;

  uint16_t rateWord() const;
  void setRateWord(uint16_t word);
  uint8_t type() const;
  // Only the low two bits are used; the rate is kept.
  void setType(uint8_t type);
  uint16_t rate() const;
  // The value is masked to 14 bits (0x4000 + 5 stores 5); the type is kept.
  void setRate(uint16_t rate);
  // The rate at scale 100: 2000 reads as 20.00.
  Decimal rateDecimal() const;
  std::string name() const;
  // Up to 30 bytes; a longer or empty input leaves the name empty.
  void setName(const std::string& cp866);

  // Rate at most 99.99 %, type not unused and a name.
  bool isValid() const;
  bool isWithoutTax() const;
  // The part of `amount` booked to this tax, at the amount's scale; zero
  // for an invalid rate or an amount not above zero.
  Decimal taxAmount(const Decimal& amount) const;
  // The name when valid, otherwise empty.
  std::string printName() const;
  // Names and rate words; bytes after a name's NUL do not count.
  bool operator==(const TaxRate& other) const;
  bool operator!=(const TaxRate& other) const { return !(*this == other); }

  // Container 13105 + index of type, rate and name; an empty element for an
  // index of 5 or more.
  TlvElement toTlv(size_t index) const;
  // The receipt form: the same with the amount at scale 100 after the name,
  // as 8 bytes little-endian.
  TlvElement toReceiptTlv(size_t index, const Decimal& amount) const;
  // Reads either form: pass amount == nullptr for the first one, where an
  // amount tag is unknown. Any unknown tag or a damaged inner list fails.
  // The record and index are written as the parse goes, also on failure;
  // the amount is written only when the element carries one.
  static bool fromTlv(const TlvElement& e, TaxRate* out, size_t* index, Decimal* amount);

 private:
  TlvElement makeTlv(size_t index, const Decimal* amount) const;

  uint8_t bytes_[kSize];
};

// At least one of the five records is in use with a rate the register can
// compute with; names are not looked at.
bool hasUsableTaxes(const RegData& reg);

#endif  // FR_STORAGE_TAX_RATE_H_
