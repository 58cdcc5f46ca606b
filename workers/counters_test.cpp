#include "workers/counters.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "platform/fake_env.h"
#include "printer/print_layout.h"
#include "storage/tables.h"
#include "storage/tax_rate.h"
#include "util/cp866.h"

namespace {

std::string Cp(const std::string& utf8) { return util::Utf8ToCp866(utf8); }

std::vector<uint16_t> Tags(const std::vector<TlvElement>& list) {
  std::vector<uint16_t> tags;
  for (const TlvElement& e : list) tags.push_back(e.tag());
  return tags;
}

// Rendered text back to lines, one vector per block: every block starts
// with its style prefix (ESC a, ESC 3, ESC !, GS B: 12 bytes), no line
// holds an ESC, and every line ends in a line feed.
std::vector<std::vector<std::string>> Blocks(const std::string& text) {
  std::vector<std::vector<std::string>> blocks;
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] == 0x1B && i + 1 < text.size() && text[i + 1] == 'a') {
      blocks.emplace_back();
      i += 12;
      continue;
    }
    const size_t lf = text.find('\n', i);
    if (blocks.empty() || lf == std::string::npos) return {{"unexpected bytes"}};
    blocks.back().push_back(text.substr(i, lf - i));
    i = lf + 1;
  }
  return blocks;
}

// Narrow small-font layout: 44 columns.
std::string Cols(const std::string& left, const std::string& right) {
  const std::string l = Cp(left), r = Cp(right);
  return l + std::string(44 - l.size() - r.size(), ' ') + r;
}
std::string Centre(const std::string& utf8) {
  const std::string t = Cp(utf8);
  return std::string((44 - t.size()) / 2, ' ') + t;
}

TaxRate Rate(const std::string& utf8_name) {
  TaxRate r;
  r.setType(TaxRate::kIncluded);
  r.setRate(2000);
  r.setName(Cp(utf8_name));
  return r;
}

OperationCounters Block(uint32_t count, int64_t total, int64_t cash, int64_t cashless) {
  OperationCounters b;
  b.setReceiptCount(count);
  b.setTotal(total);
  b.setCash(cash);
  b.setCashless(cashless);
  return b;
}

ShiftCounters SampleShift() {
  ShiftCounters c;
  c.setShiftNumber(65535);
  c.setCashInCount(3);
  c.setCashInSum(1250);
  c.setCashOutCount(2);
  c.setCashOutSum(-7);
  c.setReceiptCount(100000);
  c.setCashInDrawer(INT64_MIN);
  OperationCounters sale = Block(5, 10000, 6000, 4000);
  for (size_t i = 0; i < 5; ++i) {
    sale.setTax(i, i == 1 ? 0 : (i == 2 ? -5 : 1667 + static_cast<int64_t>(i)));
  }
  c.setBlock(0, sale);
  c.setBlock(1, Block(1, INT64_MAX, 0, INT64_MAX));
  c.setBlock(2, Block(70000, -300, -300, 0));
  return c;
}

class CountersTest : public ::testing::Test {
 protected:
  void SetUp() override { printer::setWidthSetting(printer::kDefaultWidthSetting); }
  platform::FakeEnv env_;
};

TEST_F(CountersTest, FieldsSitAtTheirOffsets) {
  ShiftCounters s;
  s.setCashOutCount(0x0A0B);
  s.setCashInDrawer(0x0102030405060708);
  OperationCounters b = Block(0x11223344, 0, 0, 0);
  b.setTax(4, -2);
  b.setReserved(2, 0x55);
  s.setBlock(3, b);
  GrossCounters g;
  g.setCashOutSum(-3);
  g.setBlock(3, Block(0x66778899, 0, 0, 0));
  SectionTotals t;
  t.setAmount(2, 5, 0x7F);
  t.setAmount(4, 0, 1);   // no such table
  t.setAmount(0, 20, 1);  // no such section
  const struct {
    std::string image;
    size_t offset, width;
    uint64_t value;
  } cases[] = {
      {s.image(), 4, 2, 0x0A0B},
      {s.image(), 26, 8, 0x0102030405060708},
      {s.image(), 313, 1, 3},
      {s.image(), 314, 4, 0x11223344},
      {s.image(), 313 + 45, 8, 0x55},
      {s.image(), 313 + 85, 8, static_cast<uint64_t>(-2)},
      {g.image(), 14, 8, static_cast<uint64_t>(-3)},
      {g.image(), 185, 1, 3},
      {g.image(), 186, 4, 0x66778899},
      {t.image(), 360, 8, 0x7F},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.offset);
    uint64_t v = 0;
    for (size_t i = c.width; i-- > 0;) v = (v << 8) | static_cast<uint8_t>(c.image[c.offset + i]);
    EXPECT_EQ(c.value, v);
  }
  SectionTotals only = t;
  only.setAmount(2, 5, 0);
  EXPECT_EQ(std::string(640, '\0'), only.image());  // out-of-range writes landed nowhere
}

TEST_F(CountersTest, ShiftCountersRoundTripUnderEitherTag) {
  for (bool current : {true, false}) {
    SCOPED_TRACE(current);
    const ShiftCounters in = SampleShift();
    TlvElement e;
    ASSERT_TRUE(countersToTlv(&in, current, &e));
    EXPECT_EQ(current ? 11194 : 11158, e.tag());
    // Blocks go by type: purchase (11131) before sale return (11130).
    EXPECT_EQ((std::vector<uint16_t>{11038, 12001, 12003, 12002, 12004, 11118, 11136, 11129, 11131,
                                     11130, 11132}),
              Tags(e.asList()));
    ShiftCounters out;
    ASSERT_TRUE(tlvToCounters(&env_, e, &out));
    EXPECT_EQ(in.image(), out.image());
    EXPECT_EQ(1, out.block(1).type());
    EXPECT_EQ(INT64_MAX, out.block(1).cashless());
    EXPECT_EQ(1670, out.block(0).tax(3));
  }
  EXPECT_TRUE(env_.lines().empty());
}

TEST_F(CountersTest, GrossCountersRoundTrip) {
  GrossCounters in;
  in.setShiftNumber(412);
  in.setCashInCount(9);
  in.setCashInSum(123456789012LL);
  in.setCashOutCount(65535);
  in.setCashOutSum(-1);
  in.setReceiptCount(0xFFFFFFFFu);
  in.setBlock(0, Block(2, 500, 200, 300));
  in.setBlock(3, Block(7, -9, -9, 0));
  TlvElement e;
  ASSERT_TRUE(countersToTlv(&in, &e));
  EXPECT_EQ(11157, e.tag());
  const std::vector<TlvElement> list = e.asList();
  EXPECT_EQ(
      (std::vector<uint16_t>{11038, 12001, 12003, 12002, 12004, 11118, 11129, 11131, 11130, 11132}),
      Tags(list));
  GrossCounters out;
  ASSERT_TRUE(tlvToCounters(&env_, e, &out));
  EXPECT_EQ(in.image(), out.image());
  EXPECT_EQ(53u, out.block(3).size());
  ShiftCounters s = SampleShift();
  s.setBlock(0, out.block(3));  // a short block brings no tax sums along
  EXPECT_EQ(0, s.block(0).type());
  EXPECT_EQ(7u, s.block(0).receiptCount());
  EXPECT_EQ(0, s.block(0).tax(0));
  EXPECT_TRUE(env_.lines().empty());
}

TEST_F(CountersTest, BlockWithoutReceiptsCarriesOnlyItsCount) {
  OperationCounters b = Block(0, 999, 999, 1);
  b.setTax(0, 5);
  b.setType(counters::kSaleReturn);
  TlvElement e;
  ASSERT_TRUE(countersToTlv(&b, &e));
  EXPECT_EQ(11130, e.tag());
  EXPECT_EQ(std::vector<uint16_t>{11118}, Tags(e.asList()));

  b.setReceiptCount(1);
  ASSERT_TRUE(countersToTlv(&b, &e));
  EXPECT_EQ((std::vector<uint16_t>{11118, 11201, 11136, 11138, 13110}), Tags(e.asList()));
}

TEST_F(CountersTest, ZeroSumsAreLeftOutOfBlocksButNotTheDrawer) {
  ShiftCounters c;
  for (size_t i = 0; i < 4; ++i) c.setBlock(i, Block(4, 100, 0, 0));
  TlvElement e;
  ASSERT_TRUE(countersToTlv(&c, true, &e));
  const std::vector<TlvElement> list = e.asList();
  ASSERT_EQ(11u, list.size());
  EXPECT_EQ(11136, list[6].tag());
  EXPECT_EQ(0, list[6].asVln());
  for (size_t i = 7; i < 11; ++i) {
    EXPECT_EQ((std::vector<uint16_t>{11118, 11201}), Tags(list[i].asList()));
  }
}

TEST_F(CountersTest, MissingRecordOrTargetFails) {
  ShiftCounters s;
  GrossCounters g;
  OperationCounters b;
  TlvElement e;
  EXPECT_FALSE(countersToTlv(static_cast<const ShiftCounters*>(nullptr), true, &e));
  EXPECT_FALSE(countersToTlv(&s, true, nullptr));
  EXPECT_FALSE(countersToTlv(static_cast<const GrossCounters*>(nullptr), &e));
  EXPECT_FALSE(countersToTlv(&g, nullptr));
  EXPECT_FALSE(countersToTlv(static_cast<const OperationCounters*>(nullptr), &e));
  b.setType(4);
  EXPECT_FALSE(countersToTlv(&b, &e));  // no tag for that type
  const TlvElement list = TlvElement::fromList(11129, {TlvElement::fromU32(11118, 1)});
  EXPECT_FALSE(tlvToCounters(&env_, list, static_cast<ShiftCounters*>(nullptr)));
  EXPECT_FALSE(tlvToCounters(&env_, list, static_cast<GrossCounters*>(nullptr)));
  EXPECT_FALSE(tlvToCounters(&env_, list, static_cast<OperationCounters*>(nullptr)));
  EXPECT_FALSE(
      tlvToCounters(&env_, TlvElement::fromList(11157, {TlvElement::fromU32(11118, 1)}), &b));
  EXPECT_EQ(0u, b.receiptCount());
  EXPECT_TRUE(tlvToCounters(nullptr, list, &b));  // no board: no report, still read
  EXPECT_EQ(0, b.type());
  EXPECT_EQ(1u, b.receiptCount());
}

TEST_F(CountersTest, UnknownTagsAreReportedAndSkipped) {
  enum Reader { kShift, kGross, kBlock, kShortBlock };
  const TlvElement odd = TlvElement::fromVln(9999, 1);
  const TlvElement tax = TlvElement::fromVln(13110, 1);
  const struct {
    Reader reader;
    uint16_t tag;
    TlvElement child;  // followed by a receipt count of 4 at the same level
    const char* text;
  } cases[] = {
      {kShift, 11194, odd, "tlvToCounters 81 UNKNOWN TAG 9999"},
      {kShift, 11158, TlvElement::fromList(11132, {odd}), "tlvToCounters 291 UNKNOWN TAG 9999"},
      {kGross, 11157, TlvElement::fromVln(11136, 5), "tlvToCounters 105 UNKNOWN TAG 11136"},
      {kGross, 11157, TlvElement::fromList(11129, {tax}), "tlvToCounters 351 UNKNOWN TAG 13110"},
      {kBlock, 11131, TlvElement::fromVln(13115, 1), "tlvToCounters 291 UNKNOWN TAG 13115"},
      {kShortBlock, 11131, tax, "tlvToCounters 351 UNKNOWN TAG 13110"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    env_.ClearLines();
    const TlvElement e = TlvElement::fromList(c.tag, {c.child, TlvElement::fromU32(11118, 4)});
    ShiftCounters s;
    GrossCounters g;
    OperationCounters b(c.reader != kShortBlock);
    uint32_t count = 0;
    if (c.reader == kShift) {
      EXPECT_TRUE(tlvToCounters(&env_, e, &s));
      count = s.receiptCount();
    } else if (c.reader == kGross) {
      EXPECT_TRUE(tlvToCounters(&env_, e, &g));
      count = g.receiptCount();
    } else {
      EXPECT_TRUE(tlvToCounters(&env_, e, &b));
      count = b.receiptCount();
    }
    EXPECT_EQ(std::vector<std::string>{c.text}, env_.lines());
    EXPECT_EQ(4u, count);
    EXPECT_EQ(std::string(53, '\0'), g.block(0).image());  // the tax sum went nowhere
  }
}

TEST_F(CountersTest, IntegersOfTheWrongLengthReadAsZero) {
  const struct {
    TlvElement element;
    uint32_t (*get)(const ShiftCounters&);
  } cases[] = {
      {TlvElement::fromU32(11038, 5),
       [](const ShiftCounters& s) -> uint32_t { return s.shiftNumber(); }},
      {TlvElement::fromByte(12001, 5),
       [](const ShiftCounters& s) -> uint32_t { return s.cashInCount(); }},
      {TlvElement::fromU32(12003, 5),
       [](const ShiftCounters& s) -> uint32_t { return s.cashOutCount(); }},
      {TlvElement::fromU16(11118, 5),
       [](const ShiftCounters& s) -> uint32_t { return s.receiptCount(); }},
      {TlvElement::fromList(11129, {TlvElement::fromU16(11118, 5)}),
       [](const ShiftCounters& s) -> uint32_t { return s.block(0).receiptCount(); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.element.tag());
    ShiftCounters s = SampleShift();
    s.setCashOutCount(1);
    ASSERT_NE(0u, c.get(s));
    ASSERT_TRUE(tlvToCounters(&env_, TlvElement::fromList(11194, {c.element}), &s));
    EXPECT_EQ(0u, c.get(s));
  }
}

TEST_F(CountersTest, FromStoredResetsBlockTypes) {
  ShiftCounters s;
  ASSERT_TRUE(s.fromStored(std::string(406, '\xAB')));
  GrossCounters g;
  ASSERT_TRUE(g.fromStored(std::string(238, '\xCD')));
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(i, s.block(i).type());
    EXPECT_EQ(i, g.block(i).type());
    EXPECT_EQ(static_cast<int64_t>(0xABABABABABABABABull), s.block(i).tax(4));
    EXPECT_EQ(0xCDCDCDCDu, g.block(i).receiptCount());
  }
  EXPECT_EQ(0xABAB, s.shiftNumber());
  EXPECT_EQ(static_cast<int64_t>(0xABABABABABABABABull), s.cashInDrawer());
  EXPECT_FALSE(s.fromStored(std::string(405, '\0')));
  EXPECT_FALSE(g.fromStored(std::string(406, '\0')));
  EXPECT_EQ(0xABAB, s.shiftNumber());
  EXPECT_EQ(0xCDCD, g.shiftNumber());
}

TEST_F(CountersTest, ShiftTotalsPrintLineByLine) {
  RegData reg;
  reg.setTaxRateImage(0, Rate("НДС 20%").image());
  TaxRate unnamed = Rate("x");
  unnamed.setName("");
  reg.setTaxRateImage(3, unnamed.image());  // not valid: the number is printed
  ShiftCounters c = SampleShift();
  c.setCashInDrawer(123456);
  c.setBlock(1, Block(0, 999, 999, 999));  // no receipts: one line only
  c.setBlock(2, OperationCounters());
  const std::vector<std::string> sale = {Cols("ПРОДАЖ 5", "НА 100.00"),
                                         Cols("НАЛИЧНЫМИ", "60.00"),
                                         Cols("БЕЗНАЛИЧНЫМИ", "40.00"),
                                         Cols("НДС 20%", "16.67"),
                                         "",
                                         "",
                                         Cols("НАЛОГ 4", "16.70"),
                                         Cols("НАЛОГ 5", "16.71")};
  const std::vector<std::string> rest[3] = {{Cols("ПОКУПОК 0", "НА 9.99")},
                                            {Cols("ВОЗВРАТОВ ПРОДАЖ 0", "НА 0.00")},
                                            {Cols("ВОЗВРАТОВ ПОКУПОК 0", "НА 0.00")}};
  const std::vector<std::string> head = {
      Cols("ВНЕСЕНИЙ 3", "НА 12.50"), Cols("ВЫПЛАТ 2", "НА -0.07"), Cols("ВСЕГО ЧЕКОВ", "100000")};

  std::vector<std::vector<std::string>> current = {
      {Centre("ИТОГИ СМЕНЫ")}, head, sale, rest[0], rest[1], rest[2]};
  current[1].push_back(Cols("НАЛ. В КАССЕ", "1234.56"));
  EXPECT_EQ(current, Blocks(shiftTotalsText(true, &c, reg)));

  std::vector<std::vector<std::string>> since = current;
  since[0] = {Centre("ИТОГО С ПОСЛЕДНЕЙ РЕГИСТРАЦИИ")};
  since[1] = head;
  since[1].insert(since[1].begin(), Cols("СМЕН", "65535"));
  EXPECT_EQ(since, Blocks(shiftTotalsText(false, &c, reg)));

  EXPECT_EQ("", shiftTotalsText(true, nullptr, reg));
}

TEST_F(CountersTest, GrossTotalsPrintWithoutTaxLines) {
  GrossCounters g;
  g.setShiftNumber(12);
  g.setCashInCount(3);
  g.setCashInSum(1250);
  g.setBlock(3, Block(2, 300, 100, 200));
  const std::vector<std::vector<std::string>> expected = {
      {Centre("ГРОСС ИТОГИ")},
      {Cols("СМЕН", "12"), Cols("ВНЕСЕНИЙ 3", "НА 12.50"), Cols("ВЫПЛАТ 0", "НА 0.00"),
       Cols("ВСЕГО ЧЕКОВ", "0")},
      {Cols("ПРОДАЖ 0", "НА 0.00")},
      {Cols("ПОКУПОК 0", "НА 0.00")},
      {Cols("ВОЗВРАТОВ ПРОДАЖ 0", "НА 0.00")},
      {Cols("ВОЗВРАТОВ ПОКУПОК 2", "НА 3.00"), Cols("НАЛИЧНЫМИ", "1.00"),
       Cols("БЕЗНАЛИЧНЫМИ", "2.00")}};
  EXPECT_EQ(expected, Blocks(grossTotalsText(&g)));
  EXPECT_EQ("", grossTotalsText(nullptr));
}

TEST_F(CountersTest, SectionTotalsLeaveOutEmptySections) {
  ASSERT_TRUE(env_.CreateDirectory("/nv"));
  ASSERT_TRUE(tables::initSections(&env_));
  Section bread;
  bread.number = 1;
  bread.setName(Cp("ХЛЕБ"));
  ASSERT_TRUE(tables::saveSection(&env_, bread));

  SectionTotals t;
  t.setAmount(0, 0, 1000);
  t.setAmount(2, 0, 250);
  t.setAmount(3, 19, -5);
  t.setAmount(0, 7, INT64_MIN);  // the sum wraps, still not 0
  t.setAmount(1, 7, INT64_MAX);
  const std::vector<std::vector<std::string>> expected = {
      {Centre("ИТОГИ ПО ОТДЕЛАМ")},
      {Cols("ОТДЕЛ 1", "ХЛЕБ"), Cols("ПРОДАЖ НА", "10.00"), Cols("ПОКУПОК НА", "0.00"),
       Cols("ВОЗВРАТОВ ПРОДАЖ НА", "2.50"), Cols("ВОЗВРАТОВ ПОКУПОК НА", "0.00"),
       Cols("ОТДЕЛ 8", ""), Cols("ПРОДАЖ НА", "-92233720368547758.08"),
       Cols("ПОКУПОК НА", "92233720368547758.07"), Cols("ВОЗВРАТОВ ПРОДАЖ НА", "0.00"),
       Cols("ВОЗВРАТОВ ПОКУПОК НА", "0.00"), Cols("ОТДЕЛ 20", ""), Cols("ПРОДАЖ НА", "0.00"),
       Cols("ПОКУПОК НА", "0.00"), Cols("ВОЗВРАТОВ ПРОДАЖ НА", "0.00"),
       Cols("ВОЗВРАТОВ ПОКУПОК НА", "-0.05")}};
  EXPECT_EQ(expected, Blocks(sectionTotalsText(&t, 4)));
  for (size_t count : {0, 3, 5}) EXPECT_EQ("", sectionTotalsText(&t, count)) << count;
  EXPECT_EQ("", sectionTotalsText(nullptr, 4));
}

}  // namespace
