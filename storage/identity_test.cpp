#include <gtest/gtest.h>

#include "storage/model_data.h"
#include "storage/reg_data.h"
#include "storage/tax_rate.h"
#include "util/cp866.h"
#include "util/crc.h"

namespace {

const std::string kKey = std::string("\x00\x01\xFF key bytes ok", 16);

ModelData ValidModel(const std::string& serial) {
  ModelData m;
  m.setSerialNumber(serial);
  m.setCheckValue(m.computeCheckValue(kKey));
  return m;
}

TEST(ModelDataTest, DefaultRecordIsNotValid) {
  ModelData m;
  EXPECT_EQ(33299, m.modelCode());
  EXPECT_EQ(util::Utf8ToCp866("ЗЕЛТА-7ФК"), m.modelName());
  EXPECT_EQ("", m.serialNumber());  // ten zero bytes
  EXPECT_EQ(0u, m.checkValue());
  EXPECT_FALSE(m.isValid());
}

TEST(ModelDataTest, CheckValueCoversCodeSerialAndKey) {
  const ModelData m = ValidModel("0000000000");
  EXPECT_TRUE(m.isValid());
  EXPECT_EQ(util::Crc32("332990000000000" + kKey), m.checkValue());
  EXPECT_NE(m.checkValue(), ValidModel("0000000001").checkValue());
}

TEST(ModelDataTest, Validity) {
  struct Case {
    const char* what;
    std::string serial;
    uint32_t check;
    uint16_t code;
    bool valid;
  };
  const Case cases[] = {
      {"ten digits", "1234567890", 7, 33299, true},
      {"letters", "12345abcde", 7, 33299, false},
      {"check 0", "1234567890", 0, 33299, false},
      {"check all ones", "1234567890", 0xFFFFFFFF, 33299, false},
      {"model code 0", "1234567890", 7, 0, false},
      {"blank bytes", std::string(10, '\xFF'), 7, 33299, false},
  };
  for (const Case& c : cases) {
    ModelData m;
    m.setSerialNumber(c.serial);
    m.setCheckValue(c.check);
    m.setModelCode(c.code);
    EXPECT_EQ(c.valid, m.isValid()) << c.what;
  }
}

TEST(ModelDataTest, TextFieldsAndSetters) {
  ModelData m;
  m.setSerialNumber("123");  // over the start; the rest stays
  EXPECT_EQ("123", m.serialNumber());
  m.setSerialNumber("12345678901");  // too long: unchanged
  EXPECT_EQ("123", m.serialNumber());
  m.setModelName(std::string(32, 'N'));  // a full field has no NUL
  EXPECT_EQ(std::string(32, 'N'), m.modelName());
  m.setModelName("short");
  EXPECT_EQ("short", m.modelName());
  ModelData copy;
  ASSERT_TRUE(copy.parse(m.image()));
  EXPECT_TRUE(copy == m);
  EXPECT_FALSE(copy.parse(std::string(47, '\0')));
}

TEST(RegDataTest, DefaultMarksEveryTaxRateUnused) {
  RegData r;
  for (size_t i = 0; i < 5; ++i) EXPECT_EQ('\xC0', r.taxRateImage(i)[1]) << i;
  EXPECT_FALSE(r.isValid());
}

TEST(RegDataTest, FullFieldReadsWithAnExtraNul) {
  RegData r;
  r.setFnNumber("9999078900012345");
  r.setInn("7701234567");
  EXPECT_EQ(std::string("9999078900012345") + '\0', r.fnNumber());
  EXPECT_EQ("7701234567", r.inn());
  const uint32_t check = r.computeCheckValue("0123456789", kKey);
  EXPECT_EQ(util::Crc32(std::string("9999078900012345") + '\0' + "7701234567" + "0123456789" + kKey),
            check);
}

TEST(RegDataTest, Validity) {
  RegData r;
  r.setFnNumber("9999078900012345");
  r.setInn("7701234567");
  for (int i = 0; i < 3; ++i) r.setText(i, "text");
  r.setRegistrationTime(1700000000);
  r.setCheckValue(1);
  EXPECT_TRUE(r.isValid());
  RegData no_text = r;
  no_text.setText(1, "");
  EXPECT_FALSE(no_text.isValid());
  RegData no_time = r;
  no_time.setRegistrationTime(-1);
  EXPECT_FALSE(no_time.isValid());
  RegData no_check = r;
  no_check.setCheckValue(0);
  EXPECT_FALSE(no_check.isValid());
}

TEST(RegDataTest, FieldsAsTlv) {
  RegData r;
  r.setFnNumber("9999078900012345");  // full field: read with the extra NUL
  r.setInn("7701234567");
  r.setText(0, "A");
  r.setText(1, "B");
  r.setText(2, "C");
  r.setRegistrationTime(1700000000);
  r.setArchiveNumber(0x01020304);
  TaxRate vat;
  vat.setRateWord(0x4000 | 2000);
  vat.setName("VAT");
  r.setTaxRateImage(2, vat.image());
  struct Case {
    uint16_t tag;
    std::string value;
  };
  const Case cases[] = {
      {11037, std::string("9999078900012345") + '\0'},
      {11018, "7701234567"},
      {11048, "A"},
      {11187, "B"},
      {11009, "C"},
      {11012, std::string("\x00\xF1\x53\x65", 4)},
      {11041, "\x04\x03\x02\x01"},
      {13107, vat.toTlv(2).value()},
  };
  for (const Case& c : cases) {
    const TlvElement e = r.fieldAsTlv(c.tag);
    EXPECT_EQ(c.tag, e.tag());
    EXPECT_EQ(c.value, e.value()) << c.tag;
  }
  EXPECT_FALSE(r.fieldAsTlv(1).isValid());
  EXPECT_FALSE(r.fieldAsTlv(13110).isValid());

  const std::vector<TlvElement> list = r.asTlvList();
  ASSERT_EQ(7u, list.size());  // six fields and the one valid tax rate
  const uint16_t order[] = {11037, 11018, 11048, 11187, 11009, 11041, 13107};
  for (size_t i = 0; i < list.size(); ++i) EXPECT_EQ(order[i], list[i].tag());
}

}  // namespace
