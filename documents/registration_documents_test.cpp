#include "documents/registration_documents.h"

#include <gtest/gtest.h>

#include <functional>

#include "app/codes.h"
#include "app/fr_status.h"
#include "platform/fake_env.h"
#include "printer/render.h"
#include "storage/identity_test_util.h"
#include "storage/tax_rate.h"
#include "util/coding.h"
#include "util/cp866.h"
#include "util/crc.h"

namespace {

const std::string kKey = std::string("0123456789abcde\xFF", 16);
const std::string kSerial = "0000012345";
const std::string kInn = "770123456789";
const std::string kFn = "9999078900012345";

ModelData Model() { return identitytest::SignedModel(kSerial, kKey); }

// The registration the device runs under before a re-registration.
RegData Reg() {
  RegData r;
  r.setFnNumber("1111111111");
  r.setInn("2222222222");
  for (int i = 0; i < 3; ++i) r.setText(i, "old");
  r.setRegistrationTime(1600000000);
  r.setCheckValue(r.computeCheckValue(kSerial, kKey));
  return r;
}

Cashier ValidCashier() { return Cashier{7, 8, 1234, util::Utf8ToCp866("Иванов")}; }
std::string Cp(const char* utf8) { return util::Utf8ToCp866(utf8); }

std::string U32(uint32_t v) {
  std::string s;
  util::PutFixed32(&s, v);
  return s;
}

TaxRate Vat(uint16_t rate, const std::string& name) {
  TaxRate t;
  t.setType(TaxRate::kIncluded);
  t.setRate(rate);
  t.setName(name);
  return t;
}

ShiftCounters SinceRegistration() {
  ShiftCounters c;
  c.setShiftNumber(4);
  c.setCashOutCount(1);
  c.setCashOutSum(700);
  c.setReceiptCount(9);
  return c;
}

GrossCounters Gross() {
  GrossCounters g;
  g.setShiftNumber(40);
  g.setReceiptCount(900);
  OperationCounters sale(false);
  sale.setReceiptCount(900);
  sale.setTotal(12345600);
  g.setBlock(0, sale);
  return g;
}

std::vector<uint16_t> Tags(const BaseWorkDocument& d) {
  std::vector<uint16_t> tags;
  for (const TlvElement& e : TlvElement::decodeList(d.encode().substr(1))) tags.push_back(e.tag());
  return tags;
}

void Rebuild(const BaseWorkDocument& from, BaseWorkDocument* to) {
  bool complete = false;
  for (const TlvElement& e : TlvElement::decodeList(from.encode().substr(1), &complete)) {
    to->setStoredTag(e);
  }
  ASSERT_TRUE(complete);
}

class RegistrationDocumentsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FrStatus::reset();
    FrStatus::setShiftNumber(4);
  }
  void TearDown() override { FrStatus::reset(); }

  // A report filled by the host: cashier given, texts and one tax rate.
  FiscalizationDocument Filled() {
    FiscalizationDocument d(&env_, Model(), Reg(), ValidCashier());
    EXPECT_EQ(rc::kOk, d.setCashierName(std::string(1, '\0')));
    EXPECT_EQ(rc::kOk, d.addData(TlvElement::fromString(tag::kFirstRegText, "ООО Ромашка")));
    EXPECT_EQ(rc::kOk, d.addData(TlvElement::fromString(tag::kSecondRegText, "Москва")));
    EXPECT_EQ(rc::kOk, d.addData(TlvElement::fromString(tag::kThirdRegText, "Касса 1")));
    EXPECT_EQ(rc::kOk, d.addData(Vat(2000, "NDS").toTlv(1)));
    return d;
  }

  platform::FakeEnv env_;
};

TEST(NumberFieldTest, TenDigitsThenDigitsOrNul) {
  const struct {
    std::string field;
    bool valid;
  } cases[] = {
      {kInn, true},
      {std::string("7701234567\0\0", 12), true},
      {std::string("7701234567\0" "8", 12), true},
      {std::string("770123456\0\0\0", 12), false},
      {std::string("77012345678x", 12), false},
      {std::string(12, '\0'), false},
      {kFn, true},
      {std::string("9999078900") + std::string(6, '\0'), true},
      {std::string("999907890 ") + std::string(6, '\0'), false},
      {"123456789", false},
  };
  for (const auto& c : cases) EXPECT_EQ(c.valid, regdoc::isNumberField(c.field)) << c.field;
}

TEST_F(RegistrationDocumentsTest, AddDataTakesRegistrationElements) {
  RegData one_byte = Reg();
  one_byte.setText(1, "a");
  RegData long_text = Reg();
  long_text.setText(2, std::string(255, 'c'));
  RegData rate5 = Reg();
  rate5.setTaxRateImage(4, Vat(1000, "T5").image());
  const struct {
    const char* what;
    TlvElement element;
    int result;
    RegData reg;
  } cases[] = {
      {"empty text", TlvElement::fromString(tag::kFirstRegText, ""), rc::kBadRegistrationData,
       Reg()},
      {"one byte", TlvElement::fromString(tag::kSecondRegText, "a"), rc::kOk, one_byte},
      {"255 bytes", TlvElement::fromString(tag::kThirdRegText, std::string(255, 'c')), rc::kOk,
       long_text},
      {"256 bytes", TlvElement::fromString(tag::kThirdRegText, std::string(256, 'c')),
       rc::kBadRegistrationData, Reg()},
      {"tax rate 5", Vat(1000, "T5").toTlv(4), rc::kOk, rate5},
      {"broken tax rate", TlvElement(tag::kTaxRateFirst + 2, "\x01\x02"),
       rc::kBadRegistrationData, Reg()},
      {"cashier name", TlvElement::fromString(tag::kCashierName, "x"), rc::kOk, Reg()},
      {"shift number", TlvElement::fromU16(tag::kShiftNumber, 1), rc::kUnknownTag, Reg()},
      {"ИНН comes with the close", TlvElement::fromString(tag::kInn, kInn), rc::kUnknownTag,
       Reg()},
  };
  for (const auto& c : cases) {
    FiscalizationDocument d(&env_, Model(), Reg(), ValidCashier());
    EXPECT_EQ(c.result, d.addData(c.element)) << c.what;
    EXPECT_EQ(c.reg.image(), d.regData().image()) << c.what;
  }
}

TEST_F(RegistrationDocumentsTest, CloseChecksItsItemsInOrder) {
  const std::string data = kInn + kFn;
  Cashier nameless = ValidCashier();
  nameless.name.clear();
  const struct {
    const char* what;
    std::string data;
    bool nameless;
    std::function<void(RegData*)> spoil;
    uint16_t missing;
  } cases[] = {
      {"no cashier name, nothing else either", "", true, [](RegData* r) { *r = RegData(); },
       tag::kCashierName},
      {"27 bytes leave the ИНН empty", data.substr(0, 27), false,
       [](RegData* r) { r->setInn(""); }, tag::kInn},
      {"ИНН of 9 digits", std::string("770123456\0\0\0", 12) + kFn, false, nullptr, tag::kInn},
      {"ИНН with a letter", "77012345678A" + kFn, false, nullptr, tag::kInn},
      {"ФН of 9 digits", kInn + "999907890" + std::string(7, '\0'), false, nullptr,
       tag::kFnNumber},
      {"no first text", data, false, [](RegData* r) { r->setText(0, ""); r->setText(2, ""); },
       tag::kFirstRegText},
      {"no second text", data, false, [](RegData* r) { r->setText(1, ""); }, tag::kSecondRegText},
      {"no third text", data, false, [](RegData* r) { r->setText(2, ""); }, tag::kThirdRegText},
      {"no valid tax rate", data, false,  // above 99.99 %
       [](RegData* r) { r->setTaxRateImage(1, Vat(10000, "NDS").image()); }, tag::kTaxRateFirst},
  };
  for (const auto& c : cases) {
    FiscalizationDocument d = Filled();
    if (c.nameless) d.setCashier(nameless);
    RegData spoilt = d.regData();
    if (c.spoil) c.spoil(&spoilt);
    d.setRegData(spoilt);
    const RegData before = d.regData();
    uint16_t missing = 0;
    EXPECT_EQ(rc::kCloseData, d.close(1700000000, kKey, c.data, &missing)) << c.what;
    EXPECT_EQ(c.missing, missing) << c.what;
    EXPECT_EQ(1700000000u, d.dateTime()) << c.what;
    EXPECT_EQ(before.registrationTime(), d.regData().registrationTime()) << c.what;
    EXPECT_EQ(before.checkValue(), d.regData().checkValue()) << c.what;
    if (c.data.size() == regdoc::kCloseDataSize) {
      // ФН number first in the record, then the ИНН.
      EXPECT_EQ(c.data.substr(12) + c.data.substr(0, 12), d.regData().image().substr(0, 28))
          << c.what;
    } else {
      EXPECT_EQ(before.image(), d.regData().image()) << c.what;
    }
  }
}

TEST_F(RegistrationDocumentsTest, CloseMakesTheNewRegistration) {
  FiscalizationDocument d = Filled();
  uint16_t missing = 0;
  ASSERT_EQ(rc::kOk, d.close(1700000000, kKey, kInn + kFn, &missing));
  const RegData& r = d.regData();
  EXPECT_EQ(kInn + std::string(1, '\0'), r.inn());  // a full field reads with one NUL more
  EXPECT_EQ(kFn + std::string(1, '\0'), r.fnNumber());
  EXPECT_EQ(1700000000, r.registrationTime());
  EXPECT_EQ(util::Crc32(r.fnNumber() + r.inn() + kSerial + kKey), r.checkValue());
  EXPECT_TRUE(r.isValid());
  EXPECT_EQ(4, d.shiftNumber());
  EXPECT_EQ(U32(0) + U32(0) + U32(1700000000), d.closeReply());

  // Data of another length keeps what the registration had.
  FiscalizationDocument kept = Filled();
  ASSERT_EQ(rc::kOk, kept.close(1700000000, kKey, "", &missing));
  EXPECT_EQ("2222222222", kept.regData().inn());
}

TEST_F(RegistrationDocumentsTest, CheckValueNeedsKeyAndModel) {
  const struct {
    const char* what;
    ModelData model;
    std::string key;
  } cases[] = {
      {"short key", Model(), kKey.substr(0, 15)},
      {"long key", Model(), kKey + "x"},
      {"default model", ModelData(), kKey},
  };
  for (const auto& c : cases) {
    FiscalizationDocument d = Filled();
    d.setModelData(c.model);
    uint16_t missing = 0;
    EXPECT_EQ(rc::kCheckValueFailed, d.close(1700000000, c.key, kInn + kFn, &missing)) << c.what;
    EXPECT_EQ(Reg().checkValue(), d.regData().checkValue()) << c.what;
    EXPECT_EQ(1600000000, d.regData().registrationTime()) << c.what;
    EXPECT_FALSE(d.recomputeCheckValue(c.key)) << c.what;
  }
}

TEST_F(RegistrationDocumentsTest, FiscalisationSignGivesANewRegistrationItsCheckValue) {
  FiscalizationDocument d = Filled();
  RegData r = d.regData();
  r.setInn(kInn);
  r.setFnNumber(kFn);
  r.setCheckValue(0);  // not valid yet
  d.setRegData(r);
  d.setDateTime(1700000000);
  ASSERT_TRUE(d.sign(kKey, kSerial));
  const uint32_t check = d.regData().checkValue();
  EXPECT_EQ(r.computeCheckValue(kSerial, kKey), check);
  EXPECT_EQ(U32(check) + U32(4) + U32(1700000000), d.signedData());
  EXPECT_EQ(util::Crc32(kKey + kSerial + d.signedData()), d.fiscalSign());
  EXPECT_TRUE(d.verifySign(kKey, kSerial));

  // The model must verify; the sign stays as it was.
  FiscalizationDocument foreign = Filled();
  foreign.setFiscalSign(77);
  std::string other_key = kKey;
  other_key[0] = 'X';
  EXPECT_FALSE(foreign.sign(other_key, kSerial));
  EXPECT_EQ(77u, foreign.fiscalSign());
}

TEST_F(RegistrationDocumentsTest, EncodedElements) {
  const std::vector<uint16_t> base = {tag::kDocumentNumber, tag::kFiscalisationNumber,
                                      tag::kCashierName, tag::kDateTime, tag::kFiscalSign};
  auto with = [&base](std::vector<uint16_t> own) {
    std::vector<uint16_t> all = base;
    all.insert(all.end(), own.begin(), own.end());
    return all;
  };
  FiscalizationDocument fisc = Filled();
  const std::vector<uint16_t> reg = {tag::kFnNumber,    tag::kInn,           tag::kFirstRegText,
                                     tag::kSecondRegText, tag::kThirdRegText, tag::kArchiveNumber,
                                     tag::kTaxRateFirst + 1};
  EXPECT_EQ(with(reg), Tags(fisc));
  fisc.setRegistrationCounters(SinceRegistration());
  std::vector<uint16_t> reg_and_counters = reg;
  reg_and_counters.push_back(tag::kRegistrationCounters);
  EXPECT_EQ(with(reg_and_counters), Tags(fisc));

  ArchiveCloseDoc close(&env_, Model(), Reg(), ValidCashier());
  EXPECT_EQ(with({tag::kShiftNumber}), Tags(close));
  close.setGrossCounters(Gross());
  EXPECT_EQ(with({tag::kShiftNumber, tag::kGrossCounters}), Tags(close));
  close.setRegistrationCounters(SinceRegistration());
  EXPECT_EQ(with({tag::kShiftNumber, tag::kRegistrationCounters, tag::kGrossCounters}),
            Tags(close));
}

TEST_F(RegistrationDocumentsTest, FiscalisationRebuildsFromItsEncoding) {
  FiscalizationDocument d = Filled();
  ASSERT_EQ(rc::kOk, d.addData(TlvElement::fromString(tag::kFirstRegText, std::string(255, 'f'))));
  RegData full = d.regData();
  full.setText(1, std::string(256, 's'));  // a full field: exported with one NUL more
  full.setArchiveNumber(0xA0B0C0D0);
  d.setRegData(full);
  uint16_t missing = 0;
  ASSERT_EQ(rc::kOk, d.close(1700000000, kKey, kInn + kFn, &missing));
  d.setDocumentNumber(21);
  d.setFiscalisationNumber(21);
  d.setRegistrationCounters(SinceRegistration());
  ASSERT_TRUE(d.sign(kKey, kSerial));

  FiscalizationDocument back(&env_, Model(), RegData(), Cashier());
  Rebuild(d, &back);
  EXPECT_TRUE(env_.lines().empty());
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(d.regData().taxRateImage(i), back.regData().taxRateImage(i)) << i;
  }
  // The check value is not stored; the shift number comes from the descriptor.
  EXPECT_EQ(0u, back.regData().checkValue());
  EXPECT_EQ(0, back.shiftNumber());
  ASSERT_TRUE(back.recomputeCheckValue(kKey));
  back.setShiftNumber(util::DecodeFixed16(d.descriptor()->bytes + descriptor::kShiftNumberOffset));
  EXPECT_EQ(d.regData().image(), back.regData().image());
  EXPECT_EQ(d.encode(), back.encode());
  EXPECT_EQ(d.signedData(), back.signedData());
  EXPECT_TRUE(back.verifySign(kKey, kSerial));
  ASSERT_NE(nullptr, back.registrationCounters());
  EXPECT_EQ(SinceRegistration().image(), back.registrationCounters()->image());
}

TEST_F(RegistrationDocumentsTest, ArchiveCloseRebuildsFromItsEncoding) {
  ArchiveCloseDoc d(&env_, Model(), Reg(), ValidCashier());
  ASSERT_EQ(rc::kOk, d.setCashierName("\x01" "z"));
  uint16_t missing = 0;
  ASSERT_EQ(rc::kOk, d.close(1700000000, kKey, "", &missing));
  d.setDocumentNumber(0x01020304);
  d.setFiscalisationNumber(3);
  d.setRegistrationCounters(SinceRegistration());
  d.setGrossCounters(Gross());
  ASSERT_TRUE(d.sign(kKey, kSerial));
  EXPECT_EQ(U32(Reg().checkValue()) + U32(0x01020304) + U32(1700000000), d.signedData());
  EXPECT_EQ(U32(0x01020304) + U32(d.fiscalSign()) + U32(1700000000), d.closeReply());
  EXPECT_TRUE(d.isComplete());

  ArchiveCloseDoc back(&env_, Model(), Reg(), Cashier());
  Rebuild(d, &back);
  EXPECT_TRUE(env_.lines().empty());
  EXPECT_EQ(4, back.shiftNumber());
  EXPECT_EQ("z", back.cashier().name);
  EXPECT_EQ(d.encode(), back.encode());
  EXPECT_EQ(d.signedData(), back.signedData());
  EXPECT_TRUE(back.verifySign(kKey, kSerial));
  ASSERT_NE(nullptr, back.grossCounters());
  EXPECT_EQ(Gross().image(), back.grossCounters()->image());
  ASSERT_NE(nullptr, back.registrationCounters());
  EXPECT_EQ(SinceRegistration().image(), back.registrationCounters()->image());
}

TEST_F(RegistrationDocumentsTest, StoredRegistrationFieldsThatDoNotFitAreReported) {
  const struct {
    TlvElement element;
    std::string line;
  } cases[] = {
      {TlvElement::fromString(tag::kInn, "1234567890123"),
       "setStoredTag UNKNOWN TAG 11018 13 31323334353637383930313233"},
      {TlvElement(tag::kArchiveNumber, "\x01\x02"), "setStoredTag UNKNOWN TAG 11041 2 0102"},
      {TlvElement(tag::kDateTime, "\x01"), "setStoredTag UNKNOWN TAG 11012 1 01"},
      {TlvElement(tag::kTaxRateFirst, "\x01"), "setStoredTag UNKNOWN TAG 13105 1 01"},
  };
  for (const auto& c : cases) {
    platform::FakeEnv env;
    FiscalizationDocument d(&env, Model(), Reg(), ValidCashier());
    d.setStoredTag(c.element);
    EXPECT_EQ(std::vector<std::string>{c.line}, env.lines());
    EXPECT_EQ(Reg().image(), d.regData().image());
    EXPECT_EQ(0u, d.dateTime());
  }
}

TEST_F(RegistrationDocumentsTest, TitlesCloseAndReportTexts) {
  FiscalizationDocument fisc = Filled();
  EXPECT_EQ(Cp("Отчет о фискализации/перерегистрации"), fisc.title());
  EXPECT_TRUE(fisc.printHeader().empty());
  const std::string header = fisc.headerText();
  EXPECT_NE(std::string::npos, header.find(fisc.title()));
  EXPECT_NE(std::string::npos, header.find(Cp("КАССИР")));
  EXPECT_EQ("", fisc.reportText());
  fisc.setRegistrationCounters(SinceRegistration());
  EXPECT_NE(std::string::npos, fisc.reportText().find(Cp("ИТОГО С ПОСЛЕДНЕЙ РЕГИСТРАЦИИ")));

  Cashier nameless = ValidCashier();
  nameless.name.clear();
  ArchiveCloseDoc close(&env_, Model(), Reg(), nameless);
  EXPECT_EQ(Cp("Отчет о закрытии архива"), close.title());
  EXPECT_EQ(3u, close.printHeader().size());  // the base header, no shift line
  uint16_t missing = 0;
  EXPECT_EQ(rc::kCloseData, close.close(1700000000, kKey, "", &missing));
  EXPECT_EQ(tag::kCashierName, missing);
  EXPECT_EQ(4, close.shiftNumber());

  EXPECT_EQ("", close.reportText());
  close.setGrossCounters(Gross());
  close.setRegistrationCounters(SinceRegistration());
  const std::string text = close.reportText();
  const size_t since = text.find(Cp("ИТОГО С ПОСЛЕДНЕЙ РЕГИСТРАЦИИ"));
  const size_t gross = text.find(Cp("ГРОСС ИТОГИ"));
  ASSERT_NE(std::string::npos, since);
  ASSERT_NE(std::string::npos, gross);
  EXPECT_LT(since, gross);
  EXPECT_EQ(nullptr, std::dynamic_pointer_cast<ArchiveCloseDoc>(close.clone())->grossCounters());
  EXPECT_NE(nullptr, std::dynamic_pointer_cast<FiscalizationDocument>(fisc.clone()));
}

}  // namespace
