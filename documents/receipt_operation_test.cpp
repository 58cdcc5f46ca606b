#include "documents/receipt_operation.h"

#include <gtest/gtest.h>

#include "platform/fake_env.h"
#include "util/cp866.h"

namespace {

std::string Cp(const char* utf8) { return util::Utf8ToCp866(utf8); }

// The records a receipt would have resolved; the lines borrow them.
struct Records {
  Section section{2, ""};
  TaxRate vat;
  TaxRate exempt;
  Discount percent{1, tables::kPercentDiscount, 500, ""};  // 5 %
  Discount fixed{2, 0, 100, ""};                           // 1.00
  Discount empty{3, tables::kEmptyDiscountType, 100, ""};
  Discount huge_percent{4, tables::kPercentDiscount, INT64_MAX, ""};
  TaxRate unused;
  Section none{0, ""};
  Records() {
    unused.setType(TaxRate::kUnused);
    unused.setName(Cp("X"));
    vat.setType(TaxRate::kIncluded);
    vat.setRate(2000);
    vat.setName(Cp("НДС 20%"));
    exempt.setName(Cp("БЕЗ НДС"));
  }
};

// 19.99 x 0.333 kg, section 2, VAT 20 % included.
ReceiptOperation Line(const Records& r) {
  ReceiptOperation line;
  line.setName(Cp("Товар"));
  line.setUnit(Cp("кг"));
  line.setPrice(Decimal(100, 1999));
  line.setQuantity(Decimal(1000, 333));
  line.setSection(&r.section);
  line.setTaxRate(&r.vat, 1);
  return line;
}

std::vector<uint16_t> Tags(const TlvElement& e) {
  std::vector<uint16_t> tags;
  for (const TlvElement& item : e.asList()) tags.push_back(item.tag());
  return tags;
}

TEST(ReceiptOperationTest, Amounts) {
  const Records r;
  struct Case {
    const char* what;
    int64_t price;
    Decimal quantity;
    const Discount* discount;
    int64_t explicit_discount;
    int64_t cost, discount_amount, amount;
  };
  const Case cases[] = {
      {"19.99 x 0.333", 1999, Decimal(1000, 333), nullptr, 0, 666, 0, 666},
      {"5 % of 6.66", 1999, Decimal(1000, 333), &r.percent, 0, 666, 33, 633},
      {"fixed 1.00", 1999, Decimal(1000, 333), &r.fixed, 0, 666, 100, 566},
      {"explicit 0.50", 1999, Decimal(1000, 333), nullptr, 50, 666, 50, 616},
      {"invalid record: explicit", 1999, Decimal(1000, 333), &r.empty, 10, 666, 10, 656},
      {"0.125 to even", 25, Decimal(10, 5), nullptr, 0, 12, 0, 12},
      {"0.175 to even", 35, Decimal(10, 5), nullptr, 0, 18, 0, 18},
      {"no cost, no discount", 0, Decimal(1, 3), &r.fixed, 0, 0, 0, 0},
      {"whole quantity", 1250, Decimal(1, 3), nullptr, 0, 3750, 0, 3750},
      {"nine places", 100, Decimal(1000000000, 1500000000), nullptr, 0, 150, 0, 150},
  };
  for (const Case& c : cases) {
    ReceiptOperation line = Line(r);
    line.setPrice(Decimal(100, c.price));
    line.setQuantity(c.quantity);
    line.setDiscount(c.discount);
    line.setExplicitDiscount(Decimal(100, c.explicit_discount));
    EXPECT_EQ(c.cost, line.cost().mantissa()) << c.what;
    EXPECT_EQ(c.discount_amount, line.discountAmount().mantissa()) << c.what;
    EXPECT_EQ(c.amount, line.amount().mantissa()) << c.what;
  }
}

TEST(ReceiptOperationTest, Validity) {
  const Records r;
  using L = ReceiptOperation*;
  using R = const Records&;
  struct Case {
    const char* what;
    void (*change)(L, R);
    bool valid;
  };
  const Case cases[] = {
      {"as built", [](L, R) {}, true},
      {"unit 15", [](L l, R) { l->setUnit(std::string(15, 'u')); }, true},
      {"unit 16", [](L l, R) { l->setUnit(std::string(16, 'u')); }, false},
      {"name 127", [](L l, R) { l->setName(std::string(127, 'n')); }, true},
      {"name 128", [](L l, R) { l->setName(std::string(128, 'n')); }, false},
      {"code 128", [](L l, R) { l->setCode(std::string(128, 'c')); }, false},
      {"extra 128", [](L l, R) { l->setExtraText(std::string(128, 'e')); }, false},
      {"no name", [](L l, R) { l->setName(""); }, false},
      {"quantity 0", [](L l, R) { l->setQuantity(Decimal(1000, 0)); }, false},
      {"no section", [](L l, R) { l->setSection(nullptr); }, false},
      {"no tax", [](L l, R) { l->setTaxRate(nullptr, 1); }, false},
      {"tax 6", [](L l, R r) { l->setTaxRate(&r.vat, 6); }, false},
      {"tax 0", [](L l, R r) { l->setTaxRate(&r.vat, 0); }, false},
      {"exempt", [](L l, R r) { l->setTaxRate(&r.exempt, 5); }, true},
      {"unusable tax rate", [](L l, R r) { l->setTaxRate(&r.unused, 1); }, false},
      {"section 0", [](L l, R r) { l->setSection(&r.none); }, false},
      {"discount above cost", [](L l, R) { l->setExplicitDiscount(Decimal(100, 667)); }, false},
      {"discount equal to cost", [](L l, R) { l->setExplicitDiscount(Decimal(100, 666)); }, true},
      // (2^62 + 1) x 4 wraps to 4 kopecks, which would pass every other check.
      {"price x quantity overflows",
       [](L l, R) {
         l->setPrice(Decimal(100, (INT64_C(1) << 62) + 1));
         l->setQuantity(Decimal(1, 4));
       },
       false},
      // -9e18 - 9e18 wraps to a positive amount.
      {"cost - discount overflows",
       [](L l, R) {
         l->setPrice(Decimal(100, -INT64_C(9000000000000000000)));
         l->setQuantity(Decimal(1, 1));
         l->setExplicitDiscount(Decimal(100, INT64_C(9000000000000000000)));
       },
       false},
  };
  for (const Case& c : cases) {
    ReceiptOperation line = Line(r);
    c.change(&line, r);
    EXPECT_EQ(c.valid, line.isValid()) << c.what;
  }
  // Past 64 bits: refused, not saturated.
  ReceiptOperation line = Line(r);
  line.setPrice(Decimal(100, INT64_C(10000000000000000)));
  line.setQuantity(Decimal(1, 1));
  line.setDiscount(&r.huge_percent);
  EXPECT_FALSE(line.isValid()) << "percentage past 64 bits";
  EXPECT_EQ(0, line.amount().mantissa()) << "not a saturated discount";
}

TEST(ReceiptOperationTest, EncodedElementsInOrder) {
  const Records r;
  ReceiptOperation full = Line(r);
  full.setCode("A1");
  full.setExtraText("x");
  full.setDiscount(&r.percent);
  const TlvElement e = full.toTlv();
  EXPECT_EQ(tag::kReceiptLine, e.tag());
  EXPECT_EQ((std::vector<uint16_t>{11163, 12000, 11030, 12108, 11301, 11199, 11102, 11079, 11304,
                                   11043, 11023}),
            Tags(e));
  const std::vector<TlvElement> inner = e.asList();
  EXPECT_EQ(106, inner[6].asVln());  // 6.33 x 0.1667
  EXPECT_EQ(33, inner[8].asVln());
  EXPECT_EQ(633, inner[9].asVln());
  EXPECT_EQ(333, inner[10].asFvln().mantissa());
  EXPECT_EQ(1000u, inner[10].asFvln().scale());

  ReceiptOperation bare = Line(r);
  bare.setUnit("");
  bare.setTaxRate(&r.exempt, 5);
  bare.setDiscount(&r.empty);  // not valid: no 11304
  EXPECT_EQ((std::vector<uint16_t>{11030, 11301, 11199, 11079, 11043, 11023}), Tags(bare.toTlv()));
}

TEST(ReceiptOperationTest, StoredLineReadsBack) {
  const Records r;
  ReceiptOperation original = Line(r);
  original.setCode("A1");
  original.setDiscount(&r.percent);
  platform::FakeEnv env;
  ReceiptOperation back;
  uint8_t section = 0;
  for (const TlvElement& item : original.toTlv().asList()) back.setStorageTag(&env, item, &section);
  EXPECT_EQ(2, section);
  EXPECT_EQ(1, back.taxNumber());
  back.setSection(&r.section);
  back.setTaxRate(&r.vat, back.taxNumber());
  EXPECT_EQ(original.toTlv().encode(), back.toTlv().encode());
  // The discount comes back as an explicit amount, so the lines differ.
  EXPECT_NE(original, back);
  EXPECT_EQ(33, back.explicitDiscount().mantissa());
  EXPECT_EQ((std::vector<std::string>{"ReceiptOperation::setStorageTag UNKNOWN TAG 11102 1 6A",
                                      "ReceiptOperation::setStorageTag UNKNOWN TAG 11043 2 7902"}),
            env.lines());
  const std::vector<std::string> printed = back.printedForm().at(0).block.lines();
  EXPECT_EQ(Cp("СКИДКА 0.33\tC УЧЕТОМ СКИДКИ 6.33"), printed.at(2));
}

class ReceiptOperationPrintTest : public ::testing::Test {
 protected:
  void SetUp() override { printer::setWidthSetting(80); }
  void TearDown() override { printer::setWidthSetting(printer::kDefaultWidthSetting); }
  // The wide layout's large font: 48 characters a line.
  static PrintStyle Wide48() {
    PrintStyle style;
    style.set(PrintStyle::kMarker);
    style.setFont(2);
    return style;
  }
  static std::vector<std::string> Lines(const ReceiptOperation& line) {
    return line.printedForm(Wide48()).at(0).block.lines();
  }
  Records r;
};

TEST_F(ReceiptOperationPrintTest, ExampleLine) {
  ASSERT_EQ(48u, Wide48().lineWidth());
  EXPECT_EQ((std::vector<std::string>{Cp("ОТДЕЛ 2\t"), Cp("Товар\t19.99 x 0.333 кг = 6.66"),
                                      Cp("НДС 20%\t1.11")}),
            Lines(Line(r)));
}

TEST_F(ReceiptOperationPrintTest, PairRuleAtTheWidth) {
  struct Case {
    size_t section_name, name;
    std::vector<std::string> lines;
  };
  const std::string code = Cp("КОД\t") + "12";              // 6 bytes
  const std::string arithmetic = "\t19.99 x 0.333 = 6.66";  // 21 bytes
  const Case cases[] = {
      {41, 27, {std::string(41, 's') + "\t" + Cp("КОД 12"), std::string(27, 'n') + arithmetic}},
      {42, 28, {std::string(42, 's'), code, std::string(28, 'n'), arithmetic}},
  };
  for (const Case& c : cases) {
    Section named{2, std::string(c.section_name, 's')};
    ReceiptOperation line = Line(r);
    line.setUnit("");
    line.setCode("12");
    line.setSection(&named);
    line.setName(std::string(c.name, 'n'));
    line.setTaxRate(&r.exempt, 5);
    std::vector<std::string> expected = c.lines;
    expected.push_back(Cp("БЕЗ НДС"));  // without tax: no amount
    EXPECT_EQ(expected, Lines(line)) << c.section_name;
  }
}

TEST_F(ReceiptOperationPrintTest, DiscountLines) {
  Discount named{5, 0, 100, Cp("Акция")};
  ReceiptOperation line = Line(r);
  line.setDiscount(&r.percent);
  EXPECT_EQ(Cp("СКИДКА 5.00% 0.33\tC УЧЕТОМ СКИДКИ 6.33"), Lines(line).at(2));
  line.setDiscount(&named);
  EXPECT_EQ(Cp("Акция 1.00\tC УЧЕТОМ СКИДКИ 5.66"), Lines(line).at(2));
  EXPECT_EQ(0x43, static_cast<unsigned char>(Lines(line).at(2)[Cp("Акция 1.00\t").size()]));
  line.setDiscount(nullptr);
  EXPECT_EQ(3u, Lines(line).size()) << "no discount, no discount line";
}

TEST(ReceiptOperationTest, EqualityIgnoresExtraTextAndExplicitDiscount) {
  const Records r;
  const Records other;  // same contents, other objects
  ReceiptOperation a = Line(r);
  ReceiptOperation b = Line(other);
  b.setExtraText("kept, not printed");
  b.setExplicitDiscount(Decimal(100, 5));
  EXPECT_EQ(a, b);
  b.setTaxRate(&other.vat, 2);
  EXPECT_NE(a, b);
  b = Line(other);
  b.setDiscount(&other.fixed);
  EXPECT_NE(a, b);
  b = Line(other);
  b.setQuantity(Decimal(1000, 334));
  EXPECT_NE(a, b);
}

}  // namespace
