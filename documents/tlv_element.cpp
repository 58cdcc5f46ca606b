#include "documents/tlv_element.h"

#include "util/coding.h"

namespace {

constexpr size_t kVlnWidth = 8;

void SetPresent(bool* present, bool value) {
  if (present != nullptr) *present = value;
}

// Little-endian signed value padded with zeros at the high end (never
// sign-extended) or cut to 8 bytes.
int64_t ReadVln(const std::string& bytes) {
  uint8_t buf[kVlnWidth] = {0};
  for (size_t i = 0; i < bytes.size() && i < kVlnWidth; ++i) buf[i] = static_cast<uint8_t>(bytes[i]);
  return static_cast<int64_t>(util::DecodeFixed64(buf));
}

std::string VlnBytes(int64_t v) {
  std::string out;
  util::PutFixed64(&out, static_cast<uint64_t>(v));
  if (v >= 0) {
    while (out.size() > 1 && out.back() == '\0') out.pop_back();
  }
  return out;
}

}  // namespace

TlvElement TlvElement::fromByte(uint16_t tag, uint8_t v) {
  return TlvElement(tag, std::string(1, static_cast<char>(v)));
}

TlvElement TlvElement::fromU16(uint16_t tag, uint16_t v) {
  std::string value;
  util::PutFixed16(&value, v);
  return TlvElement(tag, value);
}

TlvElement TlvElement::fromU32(uint16_t tag, uint32_t v) {
  std::string value;
  util::PutFixed32(&value, v);
  return TlvElement(tag, value);
}

TlvElement TlvElement::fromVln(uint16_t tag, int64_t v) { return TlvElement(tag, VlnBytes(v)); }

TlvElement TlvElement::fromFvln(uint16_t tag, const Decimal& d) {
  return TlvElement(tag, std::string(1, static_cast<char>(d.places())) + VlnBytes(d.mantissa()));
}

TlvElement TlvElement::fromString(uint16_t tag, const std::string& bytes) {
  return TlvElement(tag, bytes);
}

TlvElement TlvElement::fromList(uint16_t tag, const std::vector<TlvElement>& elements) {
  return TlvElement(tag, encodeList(elements));
}

uint8_t TlvElement::asByte(bool* present) const {
  SetPresent(present, value_.size() == 1);
  return value_.size() == 1 ? static_cast<uint8_t>(value_[0]) : 0;
}

uint16_t TlvElement::asU16(bool* present) const {
  SetPresent(present, value_.size() == 2);
  return value_.size() == 2 ? util::GetFixed16(value_, 0) : 0;
}

uint32_t TlvElement::asU32(bool* present) const {
  SetPresent(present, value_.size() == 4);
  return value_.size() == 4 ? util::GetFixed32(value_, 0) : 0;
}

uint64_t TlvElement::asU32OrU64(bool* present) const {
  if (value_.size() == 4) {
    SetPresent(present, true);
    return util::GetFixed32(value_, 0);
  }
  SetPresent(present, value_.size() == 8);
  return value_.size() == 8 ? util::GetFixed64(value_, 0) : 0;
}

int64_t TlvElement::asVln(bool* present) const {
  SetPresent(present, !value_.empty());
  return ReadVln(value_);
}

Decimal TlvElement::asFvln(bool* present) const {
  const int places = value_.empty() ? 0 : static_cast<uint8_t>(value_[0]);
  if (value_.empty() || places > kMaxFvlnPlaces) {
    SetPresent(present, false);
    return Decimal();
  }
  Decimal d(1, ReadVln(value_.substr(1)));
  d.setPlaces(places);
  SetPresent(present, true);
  return d;
}

std::string TlvElement::asString(bool* present) const {
  SetPresent(present, true);
  return value_;
}

std::vector<TlvElement> TlvElement::asList(bool* complete) const { return decodeList(value_, complete); }

std::string TlvElement::encode() const {
  if (!isValid()) return std::string();
  std::string out;
  out.reserve(kHeaderSize + value_.size());
  util::PutFixed16(&out, tag_);
  util::PutFixed16(&out, static_cast<uint16_t>(value_.size()));
  out += value_;
  return out;
}

bool TlvElement::decodeFront(std::string* buffer, TlvElement* out) {
  if (buffer->size() < kHeaderSize) return false;
  const size_t length = util::GetFixed16(*buffer, 2);
  if (length > buffer->size() - kHeaderSize) return false;
  *out = TlvElement(util::GetFixed16(*buffer, 0), buffer->substr(kHeaderSize, length));
  buffer->erase(0, kHeaderSize + length);
  return true;
}

bool TlvElement::decode(const std::string& buffer, TlvElement* out) {
  if (buffer.size() < kHeaderSize) return false;
  const size_t length = util::GetFixed16(buffer, 2);
  if (buffer.size() != kHeaderSize + length) return false;
  *out = TlvElement(util::GetFixed16(buffer, 0), buffer.substr(kHeaderSize));
  return true;
}

std::vector<TlvElement> TlvElement::decodeList(const std::string& bytes, bool* complete) {
  std::vector<TlvElement> elements;
  size_t pos = 0;
  bool any = false;
  while (bytes.size() - pos >= kHeaderSize) {
    const size_t length = util::GetFixed16(bytes, pos + 2);
    if (length > bytes.size() - pos - kHeaderSize) break;
    TlvElement e(util::GetFixed16(bytes, pos), bytes.substr(pos + kHeaderSize, length));
    if (e.isValid()) elements.push_back(std::move(e));
    any = true;
    pos += kHeaderSize + length;
  }
  if (complete != nullptr) *complete = any && pos == bytes.size();
  return elements;
}

std::string TlvElement::encodeList(const std::vector<TlvElement>& elements) {
  std::string out;
  for (const TlvElement& e : elements) out += e.encode();
  return out;
}
