#include "storage/tax_rate.h"

#include <gtest/gtest.h>

#include <vector>

#include "storage/reg_data.h"
#include "util/coding.h"

namespace {

TaxRate Make(uint16_t word, const std::string& name) {
  TaxRate t;
  t.setRateWord(word);
  t.setName(name);
  return t;
}

std::string Word(uint16_t w) {
  std::string s;
  util::PutFixed16(&s, w);
  return s;
}

TEST(TaxRateTest, ImageLayout) {
  EXPECT_EQ(std::string(32, '\0'), TaxRate().image());
  std::string image = Word(0x47D0) + "VAT 20" + std::string(24, '\0');
  TaxRate t;
  ASSERT_TRUE(t.parse(image));
  EXPECT_EQ(image, t.image());
  EXPECT_EQ(0x47D0, t.rateWord());
  EXPECT_EQ(1, t.type());
  EXPECT_EQ(2000, t.rate());
  EXPECT_EQ(2000, t.rateDecimal().mantissa());
  EXPECT_EQ(100u, t.rateDecimal().scale());
  EXPECT_EQ("VAT 20", t.name());
  EXPECT_FALSE(t.parse(image.substr(1)));
  EXPECT_FALSE(t.parse(image + "x"));
  EXPECT_EQ(image, t.image());  // a refused image changes nothing
}

TEST(TaxRateTest, TypeAndRateBitsStaySeparate) {
  struct Case { uint16_t word; int type; int rate; uint16_t expected; };
  const Case cases[] = {
      {0x8000, -1, 2000, 0x87D0}, {0x87D0, -1, 0x4005, 0x8005},  // rate masked to 14 bits
      {0x87D0, -1, 0xFFFF, 0xBFFF}, {0x07D0, 1, -1, 0x47D0},
      {0xC7D0, 0, -1, 0x07D0},      {0x07D0, 7, -1, 0xC7D0},     // type masked to 2 bits
  };
  for (const Case& c : cases) {
    TaxRate t = Make(c.word, "N");
    if (c.type >= 0) t.setType(static_cast<uint8_t>(c.type));
    if (c.rate >= 0) t.setRate(static_cast<uint16_t>(c.rate));
    EXPECT_EQ(c.expected, t.rateWord()) << std::hex << c.word;
    EXPECT_EQ("N", t.name());
  }
}

TEST(TaxRateTest, NameRules) {
  const std::string n30(30, 'A');
  struct Case { std::string image_name; std::string set; std::string expected; };
  const Case cases[] = {
      {"OLD", n30, n30},                      // exactly 30 bytes fits
      {"OLD", n30 + "B", ""},                 // 31 bytes leaves the name empty
      {"OLD", "", ""},
      {"OLD", "NEW", "NEW"},                  // the longer old name does not show through
      {std::string("AB\0CD", 5), "-", "AB"},  // ends at the first NUL
      {std::string("AB\0", 3) + std::string(27, 'C'), "-", std::string("AB\0", 3) + std::string(27, 'C')},
  };
  for (const Case& c : cases) {
    TaxRate t;
    std::string image = Word(0) + c.image_name;
    image.resize(32, '\0');
    ASSERT_TRUE(t.parse(image));
    if (c.set != "-") t.setName(c.set);
    EXPECT_EQ(c.expected, t.name()) << c.set.size();
  }
}

TEST(TaxRateTest, Validity) {
  struct Case { uint16_t word; const char* name; bool valid; bool without_tax; };
  const Case cases[] = {
      {0x0000, "A", true, true},    {0x0000, "", false, true},     {0x47D0, "A", true, false},
      {0x4000 + 9999, "A", true, false}, {0x0000 + 10000, "A", false, true},
      {0x4000 + 10000, "A", false, false}, {0x8000 + 10000, "A", false, false},
      {0xC000 + 1800, "A", false, false}, {0xC000, "A", false, true},  {0x8000, "A", true, true},
  };
  for (const Case& c : cases) {
    const TaxRate t = Make(c.word, c.name);
    EXPECT_EQ(c.valid, t.isValid()) << std::hex << c.word;
    EXPECT_EQ(c.without_tax, t.isWithoutTax()) << std::hex << c.word;
    EXPECT_EQ(c.valid ? std::string(c.name) : std::string(), t.printName()) << std::hex << c.word;
  }
}

TEST(TaxRateTest, TaxAmount) {
  struct Case { uint16_t word; uint32_t scale; int64_t amount; int64_t expected; };
  const Case cases[] = {
      {0x4000 + 2000, 100, 0, 0},         {0x4000 + 2000, 100, -500, 0},
      {0x0000, 100, 750, 750},            {0x8000, 100, 1234, 1234},  // rate 0 before the type
      {0x0000 + 2000, 100, 500, 500},     {0xC000 + 1800, 100, 10000, 0},
      {0x8000 + 10000, 100, 10000, 0},    {0x4000 + 2000, 100, 12000, 2000},
      {0x4000 + 2000, 100, 100000, 16670},  // k = 0.1667 first, not 166.67
      {0x8000 + 1000, 100, 1230, 123},    {0x8000 + 1800, 1000, 1000, 180},
      {0xC000 + 1800, 1000, 1000, 0},
  };
  for (const Case& c : cases) {
    const Decimal r = Make(c.word, "T").taxAmount(Decimal(c.scale, c.amount));
    EXPECT_EQ(c.scale, r.scale()) << std::hex << c.word << std::dec << " " << c.amount;
    EXPECT_EQ(c.expected, r.mantissa()) << std::hex << c.word << std::dec << " " << c.amount;
  }
}

TEST(TaxRateTest, EqualityIgnoresBytesAfterTheName) {
  const TaxRate a = Make(0x47D0, "VAT");
  std::string image = a.image();
  image[10] = 'x';  // after the NUL that ends the name
  TaxRate b;
  ASSERT_TRUE(b.parse(image));
  EXPECT_TRUE(a == b);
  EXPECT_FALSE(a == Make(0x47D1, "VAT"));
  EXPECT_FALSE(a == Make(0x87D0, "VAT"));
  EXPECT_FALSE(a == Make(0x47D0, "VAT2"));
}

TEST(TaxRateTest, TlvLayout) {
  const TaxRate t = Make(0x47D0, "VAT");
  const TlvElement e = t.toReceiptTlv(2, Decimal(100, 0x0102));
  EXPECT_EQ(13107, e.tag());
  const std::string expected = TlvElement::fromByte(13102, 1).encode() +
                               TlvElement::fromU16(13103, 2000).encode() +
                               TlvElement::fromString(13104, "VAT").encode() +
                               TlvElement(11102, std::string("\x02\x01\0\0\0\0\0\0", 8)).encode();
  EXPECT_EQ(expected, e.value());
  EXPECT_EQ(expected.substr(0, expected.size() - 12), t.toTlv(2).value());
  EXPECT_EQ(0, t.toTlv(5).tag());
  EXPECT_EQ("", t.toTlv(5).value());
  EXPECT_EQ(0, t.toReceiptTlv(5, Decimal(100, 1)).tag());
}

TEST(TaxRateTest, TlvRoundTrip) {
  struct Case { uint16_t word; std::string name; size_t index; int64_t amount; };
  const Case cases[] = {
      {0x47D0, "VAT 20", 0, 12000}, {0x0000, std::string(30, 'Z'), 4, -1},
      {0xBFFF, "X", 3, INT64_MIN},  {0x8000 + 1000, "", 1, INT64_MAX},
  };
  for (const Case& c : cases) {
    const TaxRate t = Make(c.word, c.name);
    TaxRate got = Make(0x1234, "junk");
    size_t index = 99;
    ASSERT_TRUE(TaxRate::fromTlv(t.toTlv(c.index), &got, &index, nullptr)) << c.index;
    EXPECT_TRUE(got == t) << c.index;
    EXPECT_EQ(c.index, index);
    Decimal amount(1000, 7);
    got = TaxRate();
    ASSERT_TRUE(TaxRate::fromTlv(t.toReceiptTlv(c.index, Decimal(100, c.amount)), &got, &index, &amount));
    EXPECT_TRUE(got == t) << c.index;
    EXPECT_EQ(100u, amount.scale());
    EXPECT_EQ(c.amount, amount.mantissa());
  }
}

TEST(TaxRateTest, FromTlvReadsShortAndOddFieldsLeniently) {
  const TlvElement type1 = TlvElement::fromByte(13102, 1);
  const TlvElement rate = TlvElement::fromU16(13103, 2000);
  struct Case {
    const char* what;
    std::vector<TlvElement> inner;
    uint16_t word;
    std::string name;
    int64_t amount;
  };
  const Case cases[] = {
      {"rate 1 byte", {type1, TlvElement(13103, "\x05")}, 0x4000, "", 7},
      {"rate 3 bytes", {type1, TlvElement(13103, std::string("\x05\0\0", 3))}, 0x4000, "", 7},
      {"type 2 bytes", {TlvElement(13102, std::string("\x01\0", 2)), rate}, 2000, "", 7},
      {"no type", {rate, TlvElement::fromString(13104, "N")}, 0xC000 + 2000, "N", 7},
      {"rate above 14 bits", {type1, TlvElement::fromU16(13103, 0xFFFF)}, 0x7FFF, "", 7},
      {"name 31 bytes", {type1, rate, TlvElement::fromString(13104, std::string(31, 'N'))}, 0x47D0, "", 7},
      {"short amount", {type1, TlvElement(11102, "\x10\x01")}, 0x4000, "", 0x0110},
      {"long amount", {type1, TlvElement(11102, std::string("\x05\0\0\0\0\0\0\0\x09", 9))}, 0x4000, "", 5},
  };
  for (const Case& c : cases) {
    TaxRate got = Make(0x1234, "junk");
    size_t index = 99;
    Decimal amount(100, 7);
    ASSERT_TRUE(TaxRate::fromTlv(TlvElement::fromList(13109, c.inner), &got, &index, &amount)) << c.what;
    EXPECT_EQ(4u, index) << c.what;
    EXPECT_EQ(c.word, got.rateWord()) << c.what;
    EXPECT_EQ(c.name, got.name()) << c.what;
    EXPECT_EQ(c.amount, amount.mantissa()) << c.what;
  }
}

TEST(TaxRateTest, FromTlvFailures) {
  const TaxRate t = Make(0x47D0, "VAT");
  const std::string good = t.toTlv(0).value();
  struct Case { const char* what; TlvElement e; bool receipt; };
  const Case cases[] = {
      {"tag 13110", TlvElement(13110, good), false},
      {"tag 13104", TlvElement(13104, good), false},
      {"amount in the first form", t.toReceiptTlv(0, Decimal(100, 5)), false},
      {"unknown inner tag", TlvElement::fromList(13105, {TlvElement::fromByte(1057, 1)}), true},
      {"truncated inner list", TlvElement(13105, good.substr(0, good.size() - 1)), true},
      {"empty container", TlvElement(13105, ""), true},
  };
  for (const Case& c : cases) {
    TaxRate got;
    size_t index = 0;
    Decimal amount;
    EXPECT_FALSE(TaxRate::fromTlv(c.e, &got, &index, c.receipt ? &amount : nullptr)) << c.what;
  }
  TaxRate got;
  EXPECT_FALSE(TaxRate::fromTlv(t.toTlv(0), nullptr, nullptr, nullptr));
  EXPECT_TRUE(TaxRate::fromTlv(t.toTlv(0), &got, nullptr, nullptr));
}

TEST(TaxRateTest, UsableTaxes) {
  struct Case { const char* what; size_t index; uint16_t word; bool usable; };
  const Case cases[] = {
      {"all unused", 0, 0xC000, false},      {"type 0 rate 0, no name", 0, 0x0000, true},
      {"rate 10000", 2, 0x4000 + 10000, false}, {"rate 9999 in the last slot", 4, 0x8000 + 9999, true},
      {"unused with a rate", 1, 0xC000 + 1800, false},
  };
  for (const Case& c : cases) {
    RegData reg;
    reg.setTaxRateImage(c.index, Make(c.word, "").image());
    EXPECT_EQ(c.usable, hasUsableTaxes(reg)) << c.what;
  }
}

}  // namespace
