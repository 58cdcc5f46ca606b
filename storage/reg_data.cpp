#include "storage/reg_data.h"

#include <cstring>

#include "storage/tax_rate.h"
#include "util/coding.h"
#include "util/crc.h"

using namespace identity;

namespace {
const size_t kTextOffsets[3] = {kText1Offset, kText2Offset, kText3Offset};
}  // namespace

RegData::RegData() {
  memset(bytes_, 0, sizeof(bytes_));
  for (size_t i = 0; i < kTaxRateCount; ++i) {
    bytes_[kTaxRatesOffset + i * kTaxRateSize + 1] = kUnusedTaxRateType;
  }
}

bool RegData::parse(const std::string& image) {
  if (image.size() != sizeof(bytes_)) return false;
  memcpy(bytes_, image.data(), sizeof(bytes_));
  return true;
}

std::string RegData::field(size_t offset, size_t size) const {
  const char* p = reinterpret_cast<const char*>(bytes_ + offset);
  if (bytes_[offset + size - 1] != 0) return std::string(p, size) + std::string(1, '\0');
  return std::string(p, strnlen(p, size));
}

void RegData::setField(size_t offset, size_t size, const std::string& text) {
  if (text.size() > size) return;
  memset(bytes_ + offset, 0, size);
  memcpy(bytes_ + offset, text.data(), text.size());
}

std::string RegData::fnNumber() const { return field(kFnOffset, kFnSize); }
std::string RegData::inn() const { return field(kInnOffset, kInnSize); }
std::string RegData::text(int index) const {
  if (index < 0 || index > 2) return std::string();
  return field(kTextOffsets[index], kTextSize);
}
void RegData::setFnNumber(const std::string& text) { setField(kFnOffset, kFnSize, text); }
void RegData::setInn(const std::string& text) { setField(kInnOffset, kInnSize, text); }
void RegData::setText(int index, const std::string& cp866) {
  if (index >= 0 && index <= 2) setField(kTextOffsets[index], kTextSize, cp866);
}

int32_t RegData::registrationTime() const {
  return static_cast<int32_t>(util::DecodeFixed32(bytes_ + kRegTimeOffset));
}
void RegData::setRegistrationTime(int32_t t) {
  util::EncodeFixed32(bytes_ + kRegTimeOffset, static_cast<uint32_t>(t));
}
uint32_t RegData::archiveNumber() const { return util::DecodeFixed32(bytes_ + kArchiveNumberOffset); }
void RegData::setArchiveNumber(uint32_t number) { util::EncodeFixed32(bytes_ + kArchiveNumberOffset, number); }
uint32_t RegData::checkValue() const { return util::DecodeFixed32(bytes_ + kRegCheckOffset); }
void RegData::setCheckValue(uint32_t value) { util::EncodeFixed32(bytes_ + kRegCheckOffset, value); }

std::string RegData::taxRateImage(size_t index) const {
  if (index >= kTaxRateCount) return std::string();
  return std::string(reinterpret_cast<const char*>(bytes_ + kTaxRatesOffset + index * kTaxRateSize),
                     kTaxRateSize);
}

void RegData::setTaxRateImage(size_t index, const std::string& image) {
  if (index >= kTaxRateCount || image.size() != kTaxRateSize) return;
  memcpy(bytes_ + kTaxRatesOffset + index * kTaxRateSize, image.data(), kTaxRateSize);
}

uint32_t RegData::computeCheckValue(const std::string& serial, const std::string& key) const {
  return util::Crc32(fnNumber() + inn() + serial + key);
}

bool RegData::isValid() const {
  return !fnNumber().empty() && checkValue() != 0 && !inn().empty() && !text(0).empty() &&
         !text(1).empty() && !text(2).empty() && registrationTime() > 0;
}

bool RegData::operator==(const RegData& other) const {
  return fnNumber() == other.fnNumber() && checkValue() == other.checkValue() &&
         inn() == other.inn() && text(0) == other.text(0) && text(1) == other.text(1) &&
         text(2) == other.text(2);
}

TlvElement RegData::fieldAsTlv(uint16_t t) const {
  switch (t) {
    case tag::kFnNumber:
      return TlvElement::fromString(t, fnNumber());
    case tag::kInn:
      return TlvElement::fromString(t, inn());
    case tag::kFirstRegText:
      return TlvElement::fromString(t, text(0));
    case tag::kSecondRegText:
      return TlvElement::fromString(t, text(1));
    case tag::kThirdRegText:
      return TlvElement::fromString(t, text(2));
    case tag::kDateTime:
      return TlvElement::fromU32(t, static_cast<uint32_t>(registrationTime()));
    case tag::kArchiveNumber:
      return TlvElement::fromU32(t, archiveNumber());
    default:
      break;
  }
  if (t >= tag::kTaxRateFirst && t < tag::kTaxRateFirst + kTaxRateCount) {
    const size_t index = t - tag::kTaxRateFirst;
    TaxRate rate;
    rate.parse(taxRateImage(index));
    return rate.toTlv(index);
  }
  return TlvElement();
}

std::vector<TlvElement> RegData::asTlvList() const {
  std::vector<TlvElement> list;
  for (uint16_t t : {tag::kFnNumber, tag::kInn, tag::kFirstRegText, tag::kSecondRegText,
                     tag::kThirdRegText, tag::kArchiveNumber}) {
    list.push_back(fieldAsTlv(t));
  }
  for (size_t i = 0; i < kTaxRateCount; ++i) {
    TaxRate rate;
    rate.parse(taxRateImage(i));
    if (rate.isValid()) list.push_back(rate.toTlv(i));
  }
  return list;
}
