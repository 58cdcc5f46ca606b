// fr-archive on the archive a register filled in a day: its totals are the
// register's own (command 54 before each close), its copy is the one the
// register prints (178), every sign checks against the EEPROM, and nothing
// it does changes the file.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "app/status_format.h"
#include "documents/tlv_tags.h"
#include "host/client.h"
#include "host/session.h"
#include "storage/eeprom_format.h"
#include "tools/common/print_decoder.h"
#include "tools/sim/rig.h"

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

const std::string kBin = fs::path(FR_CORE_PATH).parent_path().string();

struct Ran {
  int status = -1;
  std::string out;
};

// fr-archive with `args`; its standard output and exit status.
Ran Archive(const std::string& args) {
  Ran r;
  FILE* p = popen((kBin + "/fr-archive " + args + " 2>/dev/null").c_str(), "r");
  if (p == nullptr) return r;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
  const int status = pclose(p);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// What fr-archive's totals say of one kind of receipt against the register.
void ExpectBlock(const json& got, const OperationCounters& want, const std::string& what) {
  EXPECT_EQ(got["receipts"], want.receiptCount()) << what;
  EXPECT_EQ(got["total"], host::Decimal2(want.total())) << what;
  EXPECT_EQ(got["cash"], host::Decimal2(want.cash())) << what;
  EXPECT_EQ(got["cashless"], host::Decimal2(want.cashless())) << what;
}

class ArchiveToolTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(rig_.Prepare());
    ASSERT_TRUE(rig_.Start());
    ASSERT_TRUE(rig_.WaitReady());
    ASSERT_TRUE(session_.Call(host::req::SetSerialNumber(session_.login(), "4200012345")).ok());
    ASSERT_TRUE(session_
                    .Registration({TlvElement::fromString(tag::kFirstRegText, "A"),
                                   TlvElement::fromString(tag::kSecondRegText, "B"),
                                   TlvElement::fromString(tag::kThirdRegText, "C"),
                                   host::TaxRateElement({0, 1, 2000, "VAT 20"}),
                                   host::TaxRateElement({1, 1, 1000, "VAT 10"})},
                                  "7701234567", "9999078900012345", nullptr)
                    .ok());
  }

  ShiftCounters ShiftTotals() {
    ShiftCounters c;
    EXPECT_TRUE(host::DecodeShiftTotals(client_.Call(host::req::Totals(cmd::kShiftTotals)).data, &c));
    return c;
  }

  host::Line Item(const std::string& name, int64_t price, uint8_t tax) {
    host::Line l;
    l.name = name;
    l.price = price;
    l.tax = tax;
    return l;
  }

  std::string archive() { return rig_.sandbox().Path("/mnt/sd/V0XD24TX"); }
  std::string eeprom() { return rig_.sandbox().Path(eeprom::kPath); }

  sim::Rig rig_{FR_CORE_PATH};
  host::Client client_{&rig_.host()};
  host::Session session_{&client_, host::Login(), "Cashier"};
};

TEST_F(ArchiveToolTest, ReadsTheDayAsTheRegisterKeptAndPrintedIt) {
  std::vector<ShiftCounters> shifts;
  host::CloseReply sale;
  for (int shift = 1; shift <= 2; ++shift) {
    ASSERT_TRUE(session_.ShiftOpen(nullptr).ok());
    ASSERT_TRUE(session_.CashIn(100000, nullptr).ok());
    ASSERT_TRUE(session_.Receipt(receipt::kSale, {Item("Чай", 12990, 1), Item("Хлеб", 4550, 2)}, 20000, 0, &sale).ok());
    ASSERT_TRUE(session_.Receipt(receipt::kSale, {Item("Сыр", 30000 * shift, 1)}, 0, 30000 * shift, nullptr).ok());
    ASSERT_TRUE(session_.Receipt(receipt::kSaleReturn, {Item("Хлеб", 4550, 2)}, 4550, 0, nullptr).ok());
    // A shift closes on an empty drawer.
    ASSERT_TRUE(session_.CashOut(ShiftTotals().cashInDrawer(), nullptr).ok());
    shifts.push_back(ShiftTotals());
    if (shift == 1) {
      ASSERT_TRUE(session_.ShiftClose(nullptr).ok());
    }
  }
  // The register prints its copy of the second shift's cash sale.
  rig_.printer().Clear();
  ASSERT_TRUE(client_.Call(host::req::Copy(session_.login(), sale.number)).ok());
  std::vector<std::string> printed;
  for (const sim::PrintJob& j : sim::DecodePrintStream(rig_.printer().received())) {
    for (const sim::PrintedLine& l : j.lines) printed.push_back(l.text);
  }
  rig_.Stop();
  const std::string before = Bytes(archive());

  const Ran verify = Archive("verify " + archive() + " --eeprom " + eeprom());
  EXPECT_EQ(0, verify.status) << verify.out;
  EXPECT_NE(std::string::npos,
            verify.out.find("14 of 14 documents read, 14 signs good, 6 receipts recomputed from their lines, 0 findings"))
      << verify.out;

  // Shift 1 from its Z report, shift 2 (open) from the shift record.
  for (int shift = 1; shift <= 2; ++shift) {
    const Ran totals = Archive("totals " + archive() + " --shift " + std::to_string(shift) + " --json");
    ASSERT_EQ(0, totals.status) << totals.out;
    const json t = json::parse(totals.out);
    const ShiftCounters& want = shifts[shift - 1];
    EXPECT_EQ(t["receipts"], want.receiptCount());
    ExpectBlock(t["operations"]["sale"], want.block(receipt::kSale), "sale");
    ExpectBlock(t["operations"]["return-sale"], want.block(receipt::kSaleReturn), "return");
    EXPECT_EQ(t["operations"]["sale"]["taxes"][0], host::Decimal2(want.block(receipt::kSale).tax(0)));
    EXPECT_EQ(t["cash_out"]["sum"], host::Decimal2(want.cashOutSum()));
    EXPECT_EQ(t["drawer"], host::Decimal2(want.cashInDrawer()));
  }
  // A range sums the Z reports of its closed shifts: shift 2 is still open.
  const json range = json::parse(Archive("totals " + archive() + " --shifts 1-2 --json").out);
  EXPECT_EQ(range["shifts"]["closed"], 1);
  EXPECT_EQ(range["receipts"], shifts[0].receiptCount());
  ExpectBlock(range["operations"]["sale"], shifts[0].block(receipt::kSale), "range sale");

  const Ran copy = Archive("show " + archive() + " " + std::to_string(sale.number));
  ASSERT_EQ(0, copy.status);
  std::string expected;
  for (const std::string& line : printed) expected += line + "\n";
  EXPECT_EQ(expected, copy.out);

  // The registration prints its 16-digit ФН with the field's end byte; the
  // JSON carries the text alone.
  const Ran registration = Archive("show " + archive() + " 1 --json");
  ASSERT_EQ(0, registration.status) << registration.out;
  EXPECT_EQ(std::string::npos, json::parse(registration.out).dump().find("\\u0000")) << registration.out;
  EXPECT_NE(std::string::npos, registration.out.find("9999078900012345\"")) << registration.out;

  const Ran csv = Archive("export " + archive() + " --format csv --shift 2");
  EXPECT_EQ(0, csv.status);
  EXPECT_EQ(7, std::count(csv.out.begin(), csv.out.end(), '\n'));  // the header and shift 2's six
  const json all = json::parse(Archive("export " + archive() + " --format json").out);
  ASSERT_EQ(14u, all.size());
  EXPECT_EQ(all[sale.number - 1]["total"], sale.total);
  EXPECT_EQ(all[sale.number - 1]["fiscal_sign"], sale.sign);

  EXPECT_EQ(before, Bytes(archive())) << "fr-archive changed the file";
}

// A receipt's lines edited on the card: the sign does not cover them, so
// verify recomputes each receipt from its lines and names the one whose
// lines no longer give what was signed; a name, which no amount depends on,
// is said to be beyond any check rather than passed as clean.
TEST_F(ArchiveToolTest, VerifyFindsEditedLinesAndSaysWhatItCannotCheck) {
  host::Line tea = Item("Чай", 12990, 1);
  host::Line bread = Item("Хлеб", 4550, 2);
  bread.quantity = 2;
  bread.discount_amount = 100;
  host::CloseReply sale;
  ASSERT_TRUE(session_.ShiftOpen(nullptr).ok());
  ASSERT_TRUE(session_.Receipt(receipt::kSale, {tea, bread}, 30000, 0, &sale).ok());
  rig_.Stop();
  const std::string pristine = Bytes(archive());
  const Ran clean = Archive("verify " + archive() + " --eeprom " + eeprom());
  ASSERT_EQ(0, clean.status) << clean.out;
  EXPECT_NE(std::string::npos, clean.out.find("1 receipt recomputed from their lines, 0 findings")) << clean.out;

  // One inner element of a line as the register stores it.
  auto part = [](const host::Line& line, uint16_t t) {
    for (const TlvElement& e : host::LineElement(line).asList()) {
      if (e.tag() == t) return e.encode();
    }
    return std::string();
  };
  host::Line dearer = tea, more = bread, cheaper = bread, taxed = tea, renamed = tea;
  dearer.price = 12991;
  more.quantity = 3;
  cheaper.discount_amount = 101;
  taxed.tax = 2;
  renamed.name = "Чаю";
  const std::string doc = "document " + std::to_string(sale.number);
  const struct {
    const char* what;
    std::string from, to;
    std::string finding;  // empty: none, yet the caveat
  } cases[] = {
      {"price", part(tea, tag::kPrice), part(dearer, tag::kPrice), doc + " line 1: its price, quantity and discount"},
      {"quantity", part(bread, tag::kQuantity), part(more, tag::kQuantity), doc + " line 2: its price, quantity"},
      {"discount", part(bread, tag::kDiscountAmount), part(cheaper, tag::kDiscountAmount), doc + " line 2: its"},
      {"tax number", part(tea, tag::kLineTaxNumber), part(taxed, tag::kLineTaxNumber), doc + " tax 1: its lines give"},
      {"name", part(tea, tag::kLineName), part(renamed, tag::kLineName), ""},
  };
  for (const auto& c : cases) {
    std::string bytes = pristine;
    const size_t at = bytes.find(c.from);
    ASSERT_NE(std::string::npos, at) << c.what;
    ASSERT_EQ(std::string::npos, bytes.find(c.from, at + 1)) << c.what << ": not one place";
    ASSERT_EQ(c.from.size(), c.to.size()) << c.what;
    bytes.replace(at, c.from.size(), c.to);
    std::ofstream(archive(), std::ios::binary | std::ios::trunc) << bytes;
    const Ran verify = Archive("verify " + archive() + " --eeprom " + eeprom());
    EXPECT_NE(std::string::npos, verify.out.find("signs good")) << c.what << ": the signs still check";
    EXPECT_NE(std::string::npos, verify.out.find("not checkable: a receipt line's name")) << c.what;
    if (c.finding.empty()) {
      EXPECT_EQ(0, verify.status) << c.what << ": " << verify.out;
    } else {
      EXPECT_EQ(1, verify.status) << c.what << ": " << verify.out;
      EXPECT_NE(std::string::npos, verify.out.find(c.finding)) << c.what << ": " << verify.out;
    }
  }
}

}  // namespace

TEST(ArchiveToolUsageTest, HelpIsAnAnswerAndAMissingPathIsNot) {
  const struct {
    const char* args;
    int status;
    bool usage_on_stdout;
  } cases[] = {{"--help", 0, true}, {"-h", 0, true}, {"verify --help", 0, true}, {"", 1, false}, {"verify", 1, false}};
  for (const auto& c : cases) {
    const Ran r = Archive(c.args);
    EXPECT_EQ(c.status, r.status) << c.args;
    EXPECT_EQ(c.usage_on_stdout, r.out.find("usage: fr-archive") != std::string::npos) << c.args;
  }
}
