// TLV data elements: tag (2, LE) | length L (2, LE) | value (L). A list is
// elements back to back; a composite element's value is such a list.
#ifndef FR_DOCUMENTS_TLV_ELEMENT_H_
#define FR_DOCUMENTS_TLV_ELEMENT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "documents/decimal.h"
#include "documents/tlv_tags.h"

class TlvElement {
 public:
  static constexpr size_t kHeaderSize = 4;
  static constexpr size_t kMaxValueSize = 65534;
  static constexpr int kMaxFvlnPlaces = 9;  // 10^9 is the largest 32-bit scale

  TlvElement() : tag_(0) {}
  TlvElement(uint16_t tag, std::string value) : tag_(tag), value_(std::move(value)) {}

  static TlvElement fromByte(uint16_t tag, uint8_t v);
  static TlvElement fromU16(uint16_t tag, uint16_t v);
  static TlvElement fromU32(uint16_t tag, uint32_t v);
  // Signed little-endian with the high zero bytes dropped (at least one
  // byte); a negative value keeps all 8.
  static TlvElement fromVln(uint16_t tag, int64_t v);
  // Places byte, then the mantissa as a VLN.
  static TlvElement fromFvln(uint16_t tag, const Decimal& d);
  static TlvElement fromString(uint16_t tag, const std::string& bytes);
  static TlvElement fromList(uint16_t tag, const std::vector<TlvElement>& elements);

  uint16_t tag() const { return tag_; }
  const std::string& value() const { return value_; }
  // Tag not 0 and value at most 65534 bytes.
  bool isValid() const { return tag_ != 0 && value_.size() <= kMaxValueSize; }

  // Readers: wrong lengths give 0 with *present false.
  uint8_t asByte(bool* present = nullptr) const;
  uint16_t asU16(bool* present = nullptr) const;
  uint32_t asU32(bool* present = nullptr) const;
  uint64_t asU32OrU64(bool* present = nullptr) const;
  int64_t asVln(bool* present = nullptr) const;
  // A places byte above 9 is refused: absent, default Decimal.
  Decimal asFvln(bool* present = nullptr) const;
  std::string asString(bool* present = nullptr) const;
  // The value decoded as a list; *complete when it was consumed whole and
  // held at least one element.
  std::vector<TlvElement> asList(bool* complete = nullptr) const;

  // Empty for an invalid element.
  std::string encode() const;
  // Takes one element off the front of *buffer (valid or not); false, with
  // the buffer unchanged, when no whole element is there.
  static bool decodeFront(std::string* buffer, TlvElement* out);
  // One element that fills the whole buffer.
  static bool decode(const std::string& buffer, TlvElement* out);
  static std::vector<TlvElement> decodeList(const std::string& bytes, bool* complete = nullptr);
  static std::string encodeList(const std::vector<TlvElement>& elements);

 private:
  uint16_t tag_;
  std::string value_;
};

#endif  // FR_DOCUMENTS_TLV_ELEMENT_H_
