// Feeds arbitrary bytes to the TLV decoders and every reader, then checks
// that whatever decoded as a valid element survives an encode/decode trip.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "documents/tlv_element.h"

namespace {

void Check(bool ok) {
  if (!ok) abort();  // a broken round trip is a finding, make it a crash
}

void ReadAll(const TlvElement& e, int depth) {
  bool present = false;
  e.asByte(&present);
  e.asU16(&present);
  e.asU32(&present);
  e.asU32OrU64(&present);
  e.asVln(&present);
  Decimal d = e.asFvln(&present);
  if (present) {
    d.toString();
    // An accepted FVLN must come back out in the same form.
    TlvElement again = TlvElement::fromFvln(e.tag(), d);
    bool p2 = false;
    Decimal d2 = again.asFvln(&p2);
    Check(p2 && d2.scale() == d.scale() && d2.mantissa() == d.mantissa());
  }
  e.asString(&present);
  bool complete = false;
  std::vector<TlvElement> inner = e.asList(&complete);
  // Bound the recursion: nested lists shrink by 4 bytes per level anyway.
  if (depth < 8) {
    for (const TlvElement& i : inner) ReadAll(i, depth + 1);
  }
  if (e.isValid()) {
    std::string enc = e.encode();
    Check(enc.size() == TlvElement::kHeaderSize + e.value().size());
    TlvElement back;
    Check(TlvElement::decode(enc, &back));
    Check(back.tag() == e.tag() && back.value() == e.value());
  } else {
    Check(e.encode().empty());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);

  bool complete = false;
  std::vector<TlvElement> list = TlvElement::decodeList(bytes, &complete);
  for (const TlvElement& e : list) {
    Check(e.isValid());  // invalid elements are dropped by the list decoder
    ReadAll(e, 0);
  }
  // Re-encoding keeps what decoded and never invents bytes.
  const std::string reencoded = TlvElement::encodeList(list);
  Check(reencoded.size() <= bytes.size());
  if (complete) {
    bool again_complete = false;
    std::vector<TlvElement> again = TlvElement::decodeList(reencoded, &again_complete);
    Check(again.size() == list.size());
    for (size_t i = 0; i < again.size(); ++i) {
      Check(again[i].tag() == list[i].tag() && again[i].value() == list[i].value());
    }
  }

  TlvElement one;
  if (TlvElement::decode(bytes, &one)) ReadAll(one, 0);

  // decodeFront must either consume a whole element or leave the buffer alone.
  std::string buffer = bytes;
  for (int i = 0; i < 64; ++i) {
    const std::string before = buffer;
    TlvElement e;
    if (!TlvElement::decodeFront(&buffer, &e)) {
      Check(buffer == before);
      break;
    }
    Check(before.size() == buffer.size() + TlvElement::kHeaderSize + e.value().size());
  }

  // The numeric constructors round-trip through their readers.
  if (size >= 10) {
    uint16_t tag = static_cast<uint16_t>(data[0] | (data[1] << 8));
    if (tag == 0) tag = 1;
    int64_t v = 0;
    for (int i = 0; i < 8; ++i) v |= static_cast<int64_t>(data[2 + i]) << (8 * i);
    bool p = false;
    Check(TlvElement::fromVln(tag, v).asVln(&p) == v && p);
    Check(TlvElement::fromU32(tag, static_cast<uint32_t>(v)).asU32(&p) == static_cast<uint32_t>(v) && p);
    Check(TlvElement::fromU16(tag, static_cast<uint16_t>(v)).asU16(&p) == static_cast<uint16_t>(v) && p);
    Check(TlvElement::fromByte(tag, static_cast<uint8_t>(v)).asByte(&p) == static_cast<uint8_t>(v) && p);
  }
  return 0;
}
