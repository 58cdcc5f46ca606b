#include "storage/tables.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>

#include "platform/fake_env.h"
#include "util/coding.h"
#include "util/cp866.h"

using namespace tables;

namespace {

Discount MakeDiscount(uint8_t number, int32_t type, int64_t value, std::string name = "") {
  Discount d;
  d.number = number;
  d.type = type;
  d.value = value;
  d.name = std::move(name);
  return d;
}

Cashier MakeCashier(uint8_t number, uint16_t rights, int32_t password, std::string name) {
  Cashier c;
  c.number = number;
  c.rights = rights;
  c.password = password;
  c.name = std::move(name);
  return c;
}

Section MakeSection(uint8_t number, std::string name) {
  Section s;
  s.number = number;
  s.name = std::move(name);
  return s;
}

class TablesTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(env_.CreateDirectory("/nv")); }

  void InitAll() {
    ASSERT_TRUE(initCashiers(&env_));
    ASSERT_TRUE(initSections(&env_));
    ASSERT_TRUE(initDiscounts(&env_));
  }

  std::string File(const char* path) {
    std::string bytes;
    EXPECT_TRUE(env_.ReadFile(path, &bytes)) << path;
    return bytes;
  }

  // Replaces one record of a table file in place, behind the holders' back.
  void PutSlot(const char* path, uint8_t number, const std::string& image) {
    std::string bytes = File(path);
    bytes.replace((number - 1) * image.size(), image.size(), image);
    ASSERT_TRUE(env_.WriteFile(path, bytes));
  }

  platform::FakeEnv env_;
};

TEST_F(TablesTest, FreshStartCreatesTablesWithEmptySlots) {
  InitAll();
  struct Case { const char* path; size_t record; };
  const Case cases[] = {{kCashiersPath, 263}, {kSectionsPath, 128}, {kDiscountsPath, 141}};
  for (const Case& c : cases) {
    const std::string bytes = File(c.path);
    ASSERT_EQ(20 * c.record, bytes.size()) << c.path;
    for (size_t slot = 0; slot < 20; ++slot) {
      const std::string rec = bytes.substr(slot * c.record, c.record);
      EXPECT_EQ(slot + 1, static_cast<uint8_t>(rec[0])) << c.path << " " << slot;
      if (c.record == 263 && slot == 19) continue;  // the service cashier
      EXPECT_EQ(std::string(c.record - 1, '\0'), rec.substr(1)) << c.path << " " << slot;
    }
  }
  const std::string service = File(kCashiersPath).substr(19 * 263);
  EXPECT_EQ('\xFF', service[1]);
  EXPECT_EQ('\x03', service[2]);
  EXPECT_EQ(kServiceDefaultPassword, static_cast<int32_t>(util::GetFixed32(service, 3)));
  EXPECT_GT(kServiceDefaultPassword, 0);
  EXPECT_EQ(util::Utf8ToCp866("ЦТО"), service.substr(7, 3));
  EXPECT_EQ(3u, util::Utf8ToCp866("ЦТО").size());
  EXPECT_EQ(std::string(253, '\0'), service.substr(10));
}

TEST_F(TablesTest, SecondInitKeepsFilesAndLoadsThem) {
  InitAll();
  PutSlot(kDiscountsPath, 4, discountImage(MakeDiscount(4, 1, 500)));
  PutSlot(kDiscountsPath, 5, discountImage(MakeDiscount(5, 0, 0, "gone")));  // not valid
  // The slot decides the section number, not byte 0.
  PutSlot(kSectionsPath, 6, sectionImage(MakeSection(99, "dairy")));
  const std::string before[] = {File(kCashiersPath), File(kSectionsPath), File(kDiscountsPath)};

  InitAll();
  EXPECT_EQ(before[0], File(kCashiersPath));
  EXPECT_EQ(before[1], File(kSectionsPath));
  EXPECT_EQ(before[2], File(kDiscountsPath));
  Discount got;
  ASSERT_TRUE(getDiscount(4, &got));
  EXPECT_TRUE(got.isValid());
  EXPECT_EQ(500, got.value);
  ASSERT_TRUE(getDiscount(5, &got));
  EXPECT_EQ(2, got.type);  // an empty slot, not the stored record
  EXPECT_EQ("", got.name);
  Section sec;
  ASSERT_TRUE(getSection(6, &sec));
  EXPECT_EQ(6, sec.number);
  EXPECT_EQ("dairy", sec.name);
}

TEST_F(TablesTest, InitForgetsWhatAnotherBoardHeld) {
  InitAll();
  ASSERT_TRUE(saveCashier(&env_, MakeCashier(7, kAllRights, 55, "Petrov")));
  ASSERT_TRUE(saveDiscount(&env_, MakeDiscount(3, 0, 99)));
  ASSERT_TRUE(saveSection(&env_, MakeSection(3, "fish")));
  platform::FakeEnv other;
  ASSERT_TRUE(other.CreateDirectory("/nv"));
  ASSERT_TRUE(initCashiers(&other));
  ASSERT_TRUE(initSections(&other));
  ASSERT_TRUE(initDiscounts(&other));
  Cashier c;
  EXPECT_FALSE(checkCashier(&other, 7, 55, &c));
  Discount d;
  ASSERT_TRUE(getDiscount(3, &d));
  EXPECT_FALSE(d.isValid());
  Section s;
  ASSERT_TRUE(getSection(3, &s));
  EXPECT_EQ("", s.name);
}

TEST_F(TablesTest, ShortDiscountFileLoadsWhatIsThere) {
  std::string bytes = discountImage(MakeDiscount(1, 0, 10));
  bytes += discountImage(MakeDiscount(2, 0, 10)).substr(0, 100);  // cut inside slot 2
  ASSERT_TRUE(env_.WriteFile(kDiscountsPath, bytes));
  ASSERT_TRUE(initDiscounts(&env_));
  Discount got;
  ASSERT_TRUE(getDiscount(1, &got));
  EXPECT_TRUE(got.isValid());
  ASSERT_TRUE(getDiscount(2, &got));
  EXPECT_FALSE(got.isValid());
}

// A table whose creation was cut short is completed at the next start: the
// whole records stay, the missing ones get their defaults (the service
// cashier among them, or nobody could ever sign in).
TEST_F(TablesTest, CutTablesAreCompletedKeepingWholeRecords) {
  Cashier kept;
  kept.number = 1;
  kept.rights = 0x0003;
  kept.password = 77;
  kept.name = "kept";
  const std::string first = cashierImage(kept);
  const struct {
    size_t size;
    bool first_kept;
  } cases[] = {{0, false}, {100, false}, {kCashierSize, true}, {kCashierSize * 10 + 5, true}, {kCashierSize * 19, true}};
  for (const auto& c : cases) {
    std::string bytes = first + std::string(kCashierSize * 20, '\x5A');
    bytes.resize(c.size);
    ASSERT_TRUE(env_.WriteFile(kCashiersPath, bytes));
    ASSERT_TRUE(initCashiers(&env_)) << c.size;
    uint64_t size = 0;
    ASSERT_TRUE(env_.FileSize(kCashiersPath, &size));
    EXPECT_EQ(kCashierSize * 20, size) << c.size;
    Cashier got;
    EXPECT_TRUE(checkCashier(&env_, 20, kServiceDefaultPassword, &got)) << c.size;
    EXPECT_EQ(c.first_kept, checkCashier(&env_, 1, 77, &got)) << c.size;
    // A record the cut tore is a blank slot again, not a cashier of garbage.
    const size_t torn = c.size / kCashierSize;
    if (c.size % kCashierSize != 0) {
      std::string all;
      ASSERT_TRUE(env_.ReadFile(kCashiersPath, &all));
      EXPECT_EQ(static_cast<char>(torn + 1), all[kCashierSize * torn]) << c.size;
      EXPECT_EQ(std::string(kCashierSize - 1, '\0'), all.substr(kCashierSize * torn + 1, kCashierSize - 1));
    }
  }
  ASSERT_TRUE(env_.WriteFile(kSectionsPath, std::string(1000, '\0')));
  ASSERT_TRUE(initSections(&env_));
  uint64_t size = 0;
  ASSERT_TRUE(env_.FileSize(kSectionsPath, &size));
  EXPECT_EQ(2560u, size);
}

TEST_F(TablesTest, FreshCashierSlotIsReadButRefused) {
  InitAll();
  Cashier c;
  ASSERT_TRUE(readCashier(&env_, 7, &c));
  EXPECT_EQ(7, c.number);
  EXPECT_EQ(0, c.rights);
  EXPECT_EQ(0, c.password);
  EXPECT_EQ("", c.name);
  EXPECT_FALSE(c.isValid());
  EXPECT_FALSE(checkCashier(&env_, 7, 0, &c));
  EXPECT_FALSE(checkCashier(&env_, 7, 1234, &c));

  PutSlot(kCashiersPath, 8, cashierImage(MakeCashier(3, 1, 2, "z")));
  ASSERT_TRUE(readCashier(&env_, 8, &c));
  EXPECT_EQ(8, c.number);  // the slot asked for, whatever byte 0 says
  EXPECT_EQ("z", c.name);
}

TEST_F(TablesTest, NumbersOutsideTheTablesFail) {
  InitAll();
  for (uint8_t n : {0, 21, 255}) {
    Cashier c = MakeCashier(n, kAllRights, 5, "x");
    Discount d = MakeDiscount(n, 0, 5);
    Section s = MakeSection(n, "x");
    EXPECT_FALSE(readCashier(&env_, n, &c)) << int(n);
    EXPECT_FALSE(checkCashier(&env_, n, 5, &c)) << int(n);
    EXPECT_FALSE(saveCashier(&env_, c)) << int(n);
    EXPECT_FALSE(getDiscount(n, &d)) << int(n);
    EXPECT_FALSE(saveDiscount(&env_, d)) << int(n);
    EXPECT_FALSE(getSection(n, &s)) << int(n);
    EXPECT_FALSE(saveSection(&env_, s)) << int(n);
  }
  for (const char* path : {kCashiersPath, kSectionsPath, kDiscountsPath}) {
    const std::string bytes = File(path);
    EXPECT_TRUE(bytes.find('x') == std::string::npos) << path;
  }
}

TEST_F(TablesTest, CheckUsesCacheAndSaveReplacesIt) {
  InitAll();
  Cashier c;
  EXPECT_FALSE(checkCashier(&env_, 20, kServiceDefaultPassword + 1, &c));
  ASSERT_TRUE(checkCashier(&env_, 20, kServiceDefaultPassword, &c));
  EXPECT_EQ(kAllRights, c.rights);
  EXPECT_EQ(util::Utf8ToCp866("ЦТО"), c.name);
  EXPECT_TRUE(isServiceCashier(c));

  Cashier changed = MakeCashier(20, kAllRights, 777, c.name);
  PutSlot(kCashiersPath, 20, cashierImage(changed));  // not through the table
  EXPECT_TRUE(checkCashier(&env_, 20, kServiceDefaultPassword, &c));
  EXPECT_FALSE(checkCashier(&env_, 20, 777, &c));
  ASSERT_TRUE(readCashier(&env_, 20, &c));  // the file, not the cache
  EXPECT_EQ(777, c.password);

  changed = MakeCashier(20, kRightCashiers, 4321, "Ivanova");
  ASSERT_TRUE(saveCashier(&env_, changed));
  EXPECT_FALSE(checkCashier(&env_, 20, kServiceDefaultPassword, &c));
  ASSERT_TRUE(checkCashier(&env_, 20, 4321, &c));
  EXPECT_EQ("Ivanova", c.name);
  EXPECT_EQ(kRightCashiers, c.rights);
  ASSERT_TRUE(readCashier(&env_, 20, &c));
  EXPECT_EQ(4321, c.password);
  changed.number = 19;
  EXPECT_FALSE(isServiceCashier(changed));
}

TEST_F(TablesTest, MissingFilesFailAndLeaveHoldersAlone) {
  platform::FakeEnv bare;  // no /nv directory: nothing can be created
  EXPECT_FALSE(initCashiers(&bare));
  EXPECT_FALSE(initDiscounts(&bare));
  EXPECT_FALSE(initSections(&bare));
  Section s;
  EXPECT_TRUE(getSection(3, &s));  // the array exists all the same
  Cashier c;
  EXPECT_FALSE(readCashier(&bare, 1, &c));
  EXPECT_FALSE(checkCashier(&bare, 20, kServiceDefaultPassword, &c));

  InitAll();
  Discount d = MakeDiscount(3, 0, 99);
  ASSERT_TRUE(saveDiscount(&env_, d));
  ASSERT_EQ(0, std::remove(env_.Resolve(kDiscountsPath).c_str()));
  d.value = 5;
  EXPECT_FALSE(saveDiscount(&env_, d));
  ASSERT_TRUE(getDiscount(3, &d));
  EXPECT_EQ(99, d.value);
  s.number = 3;
  ASSERT_EQ(0, std::remove(env_.Resolve(kSectionsPath).c_str()));
  EXPECT_FALSE(saveSection(&env_, s));
}

TEST_F(TablesTest, DiscountsGetAndSave) {
  InitAll();
  Discount d;
  ASSERT_TRUE(getDiscount(5, &d));
  EXPECT_EQ(5, d.number);
  EXPECT_EQ(2, d.type);
  EXPECT_FALSE(d.isValid());

  d.type = 1;
  d.value = 1000;
  d.name = "club";
  ASSERT_TRUE(saveDiscount(&env_, d));
  Discount got;
  ASSERT_TRUE(getDiscount(5, &got));
  EXPECT_EQ("club", got.name);
  EXPECT_EQ(discountImage(d), File(kDiscountsPath).substr(4 * 141, 141));

  d.value = 0;  // removing it: an invalid record in its slot
  ASSERT_TRUE(saveDiscount(&env_, d));
  ASSERT_TRUE(getDiscount(5, &got));
  EXPECT_EQ(2, got.type);
}

TEST_F(TablesTest, SectionsGetAndSave) {
  InitAll();
  Section s;
  ASSERT_TRUE(getSection(3, &s));
  EXPECT_EQ(3, s.number);
  EXPECT_EQ("", s.name);
  s.name = std::string(130, 'x');
  ASSERT_TRUE(saveSection(&env_, s));
  ASSERT_TRUE(getSection(3, &s));
  EXPECT_EQ(std::string(126, 'x'), s.name);  // as the file holds it
  ASSERT_TRUE(initSections(&env_));
  ASSERT_TRUE(getSection(3, &s));
  EXPECT_EQ(std::string(126, 'x'), s.name);
}

TEST(TableImageTest, CashierRoundTripAndSizes) {
  Cashier c = MakeCashier(9, kRightSerialNumber | kRightCashiers, -123456, std::string(300, 'n'));
  const std::string image = cashierImage(c);
  ASSERT_EQ(263u, image.size());
  EXPECT_EQ('\0', image[262]);
  Cashier back;
  ASSERT_TRUE(parseCashierImage(image, &back));
  EXPECT_EQ(9, back.number);
  EXPECT_EQ(0x0120, back.rights);
  EXPECT_EQ(-123456, back.password);
  EXPECT_EQ(std::string(255, 'n'), back.name);

  std::string full = image;
  full[262] = 'z';  // never part of the name
  ASSERT_TRUE(parseCashierImage(full, &back));
  EXPECT_EQ(255u, back.name.size());
  EXPECT_FALSE(parseCashierImage(image.substr(0, 262), &back));
  EXPECT_FALSE(parseCashierImage(image + '\0', &back));
  c.number = 21;
  EXPECT_FALSE(parseCashierImage(cashierImage(c), &back));
}

TEST(TableImageTest, DiscountRoundTripAndSizes) {
  Discount d = MakeDiscount(20, -7, INT64_MIN + 3, std::string(140, 'd'));
  const std::string image = discountImage(d);
  ASSERT_EQ(141u, image.size());
  Discount back;
  ASSERT_TRUE(parseDiscountImage(image, &back));
  EXPECT_EQ(-7, back.type);
  EXPECT_EQ(INT64_MIN + 3, back.value);
  EXPECT_EQ(std::string(127, 'd'), back.name);
  EXPECT_FALSE(parseDiscountImage(image.substr(1), &back));
  EXPECT_FALSE(parseDiscountImage(image + 'x', &back));
  d.number = 0;
  EXPECT_FALSE(parseDiscountImage(discountImage(d), &back));
}

TEST(TableImageTest, SectionNamesAreCutAt126) {
  Section s = MakeSection(2, "");
  std::string name;
  for (int i = 0; i < 130; ++i) name += static_cast<char>('A' + i % 26);
  s.name = name;
  std::string image = sectionImage(s);
  ASSERT_EQ(128u, image.size());
  EXPECT_EQ(name.substr(0, 126), image.substr(1, 126));
  EXPECT_EQ('\0', image[127]);
  Section back;
  ASSERT_TRUE(parseSectionImage(image, &back));
  EXPECT_EQ(name.substr(0, 126), back.name);

  s.name.clear();
  image = sectionImage(s);
  EXPECT_EQ(std::string(1, '\2') + std::string(127, '\0'), image);
  ASSERT_TRUE(parseSectionImage(image, &back));
  EXPECT_EQ("", back.name);
  EXPECT_FALSE(parseSectionImage(image.substr(1), &back));
  s.setName(name);
  EXPECT_EQ(126u, s.name.size());
}

TEST(TableRecordTest, Validity) {
  struct DiscountCase { int32_t type; int64_t value; bool valid; };
  const DiscountCase discounts[] = {
      {1, 1, true},   {0, 150, true},  {-1, 100, true}, {INT32_MIN, 1, true},
      {2, 100, false}, {1, 0, false},  {0, -5, false},  {INT32_MAX, 9, false},
  };
  for (const DiscountCase& c : discounts) {
    EXPECT_EQ(c.valid, MakeDiscount(0, c.type, c.value).isValid()) << c.type << " " << c.value;
  }

  struct CashierCase {
    uint8_t number;
    uint16_t rights;
    int32_t password;
    const char* name;
    bool valid;
  };
  const CashierCase cashiers[] = {
      {1, 1, 1, "a", true},  {20, 0x3FF, -1, "a", true}, {0, 1, 1, "a", false},
      {21, 1, 1, "a", false}, {5, 0, 1, "a", false},     {5, 1, 0, "a", false},
      {5, 1, 1, "", false},
  };
  for (const CashierCase& c : cashiers) {
    const Cashier k = MakeCashier(c.number, c.rights, c.password, c.name);
    EXPECT_EQ(c.valid, k.isValid()) << int(c.number) << " " << c.rights << " " << c.password;
  }
}

TEST(DiscountMathTest, Amount) {
  struct Case { int32_t type; int64_t value; Decimal base; Decimal expected; };
  const Case cases[] = {
      {0, 150, Decimal(100, 100), Decimal(100, 150)},        // fixed sum, not capped
      {-1, 100, Decimal(100, 50), Decimal(100, 100)},
      {1, 1000, Decimal(100, 1234), Decimal(100, 123)},      // 10 % of 12.34
      {1, 500, Decimal(100, 666), Decimal(100, 33)},         // 5 % of 6.66
      {1, 1000, Decimal(1000, 12340), Decimal(1000, 1234)},  // at the base's scale
      {1, 1000, Decimal(100, 0), Decimal(100, 0)},
      {0, 150, Decimal(1000, -5), Decimal(1000, 0)},
      {0, 0, Decimal(100, 500), Decimal(100, 0)},
  };
  for (const Case& c : cases) {
    const Decimal got = discountAmount(MakeDiscount(1, c.type, c.value), c.base);
    EXPECT_EQ(c.expected.scale(), got.scale()) << c.type << " " << c.value;
    EXPECT_EQ(c.expected.mantissa(), got.mantissa()) << c.type << " " << c.value;
  }
}

TEST(DiscountMathTest, PrintName) {
  struct Case { int32_t type; int64_t value; std::string name; std::string expected; };
  const Case cases[] = {
      {1, 1000, "", util::Utf8ToCp866("СКИДКА 10.00%")},
      {1, 5, "", util::Utf8ToCp866("СКИДКА 0.05%")},
      {0, 1000, "", util::Utf8ToCp866("СКИДКА")},
      {1, 1000, "club", "club"},
      {2, 1000, "club", ""},
      {1, 0, "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, discountPrintName(MakeDiscount(1, c.type, c.value, c.name)))
        << c.type << " " << c.value;
  }
}

TEST(SectionTlvTest, ToAndFrom) {
  Section s = MakeSection(7, "meat");
  TlvElement e = sectionToTlv(s);
  ASSERT_EQ(tag::kSection, e.tag());
  EXPECT_EQ(2u, e.asList().size());
  Section back;
  ASSERT_TRUE(sectionFromTlv(e, &back));
  EXPECT_EQ(7, back.number);
  EXPECT_EQ("meat", back.name);

  s.name.clear();
  e = sectionToTlv(s);
  ASSERT_EQ(1u, e.asList().size());  // no name element
  ASSERT_TRUE(sectionFromTlv(e, &back));
  EXPECT_EQ("", back.name);
  s.number = 21;
  EXPECT_EQ(0, sectionToTlv(s).tag());
}

TEST(SectionTlvTest, ReadingRules) {
  const TlvElement number = TlvElement::fromByte(tag::kSectionNumber, 4);
  const TlvElement name = TlvElement::fromString(tag::kSectionName, std::string(130, 'q'));
  const TlvElement other = TlvElement::fromByte(tag::kUnit, 1);
  const TlvElement wide = TlvElement::fromU16(tag::kSectionNumber, 4);
  struct Case { const char* what; TlvElement element; bool ok; bool untouched; };
  const Case cases[] = {
      {"wrong tag", TlvElement::fromList(tag::kUnit, {number}), false, true},
      {"no inner", TlvElement(tag::kSection, ""), false, true},
      {"unknown inner ignored", TlvElement::fromList(tag::kSection, {other, number}), true, false},
      {"name only", TlvElement::fromList(tag::kSection, {name}), false, false},
      {"two-byte number", TlvElement::fromList(tag::kSection, {wide}), false, false},
      {"long name cut", TlvElement::fromList(tag::kSection, {number, name}), true, false},
  };
  for (const Case& c : cases) {
    Section s = MakeSection(9, "old");
    EXPECT_EQ(c.ok, sectionFromTlv(c.element, &s)) << c.what;
    EXPECT_EQ(c.untouched, s.name == "old" && s.number == 9) << c.what;
    if (c.ok) {
      EXPECT_EQ(4, s.number) << c.what;
    }
    EXPECT_LE(s.name.size(), 126u) << c.what;
  }
}

}  // namespace
