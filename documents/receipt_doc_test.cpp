#include "documents/receipt_doc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>

#include "app/codes.h"
#include "app/fr_status.h"
#include "platform/fake_env.h"
#include "util/coding.h"
#include "util/cp866.h"

namespace {

std::string Cp(const char* utf8) { return util::Utf8ToCp866(utf8); }

std::string TaxImage(uint8_t type, uint16_t rate, const char* name) {
  TaxRate t;
  t.setType(type);
  t.setRate(rate);
  t.setName(Cp(name));
  return t.image();
}

// Name, price, quantity 1, tax number and section, then `extra` (later
// elements override earlier ones).
TlvElement LineElement(int64_t price, uint8_t tax, uint8_t section,
                       const std::vector<TlvElement>& extra = {}) {
  std::vector<TlvElement> inner = {
      TlvElement::fromString(tag::kLineName, Cp("Товар")),
      TlvElement::fromVln(tag::kPrice, price),
      TlvElement::fromFvln(tag::kQuantity, Decimal(1, 1)),
      TlvElement::fromByte(tag::kLineTaxNumber, tax),
      TlvElement::fromByte(tag::kSectionNumber, section),
  };
  inner.insert(inner.end(), extra.begin(), extra.end());
  return TlvElement::fromList(tag::kReceiptLine, inner);
}

std::string Pay(int64_t cash, int64_t cashless) {
  std::string data;
  util::PutFixed64(&data, static_cast<uint64_t>(cash));
  util::PutFixed64(&data, static_cast<uint64_t>(cashless));
  return data;
}

std::vector<std::string> AllLines(const PrintData& data) {
  std::vector<std::string> out;
  for (const PrintItem& item : data) {
    out.insert(out.end(), item.block.lines().begin(), item.block.lines().end());
  }
  return out;
}

bool HasLine(const PrintData& data, const std::string& line) {
  for (const std::string& l : AllLines(data)) {
    if (l == line) return true;
  }
  return false;
}

class ReceiptDocTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(env_.CreateDirectory("/nv"));
    ASSERT_TRUE(tables::initSections(&env_));
    ASSERT_TRUE(tables::initDiscounts(&env_));
    ASSERT_TRUE(tables::saveSection(&env_, Section{3, Cp("Бакалея")}));
    ASSERT_TRUE(tables::saveDiscount(&env_, Discount{1, tables::kPercentDiscount, 500, ""}));
    FrStatus::reset();
    FrStatus::setShiftNumber(5);
    FrStatus::setReceiptsInShift(9);
    reg_.setCheckValue(0xA1B2C3D4);
    reg_.setTaxRateImage(0, TaxImage(TaxRate::kIncluded, 2000, "НДС 20%"));
    reg_.setTaxRateImage(1, TaxImage(TaxRate::kNoTax, 0, "БЕЗ НДС"));
  }

  std::unique_ptr<ReceiptDoc> Make(uint16_t rights = 0x11, const char* name = "Иванов") {
    return std::make_unique<ReceiptDoc>(&env_, ModelData(), reg_,
                                        Cashier{7, rights, 1234, Cp(name)});
  }
  // An opened receipt of `type` holding one line of `price`, tax 1, section 2.
  std::unique_ptr<ReceiptDoc> WithLine(uint8_t type, int64_t price) {
    auto doc = Make();
    EXPECT_EQ(rc::kOk, doc->setCashierName(std::string{static_cast<char>(type), 0}));
    EXPECT_EQ(rc::kOk, doc->addData(LineElement(price, 1, 2)));
    return doc;
  }

  platform::FakeEnv env_;
  RegData reg_;
};

TEST_F(ReceiptDocTest, Opening) {
  struct Case {
    std::string data;
    uint16_t rights;
    int code;
    uint8_t type;
    uint16_t number;
  };
  const Case cases[] = {
      {"", 0x11, rc::kBadReceiptType, 15, 0},
      {std::string("\x04\x00", 2), 0x11, rc::kBadReceiptType, 15, 0},  // no totals block
      {std::string("\x0E\x00", 2), 0x11, rc::kBadReceiptType, 15, 0},
      {std::string("\x0F\x00", 2), 0x11, rc::kBadReceiptType, 15, 0},
      {std::string("\x00\x03"
                   "abc",
                   5),
       0x01, rc::kOk, 0, 10},
      {std::string("\x01\x00", 2), 0x01, rc::kOk, 1, 10},
      {std::string("\x02\x00", 2), 0x01, rc::kNoRight, 2, 0},
      {std::string("\x03\x00", 2), 0x10, rc::kOk, 3, 10},
      {std::string("\x00\x00", 2), 0x10, rc::kNoRight, 0, 0},
      {std::string("\x00\x05"
                   "a",
                   3),
       0x01, rc::kTlvShort, 0, 10},
  };
  for (const Case& c : cases) {
    auto doc = Make(c.rights);
    EXPECT_EQ(c.code, doc->setCashierName(c.data)) << testing::PrintToString(c.data);
    EXPECT_EQ(c.type, doc->receiptType());
    EXPECT_EQ(c.number, doc->receiptNumber());
    if (c.code == rc::kOk) {
      EXPECT_EQ(5, doc->shiftNumber());
      EXPECT_EQ(doc->encode().size() - 22, doc->encodedSize()) << "own elements left out";
    }
  }
  auto named = Make();
  ASSERT_EQ(rc::kOk, named->setCashierName(std::string("\x00\x03"
                                                       "abc",
                                                       5)));
  EXPECT_EQ("abc", named->cashier().name);
}

TEST_F(ReceiptDocTest, TypesTitlesAndDirection) {
  struct Case {
    uint8_t type;
    const char* title;
    const char* header;
    bool incoming;
  };
  const Case cases[] = {
      {0, "ФИСКАЛЬНЫЙ КАССОВЫЙ ЧЕК НА ТОВАРЫ (УСЛУГИ)", "ПРОДАЖА ЧЕК 10\tСМЕНА 5", true},
      {1, "ФИСКАЛЬНЫЙ КАССОВЫЙ ЧЕК ВЫДАЧИ СРЕДСТВ", "ПОКУПКА ЧЕК 10\tСМЕНА 5", false},
      {2, "ФИСКАЛЬНЫЙ КАССОВЫЙ ЧЕК ВЫДАЧИ СРЕДСТВ", "ВОЗВРАТ ПРОДАЖИ ЧЕК 10\tСМЕНА 5", true},
      {3, "ФИСКАЛЬНЫЙ КАССОВЫЙ ЧЕК НА ТОВАРЫ (УСЛУГИ)", "ВОЗВРАТ ПОКУПКИ ЧЕК 10\tСМЕНА 5", false},
  };
  for (const Case& c : cases) {
    auto doc = WithLine(c.type, 100);
    EXPECT_EQ(Cp(c.title), doc->title());
    EXPECT_EQ(Cp(c.header), AllLines(doc->printHeader()).back());
    EXPECT_EQ(c.incoming, doc->isIncoming()) << int(c.type);
  }
  EXPECT_EQ("", Make()->title());
}

TEST_F(ReceiptDocTest, RefusedLinesChangeNothing) {
  struct Case {
    const char* what;
    TlvElement e;
    int code;
  };
  const TlvElement good = LineElement(100, 1, 2);
  const Case cases[] = {
      {"not a line", TlvElement(tag::kReceiptLine + 1, good.value()), rc::kUnknownTag},
      {"cashier name", TlvElement::fromString(tag::kCashierName, "x"), rc::kUnknownTag},
      {"empty", TlvElement(tag::kReceiptLine, ""), rc::kEmptyLine},
      {"tax 6", LineElement(100, 6, 2), rc::kTaxNotFound},
      {"unused tax 3", LineElement(100, 3, 2), rc::kTaxNotFound},
      {"section 21", LineElement(100, 1, 21), rc::kSectionNotFound},
      {"empty discount slot",
       LineElement(100, 1, 2, {TlvElement::fromByte(tag::kDiscountNumber, 7)}),
       rc::kDiscountNotFound},
      {"unknown inner tag", LineElement(100, 1, 2, {TlvElement(11999, "\x01\x02")}), rc::kBadData},
      {"negative amount", LineElement(-100, 1, 2), rc::kBadLine},
      {"quantity 0", LineElement(100, 1, 2, {TlvElement::fromFvln(tag::kQuantity, Decimal(1, 0))}),
       rc::kBadLine},
      // (2^62 + 1) x 4 would wrap to a valid-looking 0.04.
      {"price x quantity overflows",
       LineElement((INT64_C(1) << 62) + 1, 1, 2,
                   {TlvElement::fromFvln(tag::kQuantity, Decimal(1, 4))}),
       rc::kBadLine},
      {"cost - discount overflows",
       LineElement(-INT64_C(9000000000000000000), 1, 2,
                   {TlvElement::fromVln(tag::kDiscountAmount, INT64_C(9000000000000000000))}),
       rc::kBadLine},
  };
  for (const Case& c : cases) {
    auto doc = WithLine(0, 250);
    const std::string status = doc->statusBytes();
    const size_t size = doc->encodedSize();
    PrintData print;
    EXPECT_EQ(c.code, doc->addLine(c.e, &print)) << c.what;
    EXPECT_TRUE(print.empty()) << c.what;
    EXPECT_EQ(status, doc->statusBytes()) << c.what;
    EXPECT_EQ(size, doc->encodedSize()) << c.what;
    EXPECT_EQ(1u, doc->lines().size()) << c.what;
    EXPECT_EQ((std::map<uint8_t, Decimal>{{1, Decimal(100, 42)}}), doc->taxTotals()) << c.what;
    EXPECT_EQ((std::map<uint8_t, Decimal>{{2, Decimal(100, 250)}}), doc->sectionTotals()) << c.what;
  }
  const std::vector<std::string> lines = env_.lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "UNKNOWN TAG 11999 0102"), lines.end());
}

TEST_F(ReceiptDocTest, BooksLinesAndLoadsRecordsOnce) {
  auto doc = Make();
  ASSERT_EQ(rc::kOk, doc->setCashierName(std::string(2, '\0')));
  const size_t size = doc->encodedSize();
  const TlvElement first = LineElement(1000, 1, 3);
  PrintData print;
  ASSERT_EQ(rc::kOk, doc->addLine(first, &print));
  EXPECT_EQ(AllLines(doc->lines()[0].printedForm()), AllLines(print));
  EXPECT_EQ(Cp("Бакалея\t"), AllLines(print).at(0));
  EXPECT_EQ(size + first.value().size() + 4, doc->encodedSize());

  // Changed after the first use: the receipt keeps what it loaded.
  RegData changed = reg_;
  changed.setTaxRateImage(0, TaxRate().image());
  doc->setRegData(changed);
  ASSERT_TRUE(tables::saveSection(&env_, Section{3, Cp("Другое")}));
  ASSERT_EQ(rc::kOk, doc->addData(LineElement(2000, 1, 3)));
  ASSERT_EQ(rc::kOk, doc->addData(LineElement(500, 2, 2)));
  EXPECT_EQ(3500, doc->total().mantissa());
  EXPECT_EQ((std::map<uint8_t, Decimal>{{1, Decimal(100, 500)}, {2, Decimal(100, 500)}}),
            doc->taxTotals());  // 1.67 + 3.33; without tax the whole amount
  EXPECT_EQ((std::map<uint8_t, Decimal>{{2, Decimal(100, 500)}, {3, Decimal(100, 3000)}}),
            doc->sectionTotals());
  EXPECT_NE(std::string::npos, doc->sectionElements().find(Cp("Бакалея")));
  EXPECT_EQ(std::string::npos, doc->sectionElements().find(Cp("Другое")));
}

TEST_F(ReceiptDocTest, TotalOverflowRefusesTheLine) {
  auto doc = WithLine(0, INT64_C(5000000000000000000));
  // Another tax and section: only the receipt total overflows.
  EXPECT_EQ(rc::kBadLine, doc->addData(LineElement(INT64_C(5000000000000000000), 2, 3)));
  EXPECT_EQ(rc::kOk, doc->addData(LineElement(INT64_C(4000000000000000000), 2, 3)));
  EXPECT_EQ(2u, doc->lines().size());
  EXPECT_EQ(INT64_C(9000000000000000000), doc->total().mantissa());
}

TEST_F(ReceiptDocTest, SizeLimitBeforeDecoding) {
  auto doc = WithLine(0, 100);
  const size_t room = receipt::kMaxSize - receipt::kLineReserve - doc->encodedSize() - 3;
  EXPECT_EQ(rc::kDocumentTooLarge,
            doc->addData(TlvElement(tag::kReceiptLine, std::string(room, '\0'))));
  EXPECT_EQ(rc::kDocumentTooLarge, doc->addData(TlvElement(1, std::string(room, '\0'))));
  // One byte less passes the limit and fails on its contents: no element.
  EXPECT_EQ(rc::kEmptyLine,
            doc->addData(TlvElement(tag::kReceiptLine, std::string(room - 1, '\0'))));
}

TEST_F(ReceiptDocTest, MissingCloseData) {
  struct Case {
    size_t data_size;
    bool line;
    const char* name;
    uint16_t missing;
  };
  const Case cases[] = {
      {16, true, "", tag::kCashierName},     {0, true, "x", tag::kCashAmount},
      {4, true, "x", tag::kCashAmount},      {7, true, "x", tag::kCashAmount},
      {8, true, "x", tag::kCashlessAmount},  {15, true, "x", tag::kCashlessAmount},
      {17, true, "x", tag::kCashlessAmount}, {16, false, "x", tag::kReceiptLine},
  };
  for (const Case& c : cases) {
    auto doc = Make(0x11, c.name);
    ASSERT_EQ(rc::kOk, doc->setCashierName(std::string(2, '\0')));
    if (c.line) {
      ASSERT_EQ(rc::kOk, doc->addData(LineElement(100, 1, 2)));
    }
    uint16_t missing = 0;
    EXPECT_EQ(rc::kCloseData, doc->close(1700000000, "", std::string(c.data_size, '\0'), &missing));
    EXPECT_EQ(c.missing, missing) << c.data_size;
    EXPECT_EQ(1700000000u, doc->dateTime());
  }
  auto unopened = Make();
  unopened->setStoredTag(TlvElement::fromString(tag::kReceiptLine, LineElement(100, 1, 2).value()));
  EXPECT_EQ(rc::kBadReceiptType, unopened->close(1, "", Pay(0, 0), nullptr));
}

TEST_F(ReceiptDocTest, Payments) {
  struct Case {
    uint8_t type;
    int64_t cash, cashless, drawer;
    int code;
    int64_t kept_cash, change;
  };
  const Case cases[] = {
      {0, 0, 0, 0, rc::kOk, 9550, 0},  // all in cash
      {0, 10000, 0, 0, rc::kOk, 9550, 450},
      {0, 5000, 4550, 0, rc::kOk, 5000, 0},
      {2, 10000, 0, 0, rc::kOk, 9550, 450},
      {0, 9549, 0, 0, rc::kUnderpaid, 0, 0},
      {0, 0, 9600, 0, rc::kOverpaid, 0, 0},
      {1, 0, 9600, 100000, rc::kOverpaid, 0, 0},
      {2, 500, 9600, 0, rc::kOverpaid, 0, 0},
      {1, 10000, 0, 100000, rc::kOverpaid, 0, 0},
      {1, 9550, 0, 5000, rc::kNoCash, 0, 0},
      {1, 9550, 0, 9550, rc::kOk, 9550, 0},
      {3, 0, 0, 10000, rc::kOk, 9550, 0},
      {3, 0, 9550, 0, rc::kOk, 0, 0},
      // Would wrap to a negative sum and read as underpaid.
      {0, INT64_MAX, 100, 0, rc::kOverpaid, 0, 0},
      // Negative parts would move cash against a made-up refund.
      {1, 9560, -10, 100000, rc::kBadData, 0, 0},
      {0, 9560, -10, 0, rc::kBadData, 0, 0},
      {0, -1, 9551, 0, rc::kBadData, 0, 0},
  };
  for (const Case& c : cases) {
    FrStatus::setCashInDrawer(c.drawer);
    auto doc = WithLine(c.type, 9550);
    EXPECT_EQ(c.code, doc->close(1700000000, "", Pay(c.cash, c.cashless), nullptr))
        << int(c.type) << " " << c.cash << " " << c.cashless;
    EXPECT_EQ(c.kept_cash, doc->cashPayment().mantissa()) << c.cash;
    EXPECT_EQ(c.change, doc->change().mantissa()) << c.cash;
  }
}

TEST_F(ReceiptDocTest, IncomingTotalLimit) {
  FrStatus::setCashInDrawer(INT64_C(200000000000));
  struct Case {
    uint8_t type;
    int64_t total;
    int code;
  };
  const Case cases[] = {
      {0, INT64_C(100000000000), rc::kOk},
      {0, INT64_C(100000000001), rc::kOverpaid},
      {2, INT64_C(100000000001), rc::kOverpaid},
      {1, INT64_C(100000000001), rc::kOk},  // outgoing: only the drawer limits it
  };
  for (const Case& c : cases) {
    auto doc = WithLine(c.type, c.total);
    EXPECT_EQ(c.code, doc->close(1700000000, "", Pay(0, 0), nullptr)) << c.total;
  }
}

TEST_F(ReceiptDocTest, ChangeFooterAndReplies) {
  auto doc = WithLine(0, 9550);
  ASSERT_EQ(rc::kOk, doc->close(1700000000, "", Pay(10000, 0), nullptr));
  const PrintData footer = doc->printFooter(true);
  EXPECT_EQ(Cp("ИТОГО\t95.50"), footer.at(0).block.lines().at(0));
  EXPECT_TRUE(footer.at(0).block.style().has(PrintStyle::kDouble));
  EXPECT_EQ(0u, footer.at(0).block.style().font());
  EXPECT_EQ(Cp("НАЛИЧНЫМИ\t100.00"), footer.at(1).block.lines().at(0));
  EXPECT_EQ(Cp("СДАЧА\t4.50"), footer.at(2).block.lines().at(0));
  EXPECT_TRUE(footer.at(2).block.style().has(PrintStyle::kDouble));
  EXPECT_EQ(1u, footer.at(2).block.style().font());
  EXPECT_EQ(Cp("НДС 20%\t15.92"), footer.at(3).block.lines().at(0));
  EXPECT_FALSE(HasLine(footer, Cp("БЕЗНАЛИЧНЫМИ\t0.00")));
  EXPECT_TRUE(footer.back().cut);

  EXPECT_EQ((std::vector<std::string>{Cp("ИТОГО\t95.50"), Cp("НАЛИЧНЫМИ\t100.00"),
                                      Cp("БЕЗНАЛИЧНЫМИ\t0.00"), Cp("НДС 20%\t15.92")}),
            AllLines(doc->journalTotals()));
  doc->setDocumentNumber(21);
  EXPECT_EQ((std::vector<std::string>{Cp("КАССИР\tИванов"), Cp("ПРОДАЖА ЧЕК 10\tФД 21")}),
            AllLines(doc->journalHead()));

  const std::string reply = doc->closeReply();
  ASSERT_EQ(32u, reply.size());
  EXPECT_EQ(21u, util::GetFixed32(reply, 0));
  EXPECT_EQ(5, util::GetFixed16(reply, 12));
  EXPECT_EQ(10, util::GetFixed16(reply, 14));
  EXPECT_EQ(9550u, util::GetFixed64(reply, 16));
  EXPECT_EQ(450u, util::GetFixed64(reply, 24));
  const std::string status = doc->statusBytes();
  ASSERT_EQ(14u, status.size());
  EXPECT_EQ(std::string("\x03\x00\x0A\x00\x01\x00", 6), status.substr(0, 6));
  EXPECT_EQ(9550u, util::GetFixed64(status, 6));
}

// A sale with a discounted line, an untaxed one and an explicit discount.
class ReceiptRoundTripTest : public ReceiptDocTest {
 protected:
  std::unique_ptr<ReceiptDoc> Closed() {
    auto doc = Make();
    EXPECT_EQ(rc::kOk, doc->setCashierName(std::string(2, '\0')));
    EXPECT_EQ(rc::kOk,
              doc->addData(LineElement(1999, 1, 2,
                                       {TlvElement::fromFvln(tag::kQuantity, Decimal(1000, 333)),
                                        TlvElement::fromString(tag::kUnit, Cp("кг")),
                                        TlvElement::fromByte(tag::kDiscountNumber, 1)})));
    EXPECT_EQ(rc::kOk,
              doc->addData(LineElement(10000, 2, 3,
                                       {TlvElement::fromString(tag::kLineCode, "A1"),
                                        TlvElement::fromString(tag::kLineExtraText, "x")})));
    EXPECT_EQ(rc::kOk, doc->addData(LineElement(500, 1, 2,
                                                {TlvElement::fromVln(tag::kDiscountAmount, 50)})));
    EXPECT_EQ(11083, doc->total().mantissa());
    EXPECT_EQ(rc::kOk, doc->close(1700000000, "", Pay(10000, 2000), nullptr));
    doc->setDocumentNumber(21);
    doc->setFiscalisationNumber(1);
    doc->setFiscalSign(777);
    return doc;
  }
};

TEST_F(ReceiptRoundTripTest, RebuiltFromStoredParts) {
  auto doc = Closed();
  ReceiptDoc back(&env_, ModelData(), reg_, Cashier());
  std::vector<std::string> parts = {doc->encode().substr(1), doc->taxRateElements(),
                                    doc->sectionElements()};
  for (std::string line = doc->firstLine(); !line.empty(); line = doc->nextLine()) {
    parts.push_back(line);
  }
  ASSERT_EQ(6u, parts.size());
  EXPECT_EQ("", doc->nextLine());
  EXPECT_EQ(parts[3], doc->firstLine()) << "the cursor starts again";
  env_.ClearLines();
  for (const std::string& part : parts) {
    bool complete = false;
    for (const TlvElement& e : TlvElement::decodeList(part, &complete)) back.setStoredTag(e);
    EXPECT_TRUE(complete);
  }

  EXPECT_EQ(doc->signedData(), back.signedData());
  EXPECT_EQ(doc->taxRateElements(), back.taxRateElements());
  EXPECT_EQ(doc->sectionElements(), back.sectionElements());
  EXPECT_EQ(doc->statusBytes(), back.statusBytes());
  EXPECT_EQ(doc->taxTotals(), back.taxTotals());
  EXPECT_EQ(9083, back.cashPayment().mantissa());  // 100.00 less 9.17 change
  EXPECT_EQ(2000, back.cashlessPayment().mantissa());
  ASSERT_EQ(3u, back.lines().size());
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(doc->lines()[i].toTlv().encode(), back.lines()[i].toTlv().encode()) << i;
  }
  EXPECT_NE(doc->lines()[0], back.lines()[0]) << "the discount record is not stored";
  EXPECT_EQ(doc->lines()[1], back.lines()[1]);
  EXPECT_EQ(doc->lines()[2], back.lines()[2]);
  // Each line's recomputed amounts (three 11043, two 11102), nothing else.
  const std::vector<std::string> lines = env_.lines();
  EXPECT_EQ(5u, lines.size());
  for (const std::string& l : lines) {
    EXPECT_EQ(0u, l.find("ReceiptOperation::setStorageTag UNKNOWN TAG 11")) << l;
  }

  env_.ClearLines();
  back.setStoredTag(TlvElement(tag::kReceiptType, "\x01\x02"));
  EXPECT_EQ(0, back.receiptType());
  EXPECT_EQ((std::vector<std::string>{"setStoredTag UNKNOWN TAG 11054 2 0102"}), env_.lines());
}

TEST_F(ReceiptRoundTripTest, CloneOutlivesTheOriginal) {
  auto doc = Closed();
  const std::string signed_data = doc->signedData();
  const std::string taxes = doc->taxRateElements();
  const std::vector<std::string> printed = AllLines(doc->lines()[0].printedForm());
  std::shared_ptr<BaseDocument> copy = doc->clone();
  const ReceiptOperation* original_line = &doc->lines()[0];
  auto* receipt = dynamic_cast<ReceiptDoc*>(copy.get());
  ASSERT_NE(nullptr, receipt);
  EXPECT_NE(original_line->section(), receipt->lines()[0].section());
  doc.reset();
  EXPECT_EQ(signed_data, receipt->signedData());
  EXPECT_EQ(taxes, receipt->taxRateElements());
  EXPECT_EQ(printed, AllLines(receipt->lines()[0].printedForm()));
  EXPECT_NE(nullptr, receipt->lines()[0].discount());
  EXPECT_EQ(0, receipt->change().mantissa()) << "the change is not copied";
  EXPECT_TRUE(receipt->sectionTotals().empty());
}

}  // namespace
