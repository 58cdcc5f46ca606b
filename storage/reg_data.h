// The registration record made at fiscalisation: FN number, taxpayer
// number, three head texts, five tax rates, time, archive number, check value.
#ifndef FR_STORAGE_REG_DATA_H_
#define FR_STORAGE_REG_DATA_H_

#include <cstdint>
#include <string>
#include <vector>

#include "documents/tlv_element.h"
#include "storage/identity_format.h"

class RegData {
 public:
  // All zero, each tax rate marked unused.
  RegData();
  // From a record image; false when it is not 968 bytes.
  bool parse(const std::string& image);
  std::string image() const { return std::string(reinterpret_cast<const char*>(bytes_), sizeof(bytes_)); }

  // Texts end at the first NUL; a field whose last byte is not NUL reads as
  // the whole field followed by one NUL byte.
  std::string fnNumber() const;
  std::string inn() const;
  std::string text(int index) const;  // 0, 1 or 2
  int32_t registrationTime() const;
  void setRegistrationTime(int32_t t);
  uint32_t archiveNumber() const;
  void setArchiveNumber(uint32_t number);
  uint32_t checkValue() const;
  void setCheckValue(uint32_t value);
  // Each leaves the field unchanged when the text is longer than the field.
  void setFnNumber(const std::string& text);
  void setInn(const std::string& text);
  void setText(int index, const std::string& cp866);
  // The 32-byte image of tax rate 0..4.
  std::string taxRateImage(size_t index) const;
  void setTaxRateImage(size_t index, const std::string& image);

  // One field as a TLV element: the texts (in their read form), the
  // registration time and archive number as u32, a tax rate in its
  // container form. Any other tag gives an empty element.
  TlvElement fieldAsTlv(uint16_t tag) const;
  // FN number, taxpayer number, the three texts, archive number, then every
  // valid tax rate in index order.
  std::vector<TlvElement> asTlvList() const;

  // CRC-32 of the FN number, the taxpayer number, the model's serial number
  // and the key.
  uint32_t computeCheckValue(const std::string& serial, const std::string& key) const;
  bool isValid() const;
  bool operator==(const RegData& other) const;

 private:
  std::string field(size_t offset, size_t size) const;
  void setField(size_t offset, size_t size, const std::string& text);

  uint8_t bytes_[identity::kRegDataSize];
};

#endif  // FR_STORAGE_REG_DATA_H_
