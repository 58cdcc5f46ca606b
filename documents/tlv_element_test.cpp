#include "documents/tlv_element.h"

#include <gtest/gtest.h>

namespace {

std::string Bytes(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s.push_back(static_cast<char>(b));
  return s;
}

TEST(TlvElementTest, VlnEncodings) {
  struct Case {
    int64_t v;
    std::string bytes;
  };
  const Case cases[] = {
      {0, Bytes({0x00})},
      {1250, Bytes({0xE2, 0x04})},
      {-1, std::string(8, '\xFF')},
      {0x0100, Bytes({0x00, 0x01})},
      {INT64_MAX, Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F})},
  };
  for (const Case& c : cases) {
    const TlvElement e = TlvElement::fromVln(tag::kPrice, c.v);
    EXPECT_EQ(c.bytes, e.value()) << c.v;
    bool present = false;
    EXPECT_EQ(c.v, e.asVln(&present));
    EXPECT_TRUE(present);
  }
  // Short values are padded with zeros, never sign-extended; long ones cut.
  EXPECT_EQ(255, TlvElement(tag::kPrice, Bytes({0xFF})).asVln());
  EXPECT_EQ(1, TlvElement(tag::kPrice, Bytes({1, 0, 0, 0, 0, 0, 0, 0, 9})).asVln());
}

TEST(TlvElementTest, FvlnEncodings) {
  const TlvElement q = TlvElement::fromFvln(tag::kQuantity, Decimal(1000, 1500));
  EXPECT_EQ(Bytes({0x03, 0xDC, 0x05}), q.value());
  bool present = false;
  Decimal d = TlvElement(tag::kQuantity, Bytes({0x03, 0xDC, 0x05})).asFvln(&present);
  EXPECT_TRUE(present);
  EXPECT_EQ(1000u, d.scale());
  EXPECT_EQ("1.500", d.toString());
  d = TlvElement(tag::kQuantity, Bytes({0x02})).asFvln(&present);
  EXPECT_TRUE(present);
  EXPECT_EQ("0.00", d.toString());
  // Ten places have no 32-bit scale: refused.
  TlvElement(tag::kQuantity, Bytes({0x0A, 0x01})).asFvln(&present);
  EXPECT_FALSE(present);
  TlvElement(tag::kQuantity, "").asFvln(&present);
  EXPECT_FALSE(present);
}

TEST(TlvElementTest, FixedWidthReadersNeedTheirExactLength) {
  struct Case {
    std::string value;
    bool byte, u16, u32, u32_or_u64;
  };
  const Case cases[] = {
      {Bytes({1}), true, false, false, false},
      {Bytes({1, 2}), false, true, false, false},
      {Bytes({1, 2, 3}), false, false, false, false},
      {Bytes({1, 2, 3, 4}), false, false, true, true},
      {Bytes({1, 2, 3, 4, 5, 6, 7, 8}), false, false, false, true},
  };
  for (const Case& c : cases) {
    const TlvElement e(tag::kDocumentNumber, c.value);
    bool p = !c.byte;
    EXPECT_EQ(c.byte ? 1 : 0, e.asByte(&p));
    EXPECT_EQ(c.byte, p);
    p = !c.u16;
    EXPECT_EQ(c.u16 ? 0x0201 : 0, e.asU16(&p));
    EXPECT_EQ(c.u16, p);
    p = !c.u32;
    EXPECT_EQ(c.u32 ? 0x04030201u : 0u, e.asU32(&p));
    EXPECT_EQ(c.u32, p);
    p = !c.u32_or_u64;
    const uint64_t wide = e.asU32OrU64(&p);
    EXPECT_EQ(c.u32_or_u64, p);
    if (c.value.size() == 8) {
      EXPECT_EQ(0x0807060504030201ull, wide);
    }
  }
}

TEST(TlvElementTest, ElementAndListRoundTrip) {
  const std::vector<TlvElement> line = {
      TlvElement::fromString(tag::kLineName, "\x8C\xEB\xAB\xAE"),
      TlvElement::fromVln(tag::kPrice, 1250),
      TlvElement::fromFvln(tag::kQuantity, Decimal(1000, 2000)),
      TlvElement::fromByte(tag::kLineTaxNumber, 1),
  };
  const TlvElement outer = TlvElement::fromList(tag::kReceiptLine, line);
  const std::string wire = outer.encode();
  EXPECT_EQ(Bytes({0x33, 0x2B}), wire.substr(0, 2));  // 11059 little-endian
  TlvElement back;
  ASSERT_TRUE(TlvElement::decode(wire, &back));
  EXPECT_EQ(tag::kReceiptLine, back.tag());
  bool complete = false;
  const std::vector<TlvElement> inner = back.asList(&complete);
  EXPECT_TRUE(complete);
  ASSERT_EQ(line.size(), inner.size());
  for (size_t i = 0; i < line.size(); ++i) {
    EXPECT_EQ(line[i].tag(), inner[i].tag());
    EXPECT_EQ(line[i].value(), inner[i].value());
  }
  EXPECT_FALSE(TlvElement::decode(wire + "x", &back));
  EXPECT_FALSE(TlvElement::decode(wire.substr(0, 3), &back));
}

TEST(TlvElementTest, ListWithStrayBytesKeepsWhatCameBefore) {
  const std::string two = TlvElement::fromByte(tag::kReceiptType, 2).encode() +
                          TlvElement::fromU16(tag::kShiftNumber, 7).encode();
  struct Case {
    std::string bytes;
    size_t count;
    bool complete;
  };
  const Case cases[] = {
      {two, 2, true},
      {two + Bytes({1, 2, 3}), 2, false},                      // 3 stray bytes
      {two + Bytes({0x01, 0x00, 0x05, 0x00, 0x01}), 2, false},  // length past the end
      {"", 0, false},
      {Bytes({0x00, 0x00, 0x01, 0x00, 0x09}) + two, 2, true},  // tag 0 is dropped
  };
  for (const Case& c : cases) {
    bool complete = !c.complete;
    EXPECT_EQ(c.count, TlvElement::decodeList(c.bytes, &complete).size());
    EXPECT_EQ(c.complete, complete);
  }
}

TEST(TlvElementTest, InvalidElementsEncodeToNothing) {
  EXPECT_EQ("", TlvElement(tag::kLineName, std::string(65535, 'x')).encode());
  EXPECT_EQ(65538u, TlvElement(tag::kLineName, std::string(65534, 'x')).encode().size());
  EXPECT_EQ("", TlvElement(0, "abc").encode());
  // Decoded, a 65535-byte value is not kept either.
  std::string big = Bytes({0x16, 0x2B, 0xFF, 0xFF}) + std::string(65535, 'y');
  bool complete = false;
  EXPECT_TRUE(TlvElement::decodeList(big, &complete).empty());
  EXPECT_TRUE(complete);
}

TEST(TlvElementTest, DecodeFrontTakesOneElementOff) {
  std::string buffer = TlvElement::fromU32(tag::kDocumentNumber, 9).encode() + Bytes({7, 7});
  TlvElement e;
  ASSERT_TRUE(TlvElement::decodeFront(&buffer, &e));
  EXPECT_EQ(9u, e.asU32());
  EXPECT_EQ(Bytes({7, 7}), buffer);
  EXPECT_FALSE(TlvElement::decodeFront(&buffer, &e));
  EXPECT_EQ(Bytes({7, 7}), buffer);
}

}  // namespace
