#include "host/model/document.h"

#include <set>

#include <gtest/gtest.h>

#include "app/codes.h"
#include "documents/base_document.h"

namespace host {
namespace {

TEST(NamesTest, EachNameReadsBackAsItsCodeAndNoneRepeats) {
  for (const NameTable* table : {&kDocumentTypes, &kReceiptTypes, &kReportKinds, &kTotalsRecords}) {
    std::set<std::string> names;
    std::set<uint8_t> codes;
    for (const Named& n : *table) {
      uint8_t code = 0xEE;
      EXPECT_TRUE(table->Code(n.name, &code)) << n.name;
      EXPECT_EQ(code, n.code) << n.name;
      EXPECT_STREQ(table->Name(n.code), n.name);
      EXPECT_TRUE(names.insert(n.name).second) << n.name;
      EXPECT_TRUE(codes.insert(n.code).second) << n.name;
    }
    uint8_t code = 0xEE;
    EXPECT_FALSE(table->Code("return of sale", &code));
    EXPECT_EQ(code, 0xEE);
  }
}

// A screen finds every result code in each language, and the words are
// those the answers carry.
TEST(NamesTest, ResultsHoldEveryCodeInBothLanguages) {
  const nlohmann::json results = NamesJson()["results"];
  ASSERT_GT(results.size(), 40u);
  std::set<int> codes;
  for (const auto& r : results) {
    const int code = r["code"];
    EXPECT_TRUE(codes.insert(code).second) << code;
    EXPECT_EQ(r["name"], rc::Name(code));
    EXPECT_EQ(r["en"], rc::Meaning(code));
    EXPECT_EQ(r["ru"], rc::RussianMeaning(code));
    EXPECT_FALSE(r["ru"].get<std::string>().empty()) << code;
    EXPECT_NE(r["ru"], r["en"]) << code;
  }
  EXPECT_STREQ(rc::Meaning(200), "unknown result code");
  EXPECT_STRNE(rc::RussianMeaning(200), rc::Meaning(200));
}

TEST(DocumentJsonTest, SaysOnlyWhatTheReaderKnows) {
  CloseReply close;
  close.number = 9;
  close.sign = 77;
  close.is_receipt = true;
  close.total = 12990;
  close.change = 1010;
  Document request;
  request.type = doc::kReceipt;
  request.receipt_type = 2;
  request.cashless = 990;
  const nlohmann::json j = DocumentJson(DocumentOfClose(request, close));
  EXPECT_EQ(j["document"], "receipt");
  EXPECT_EQ(j["receipt_type"], "return-sale");
  EXPECT_EQ(j["total_decimal"], "129.90");
  EXPECT_EQ(j["payment"]["cash"], 12000);  // what was kept: the change went back
  EXPECT_EQ(j["change"], 1010);
  for (const char* unknown : {"shift", "lines", "taxes", "amount", "drawer"})
    EXPECT_FALSE(j.contains(unknown)) << unknown;

  Document odd;
  odd.type = 42;
  EXPECT_EQ(DocumentJson(odd)["document"], "type 42");
}

}  // namespace
}  // namespace host
