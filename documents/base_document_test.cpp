#include "documents/base_document.h"

#include <gtest/gtest.h>

#include "app/codes.h"
#include "app/fr_status.h"
#include "platform/fake_env.h"
#include "storage/identity_test_util.h"
#include "util/coding.h"
#include "util/cp866.h"
#include "util/crc.h"

namespace {

const std::string kKey = std::string("0123456789abcde\xFF", 16);
const std::string kSerial = "0000012345";

ModelData Model(const std::string& key) { return identitytest::SignedModel(kSerial, key); }
RegData Reg(const std::string& key) { return identitytest::SignedReg(kSerial, key, 1700000000); }

Cashier ValidCashier() { return Cashier{7, 1, 1234, util::Utf8ToCp866("Иванов")}; }

// A cash-in-like document: the shift number is its own element.
class TestDoc : public BaseWorkDocument {
 public:
  TestDoc(platform::Env* env, uint8_t type, const ModelData& m = Model(kKey),
          const RegData& r = Reg(kKey), const Cashier& c = ValidCashier())
      : BaseWorkDocument(env, type, m, r, c) {}

  std::shared_ptr<BaseDocument> clone() const override {
    auto copy = std::make_shared<TestDoc>(env(), type(), ModelData(), RegData(), Cashier());
    copyTo(copy.get());
    return copy;
  }
  std::string title() const override { return doc::typeTitle(type()); }
  int close(uint32_t date_time, const std::string&, const std::string&,
            uint16_t* missing_tag) override {
    setDateTime(date_time);
    return rc::kOk;
  }
  std::string signedData() const override {
    std::string s;
    util::PutFixed16(&s, shiftNumber());
    util::PutFixed32(&s, documentNumber());
    util::PutFixed32(&s, dateTime());
    return s;
  }

 protected:
  void encodeOwn(std::string* out) const override {
    *out += TlvElement::fromU16(tag::kShiftNumber, shiftNumber()).encode();
  }
};

void Fill(TestDoc* d) {
  d->setDocumentNumber(17);
  d->setFiscalisationNumber(3);
  d->setDateTime(1700000000);
  d->setFiscalSign(42);
  d->setShiftNumber(12);
}

// Everything a copy must carry, as one comparable string.
std::string Snapshot(const TestDoc& d) {
  const Cashier& c = d.cashier();
  return d.encode() + d.modelData().image() + d.regData().image() +
         std::to_string(c.number) + "/" + std::to_string(c.rights) + "/" +
         std::to_string(c.password);
}

std::string Cp(const char* utf8) { return util::Utf8ToCp866(utf8); }

class BaseDocumentTest : public ::testing::Test {
 protected:
  void TearDown() override { FrStatus::reset(); }
  platform::FakeEnv env_;
};

TEST_F(BaseDocumentTest, EncodeReadsBackThroughSetStoredTag) {
  TestDoc d(&env_, doc::kCashIn);
  Fill(&d);
  const std::string bytes = d.encode();
  ASSERT_FALSE(bytes.empty());
  EXPECT_EQ(doc::kCashIn, static_cast<uint8_t>(bytes[0]));
  EXPECT_LE(bytes.size(), d.maxSize());

  bool complete = false;
  const std::vector<TlvElement> list = TlvElement::decodeList(bytes.substr(1), &complete);
  ASSERT_TRUE(complete);
  const std::vector<uint16_t> order = {tag::kDocumentNumber, tag::kFiscalisationNumber,
                                       tag::kCashierName,    tag::kDateTime,
                                       tag::kFiscalSign,     tag::kShiftNumber};
  ASSERT_EQ(order.size(), list.size());
  for (size_t i = 0; i < order.size(); ++i) EXPECT_EQ(order[i], list[i].tag()) << i;

  TestDoc rebuilt(&env_, static_cast<uint8_t>(bytes[0]), Model(kKey), Reg(kKey), Cashier());
  for (const TlvElement& e : list) rebuilt.setStoredTag(e);
  EXPECT_EQ(17u, rebuilt.documentNumber());
  EXPECT_EQ(3u, rebuilt.fiscalisationNumber());
  EXPECT_EQ(ValidCashier().name, rebuilt.cashier().name);
  EXPECT_EQ(1700000000u, rebuilt.dateTime());
  EXPECT_EQ(42u, rebuilt.fiscalSign());
  EXPECT_EQ(12, rebuilt.shiftNumber());
  EXPECT_EQ(bytes, rebuilt.encode());
  EXPECT_TRUE(env_.lines().empty());
}

TEST_F(BaseDocumentTest, LongCashierNameEncodesItsFirst256Bytes) {
  Cashier c = ValidCashier();
  c.name = std::string(250, 'a') + std::string(50, 'b');
  TestDoc d(&env_, doc::kCashIn, Model(kKey), Reg(kKey), c);
  const auto list = TlvElement::decodeList(d.encode().substr(1));
  ASSERT_GE(list.size(), 3u);
  EXPECT_EQ(tag::kCashierName, list[2].tag());
  EXPECT_EQ(std::string(250, 'a') + std::string(6, 'b'), list[2].value());
}

TEST_F(BaseDocumentTest, StoredElementsOfWrongSizeAreSkipped) {
  struct Case {
    const char* what;
    TlvElement element;
    uint32_t date_time;
    uint16_t shift;
    std::string line;
  };
  std::string eight;
  util::PutFixed64(&eight, 1700000123);
  const Case cases[] = {
      {"4-byte time", TlvElement::fromU32(tag::kDateTime, 1700000123), 1700000123, 0, ""},
      {"8-byte time", TlvElement(tag::kDateTime, eight), 1700000123, 0, ""},
      {"3-byte time", TlvElement(tag::kDateTime, "\x01\x02\x03"), 0, 0,
       "setStoredTag UNKNOWN TAG 11012 3 010203"},
      {"shift number", TlvElement::fromU16(tag::kShiftNumber, 513), 0, 513, ""},
      {"4-byte shift", TlvElement::fromU32(tag::kShiftNumber, 513), 0, 0,
       "setStoredTag UNKNOWN TAG 11038 4 01020000"},
      {"unknown tag", TlvElement(999, std::string("\x01\xAB\x00", 3)), 0, 0,
       "setStoredTag UNKNOWN TAG 999 3 01AB00"},
  };
  for (const Case& c : cases) {
    platform::FakeEnv env;
    TestDoc d(&env, doc::kCashIn);
    d.setStoredTag(c.element);
    EXPECT_EQ(c.date_time, d.dateTime()) << c.what;
    EXPECT_EQ(c.shift, d.shiftNumber()) << c.what;
    const auto lines = env.lines();
    if (c.line.empty()) {
      EXPECT_TRUE(lines.empty()) << c.what;
    } else {
      EXPECT_EQ(std::vector<std::string>{c.line}, lines) << c.what;
    }
  }
}

TEST_F(BaseDocumentTest, CopyToSameTypeOnly) {
  TestDoc src(&env_, doc::kCashIn);
  Fill(&src);

  TestDoc other_type(&env_, doc::kCashOut, ModelData(), RegData(), Cashier());
  const std::string before = Snapshot(other_type);
  EXPECT_EQ(nullptr, src.copyTo(&other_type));
  EXPECT_EQ(before, Snapshot(other_type));

  TestDoc same(&env_, doc::kCashIn, ModelData(), RegData(), Cashier());
  EXPECT_EQ(&same, src.copyTo(&same));
  EXPECT_EQ(Snapshot(src), Snapshot(same));
  EXPECT_EQ(ValidCashier().name, same.cashier().name);

  EXPECT_EQ(nullptr, src.copyTo(nullptr));
}

TEST_F(BaseDocumentTest, CompleteAndRegistered) {
  Cashier no_number = ValidCashier();
  no_number.number = 0;
  Cashier no_name = ValidCashier();
  no_name.name.clear();
  struct Case {
    const char* what;
    uint8_t type;
    ModelData model;
    RegData reg;
    Cashier cashier;
    uint32_t sign, number, fisc;
    bool complete, registered;
  };
  const Case cases[] = {
      {"all set", 5, Model(kKey), Reg(kKey), ValidCashier(), 42, 17, 3, true, true},
      {"type 0", 0, Model(kKey), Reg(kKey), ValidCashier(), 42, 17, 3, false, false},
      {"type 8", 8, Model(kKey), Reg(kKey), ValidCashier(), 42, 17, 3, false, false},
      {"type 1", 1, Model(kKey), Reg(kKey), ValidCashier(), 42, 17, 3, true, true},
      {"no sign", 5, Model(kKey), Reg(kKey), ValidCashier(), 0, 17, 3, false, true},
      {"cashier number 0", 5, Model(kKey), Reg(kKey), no_number, 42, 17, 3, false, true},
      {"cashier name empty", 5, Model(kKey), Reg(kKey), no_name, 42, 17, 3, false, true},
      {"default model", 5, ModelData(), Reg(kKey), ValidCashier(), 42, 17, 3, false, false},
      {"default registration", 5, Model(kKey), RegData(), ValidCashier(), 42, 17, 3, false,
       false},
      {"no document number", 5, Model(kKey), Reg(kKey), ValidCashier(), 42, 0, 3, false, true},
      {"no fiscalisation number", 5, Model(kKey), Reg(kKey), ValidCashier(), 42, 17, 0, false,
       true},
  };
  for (const Case& c : cases) {
    TestDoc d(&env_, c.type, c.model, c.reg, c.cashier);
    d.setFiscalSign(c.sign);
    d.setDocumentNumber(c.number);
    d.setFiscalisationNumber(c.fisc);
    EXPECT_EQ(c.complete, d.isComplete()) << c.what;
    EXPECT_EQ(c.registered, d.isRegistered()) << c.what;
  }
}

TEST_F(BaseDocumentTest, SignNeedsTheIdentityOfTheKey) {
  TestDoc d(&env_, doc::kCashIn);
  Fill(&d);
  d.setFiscalSign(0);
  ASSERT_TRUE(d.sign(kKey, kSerial));
  EXPECT_EQ(util::Crc32(kKey + kSerial + d.signedData()), d.fiscalSign());
  EXPECT_TRUE(d.isComplete());
  EXPECT_TRUE(d.verifySign(kKey, kSerial));

  d.setDateTime(d.dateTime() + 1);  // signed data changed after signing
  EXPECT_FALSE(d.verifySign(kKey, kSerial));

  std::string other_key = kKey;
  other_key[15] = 'x';
  TestDoc foreign(&env_, doc::kCashIn);
  Fill(&foreign);
  foreign.setFiscalSign(0);
  EXPECT_FALSE(foreign.sign(other_key, kSerial));
  EXPECT_EQ(0u, foreign.fiscalSign());
  EXPECT_FALSE(foreign.isComplete());
  EXPECT_FALSE(foreign.verifySign(other_key, kSerial));
}

TEST_F(BaseDocumentTest, DescriptorReplyAndStatusBytes) {
  TestDoc d(&env_, doc::kCashIn);
  d.setDocumentNumber(0x01020304);
  d.setDateTime(0x11223344);
  d.setShiftNumber(0x5566);
  d.setFiscalSign(0xA1B2C3D4);

  const auto desc = d.descriptor();
  ASSERT_NE(nullptr, desc);
  const std::string head("\x05\x04\x03\x02\x01\x44\x33\x22\x11\x66\x55\xD4\xC3\xB2\xA1\x07", 16);
  const std::string all(reinterpret_cast<const char*>(desc->bytes), descriptor::kSize);
  EXPECT_EQ(head + std::string(descriptor::kSize - 16, '\0'), all);

  EXPECT_EQ(std::string("\x04\x03\x02\x01\xD4\xC3\xB2\xA1\x44\x33\x22\x11", 12), d.closeReply());
  EXPECT_EQ(std::string(1, '\x05'), d.statusBytes());
}

TEST_F(BaseDocumentTest, SetCashierName) {
  struct Case {
    const char* what;
    std::string data;
    int result;
    std::string name;
    uint16_t shift;
  };
  const std::string old_name = ValidCashier().name;
  const std::string long_name(255, 'z');
  const Case cases[] = {
      {"no length byte", "", rc::kTlvShort, old_name, 0},
      {"length 0 keeps the name", std::string("\0xyz", 4), rc::kOk, old_name, 12},
      {"short", "\x03" "ab", rc::kTlvShort, old_name, 0},
      {"exact", "\x03" "abc", rc::kOk, "abc", 12},
      {"extra bytes ignored", "\x02" "abc", rc::kOk, "ab", 12},
      {"length 255", "\xFF" + long_name, rc::kOk, long_name, 12},
  };
  FrStatus::setShiftNumber(12);
  for (const Case& c : cases) {
    TestDoc d(&env_, doc::kCashIn);
    EXPECT_EQ(c.result, d.setCashierName(c.data)) << c.what;
    EXPECT_EQ(c.name, d.cashier().name) << c.what;
    EXPECT_EQ(c.shift, d.shiftNumber()) << c.what;
  }
}

TEST_F(BaseDocumentTest, AddDataTakesOnlyTheCashierName) {
  const std::string name = Cp("Петров");
  struct Case {
    TlvElement element;
    int result;
    std::string name;
  };
  const Case cases[] = {
      {TlvElement::fromString(tag::kCashierName, name), rc::kOk, name},
      {TlvElement::fromString(tag::kInn, name), rc::kUnknownTag, ValidCashier().name},
      {TlvElement::fromU16(tag::kShiftNumber, 3), rc::kUnknownTag, ValidCashier().name},
  };
  for (const Case& c : cases) {
    TestDoc d(&env_, doc::kCashIn);
    EXPECT_EQ(c.result, d.addData(c.element)) << c.element.tag();
    EXPECT_EQ(c.name, d.cashier().name) << c.element.tag();
  }
}

TEST_F(BaseDocumentTest, Footer) {
  for (bool cut : {false, true}) {
    for (bool registered : {true, false}) {
      TestDoc d(&env_, doc::kCashIn, Model(kKey), registered ? Reg(kKey) : RegData());
      Fill(&d);
      const PrintData out = d.printFooter(cut);
      ASSERT_EQ(registered ? 3u : 2u, out.size());
      if (registered) {
        EXPECT_FALSE(out[0].cut);
      }

      const PrintItem& lines = out[out.size() - 2];
      const std::vector<std::string> expected = {
          Cp("ДАТА\t14.11.2023 22:13:20"),
          Cp("ФД 17\t") + d.modelData().modelName() + " " + kSerial};
      EXPECT_EQ(expected, lines.block.lines());
      EXPECT_TRUE(lines.block.style().has(PrintStyle::kMarker));
      EXPECT_EQ(1u, lines.block.style().font());
      EXPECT_FALSE(lines.cut);

      const PrintItem& sign = out.back();
      EXPECT_EQ(std::vector<std::string>{Cp("ФП 0000000042")}, sign.block.lines());
      const PrintStyle& style = sign.block.style();
      EXPECT_TRUE(style.has(PrintStyle::kCentre) && style.has(PrintStyle::kBold) &&
                  style.has(PrintStyle::kDouble));
      EXPECT_EQ(0u, style.font());
      EXPECT_EQ(cut, sign.cut);
    }
  }
}

TEST_F(BaseDocumentTest, Header) {
  for (bool registered : {true, false}) {
    TestDoc d(&env_, doc::kCashIn, Model(kKey), registered ? Reg(kKey) : RegData());
    const PrintData out = d.printHeader();
    ASSERT_EQ(registered ? 3u : 2u, out.size());
    if (registered) {
      EXPECT_EQ(std::vector<std::string>(3, "text"), out[0].block.lines());
    }

    const PrintItem& title = out[out.size() - 2];
    EXPECT_EQ(std::vector<std::string>{Cp("Внесение")}, title.block.lines());
    EXPECT_TRUE(title.block.style().has(PrintStyle::kCentre));
    EXPECT_TRUE(title.block.style().has(PrintStyle::kBold));
    EXPECT_EQ(1u, title.block.style().font());

    const PrintItem& cashier = out.back();
    EXPECT_EQ(std::vector<std::string>{Cp("КАССИР\tИванов")}, cashier.block.lines());
    EXPECT_TRUE(cashier.block.style().has(PrintStyle::kMarker));
    EXPECT_FALSE(cashier.block.style().has(PrintStyle::kCentre));
    EXPECT_EQ(1u, cashier.block.style().font());
    for (const PrintItem& item : out) EXPECT_FALSE(item.cut);
  }
}

TEST(DocumentTypeTest, KnownTypesAndTitles) {
  for (int t = 0; t < 256; ++t) {
    EXPECT_EQ(t >= 1 && t <= 7, doc::isKnownType(static_cast<uint8_t>(t))) << t;
  }
  EXPECT_EQ(Cp("Z-Отчет"), doc::typeTitle(doc::kShiftClose));
  EXPECT_EQ(Cp("Выплата"), doc::typeTitle(doc::kCashOut));
  EXPECT_EQ("", doc::typeTitle(doc::kReceipt));
  EXPECT_EQ("", doc::typeTitle(8));
}

}  // namespace
