#include "workers/reports_worker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <map>
#include <memory>

#include "app/codes.h"
#include "app/fr_status.h"
#include "app/identity.h"
#include "documents/registration_documents.h"
#include "platform/fake_env.h"
#include "platform/fake_fault_env.h"
#include "printer/print_layout.h"
#include "storage/eeprom_format.h"
#include "storage/sd_card.h"
#include "storage/tax_rate.h"
#include "tools/common/archive_check.h"
#include "tools/common/print_decoder.h"
#include "tools/common/pty_pair.h"
#include "tools/common/virtual_printer.h"
#include "util/coding.h"
#include "util/cp866.h"
#include "workers/documents_worker.h"

namespace {

const std::string kKey = std::string("reports-testkey!", 16);
constexpr int64_t kStart = 1700000000;
const std::string kName = std::string("\x05") + "clerk";

std::string Cp(const char* utf8) { return util::Utf8ToCp866(utf8); }

std::string Prefix(uint8_t number, int32_t password) {
  std::string data(1, static_cast<char>(number));
  util::PutFixed32(&data, static_cast<uint32_t>(password));
  return data;
}
const std::string kBoss = Prefix(1, 1);  // every right

std::string U32(uint32_t v) {
  std::string s;
  util::PutFixed32(&s, v);
  return s;
}
std::string U16(uint16_t v) {
  std::string s;
  util::PutFixed16(&s, v);
  return s;
}
std::string Kind(uint8_t kind, const std::string& args = "") { return kBoss + std::string(1, kind) + args; }

// What a reader sees: no padding, one space between words.
std::string Squeeze(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == ' ' && (out.empty() || out.back() == ' ')) continue;
    out += c;
  }
  if (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

std::string Fmt(uint32_t t) {
  const time_t tt = t;
  struct tm tm;
  gmtime_r(&tt, &tm);  // the fake board's local time is UTC
  char text[32];
  strftime(text, sizeof(text), "%d.%m.%Y %H:%M:%S", &tm);
  return text;
}

class ReportsWorkerTest : public testing::Test {
 protected:
  void SetUp() override {
    FrStatus::reset();
    FrStatus::setBuildTime(0);
    printer::setWidthSetting(printer::kDefaultWidthSetting);
    env_.set_now(kStart);
    ASSERT_TRUE(env_.WriteFile("/dev/mmcblk0p1", "card"));
    ASSERT_TRUE(env_.WriteFile(platform::SandboxEnv::kFreeBytes, "1000000000"));
    ASSERT_TRUE(env_.CreateDirectory("/mnt") && env_.CreateDirectory("/mnt/sd"));
    ASSERT_TRUE(sdcard::mount(&env_));
    ASSERT_TRUE(env_.WriteFile(eeprom::kPath, std::string(eeprom::kSize, '\xFF')));
    ASSERT_TRUE(env_.CreateDirectory("/nv"));
    ASSERT_TRUE(tables::initCashiers(&env_) && tables::initSections(&env_) && tables::initDiscounts(&env_));
    ASSERT_TRUE(tables::saveCashier(&env_, Cashier{1, 0x03FF, 1, "boss"}));
    ASSERT_TRUE(tables::saveCashier(&env_, Cashier{2, 0x0003, 2, "no returns"}));
    ASSERT_TRUE(tables::saveCashier(&env_, Cashier{3, 0x0001, 3, "sales only"}));
    ASSERT_TRUE(tables::saveSection(&env_, Section{1, Cp("Бакалея")}));

    ModelData model;
    model.setSerialNumber("0123456789");
    model.setCheckValue(model.computeCheckValue(kKey));
    CoreIdentity::storeDeviceKey(kKey);
    CoreIdentity::replaceModelData(model);
    CoreIdentity::replaceRegData(RegData());
    archive_.reset(new FiscalArchive(&env_, std::string(sdcard::kMountPoint) + sdcard::kArchiveName));
    ASSERT_TRUE(archive_->createOrVerify());

    ASSERT_TRUE(pty_.Open());
    ASSERT_TRUE(env_.CreateDirectory("/dev"));
    ASSERT_TRUE(pty_.LinkAt(env_.Resolve("/dev/ttyS0")));
    ASSERT_TRUE(printer_.Start(pty_.master()));
    line_.reset(new PrinterLine(&env_));
    line_->open();
    ASSERT_NO_FATAL_FAILURE(Register());
  }
  void TearDown() override {
    printer_.Stop();
    CoreIdentity::replaceModelData(ModelData());
    CoreIdentity::replaceRegData(RegData());
  }

  void Register() {
    RegData reg;
    reg.setFnNumber("9999078900012345");
    reg.setInn("7701234567");
    for (int i = 0; i < 3; ++i) reg.setText(i, "text");
    TaxRate vat;
    vat.setRateWord(0x4000 | 2000);
    vat.setName("VAT 20");
    reg.setTaxRateImage(0, vat.image());
    reg.setRegistrationTime(static_cast<uint32_t>(kStart));
    reg.setCheckValue(reg.computeCheckValue("0123456789", kKey));
    FiscalizationDocument report(&env_, CoreIdentity::modelData(), reg, Cashier{1, 0x03FF, 1, "boss"});
    uint16_t missing = 0;
    ASSERT_EQ(rc::kOk, report.setCashierName(kName));
    ASSERT_EQ(rc::kOk, report.close(static_cast<uint32_t>(env_.Now()), kKey, "", &missing));
    ASSERT_EQ(rc::kOk, archive_->store(&report));
    FrStatus::setFlag(FrStatus::kArchivePresent | FrStatus::kArchiveUsable | FrStatus::kRegistered, true);
    archive_->publish();
  }

  // A document command through the documents worker, a little later each time.
  void Doc(uint8_t command, const std::string& data) {
    env_.set_now(env_.Now() + 100);
    CoreTransaction t;
    t.command = command;
    t.data = data;
    ASSERT_EQ(rc::kOk, DocumentsWorker(&env_, archive_.get(), line_.get()).handle(t).code) << int(command);
  }
  void OpenShift() {
    Doc(cmd::kOpenShiftOpen, kBoss + kName);
    Doc(cmd::kCloseShiftOpen, "");
  }
  void CloseShift() {
    Doc(cmd::kOpenShiftClose, kBoss + kName);
    Doc(cmd::kCloseShiftClose, "");
    closes_[FrStatus::shiftNumber()] = FrStatus::lastDocumentNumber();
  }
  // A sale of one item, paid electronically so that the drawer stays empty.
  void Sale(int64_t kopecks) {
    Doc(cmd::kOpenReceipt, kBoss + std::string(1, '\0') + kName);
    const TlvElement line = TlvElement::fromList(
        tag::kReceiptLine,
        {TlvElement::fromString(tag::kLineName, Cp("Товар")), TlvElement::fromVln(tag::kPrice, kopecks),
         TlvElement::fromFvln(tag::kQuantity, Decimal(1, 1)), TlvElement::fromByte(tag::kLineTaxNumber, 1),
         TlvElement::fromByte(tag::kSectionNumber, 1)});
    Doc(cmd::kAddDocumentData, line.encode());
    std::string pay;
    util::PutFixed64(&pay, 0);
    util::PutFixed64(&pay, static_cast<uint64_t>(kopecks));
    Doc(cmd::kCloseReceipt, pay);
  }
  void Cash(bool in, int64_t kopecks) {
    std::string amount;
    util::PutFixed64(&amount, static_cast<uint64_t>(kopecks));
    Doc(in ? cmd::kOpenCashIn : cmd::kOpenCashOut, kBoss + kName);
    Doc(in ? cmd::kCloseCashIn : cmd::kCloseCashOut, amount);
  }
  // Shifts 1..n closed, shift k with a sale of k.00 (shift 1 empty, so that
  // its close is document 3; shift 3 also cash in and out of 5.00); then
  // shift n + 1 open and empty.
  void MakeShifts(int n) {
    for (int k = 1; k <= n; ++k) {
      OpenShift();
      if (k > 1) Sale(100 * k);
      if (k == 3) {
        Cash(true, 500);
        Cash(false, 500);
      }
      CloseShift();
    }
    OpenShift();
  }

  int Run(uint8_t command, const std::string& data) {
    printer_.Clear();
    CoreTransaction t;
    t.command = command;
    t.id = 77;
    t.data = data;
    const CoreApiResult r = ReportsWorker(&env_, archive_.get(), line_.get()).handle(t);
    EXPECT_EQ(77u, r.id);
    EXPECT_TRUE(r.data.empty());
    return r.code;
  }
  std::vector<sim::PrintJob> Jobs() { return sim::DecodePrintStream(printer_.received()); }
  std::vector<std::string> Texts() {
    std::vector<std::string> out;
    for (const std::string& t : sim::PrintedTexts(Jobs())) out.push_back(Squeeze(t));
    return out;
  }
  uint32_t TimeOf(uint32_t document) {
    DocDescriptor d;
    EXPECT_TRUE(archive_->readDescriptor(document, &d));
    return util::DecodeFixed32(d.bytes + 5);
  }

  platform::FakeEnv env_;
  std::unique_ptr<FiscalArchive> archive_;
  sim::PtyPair pty_;
  sim::VirtualPrinter printer_;
  std::unique_ptr<PrinterLine> line_;
  std::map<int, uint32_t> closes_;  // shift -> its close document
};

int Find(const std::vector<std::string>& texts, const std::string& text) {
  for (size_t i = 0; i < texts.size(); ++i) {
    if (texts[i] == text) return static_cast<int>(i);
  }
  return -1;
}

// Index of the first job holding a line that starts with `prefix`; -1 if none.
int JobWith(const std::vector<sim::PrintJob>& jobs, const std::string& prefix) {
  for (size_t i = 0; i < jobs.size(); ++i) {
    for (const sim::PrintedLine& l : jobs[i].lines) {
      if (Squeeze(l.text).compare(0, prefix.size(), prefix) == 0) return static_cast<int>(i);
    }
  }
  return -1;
}

TEST_F(ReportsWorkerTest, RequestChecksInOrder) {
  OpenShift();
  struct Case {
    uint8_t command;
    std::string data;
    bool silent;
    int code;
  };
  const Case cases[] = {
      {cmd::kPrintReport, kBoss.substr(0, 4), false, rc::kBadCashierPrefix},
      {cmd::kPrintReport, Prefix(21, 1) + "\x01", false, rc::kBadCashierPrefix},
      {cmd::kPrintReport, Prefix(1, 9) + "\x01", false, rc::kCashierRefused},
      {cmd::kPrintReport, Prefix(3, 3) + "\x01", false, rc::kNoRight},
      {cmd::kControlTape, Prefix(2, 2), false, rc::kNoRight},  // no returns right
      {cmd::kPrintReport, kBoss, true, rc::kBadData},          // length before the printer
      {cmd::kPrintCopy, kBoss + "abc", true, rc::kBadData},
      {cmd::kPrintCopy, kBoss + "abcde", false, rc::kBadData},
      {cmd::kPrintReport, Kind(7), true, rc::kPrinterSilent},  // the printer before the kind
      {cmd::kControlTape, kBoss, true, rc::kPrinterSilent},
      {cmd::kPrintReport, Kind(7), false, rc::kWrongDocumentType},
      {cmd::kPrintReport, Kind(0), false, rc::kWrongDocumentType},
      {cmd::kPrintReport, Kind(5, std::string(7, '\0')), false, rc::kBadData},
      {cmd::kPrintReport, Kind(5, std::string(9, '\0')), false, rc::kBadData},
      {cmd::kPrintReport, Kind(6, std::string(3, '\0')), false, rc::kBadData},
      {cmd::kDeviceStatus, kBoss, false, rc::kUnknownCommand},
  };
  for (const Case& c : cases) {
    printer_.set_status(c.silent ? sim::VirtualPrinter::kSilent : 0);
    EXPECT_EQ(c.code, Run(c.command, c.data)) << int(c.command) << " " << c.data.size();
    EXPECT_TRUE(Jobs().empty()) << int(c.command) << " " << c.data.size();
  }
}

TEST_F(ReportsWorkerTest, XReportsOfTheOpenShift) {
  OpenShift();
  Sale(100);
  CloseShift();
  OpenShift();
  Sale(150);
  for (uint8_t kind : {1, 4}) {
    ASSERT_EQ(rc::kOk, Run(cmd::kPrintReport, Kind(kind))) << int(kind);
    const std::vector<std::string> t = Texts();
    ASSERT_GE(t.size(), 7u);
    EXPECT_EQ((std::vector<std::string>{"text", "text", "text", "X-Отчет", "СМЕНА 2",
                                        "ОТКРЫТА " + Fmt(FrStatus::shiftOpenTime()), "ИТОГИ СМЕНЫ"}),
              std::vector<std::string>(t.begin(), t.begin() + 7));
    EXPECT_NE(-1, Find(t, "ПРОДАЖ 1 НА 1.50"));
    EXPECT_EQ(-1, JobWith(Jobs(), "ЗАКРЫТА"));
    const int sections = Find(t, "ИТОГИ ПО ОТДЕЛАМ");
    EXPECT_EQ(kind == 4, sections != -1);
    if (kind == 4) {
      ASSERT_GT(t.size(), static_cast<size_t>(sections) + 2);
      EXPECT_EQ("ОТДЕЛ 1 Бакалея", t[sections + 1]);
      EXPECT_EQ("ПРОДАЖ НА 1.50", t[sections + 2]);
    }
    EXPECT_EQ("ЗЕЛТА-7ФК 0123456789", t.back());
    EXPECT_NE(-1, Find(t, "ИНН 7701234567"));
    const std::vector<sim::PrintJob> jobs = Jobs();
    const sim::PrintedLine& title = jobs[1].lines.at(0);
    EXPECT_TRUE(title.bold && title.small_font);
    EXPECT_FALSE(jobs[2].lines.at(0).bold);
    EXPECT_TRUE(jobs.back().lines.back().cut_after);
    EXPECT_EQ(1, jobs.back().cuts);
  }
}

TEST_F(ReportsWorkerTest, ShiftStateAndReadiness) {
  // Registered, no shift ever opened: the reports have nothing to show.
  for (uint8_t kind : {2, 3, 4}) EXPECT_EQ(rc::kNotFound, Run(cmd::kPrintReport, Kind(kind)));
  EXPECT_EQ(rc::kNotFound, Run(cmd::kPrintReport, Kind(5, U32(1) + U32(kStart + 50))));
  EXPECT_EQ(rc::kNotFound, Run(cmd::kPrintReport, Kind(6, U16(1) + U16(2))));
  EXPECT_EQ(rc::kShiftNotOpen, Run(cmd::kPrintReport, Kind(1)));  // the shift state comes first
  EXPECT_EQ(rc::kShiftNotOpen, Run(cmd::kControlTape, kBoss));
  EXPECT_TRUE(Jobs().empty());

  OpenShift();
  Sale(100);
  CloseShift();
  EXPECT_EQ(rc::kShiftNotOpen, Run(cmd::kPrintReport, Kind(1)));
  EXPECT_EQ(rc::kShiftNotOpen, Run(cmd::kControlTape, kBoss + U32(3)));
  EXPECT_TRUE(Jobs().empty());
  ASSERT_EQ(rc::kOk, Run(cmd::kPrintReport, Kind(4)));
  const std::vector<std::string> t = Texts();
  const int opened = Find(t, "ОТКРЫТА " + Fmt(FrStatus::shiftOpenTime()));
  ASSERT_NE(-1, opened);
  EXPECT_EQ("ЗАКРЫТА " + Fmt(TimeOf(closes_[1])), t[opened + 1]);
  EXPECT_NE(-1, Find(t, "ИТОГИ ПО ОТДЕЛАМ"));

  // Other readiness problems stop the reports too.
  FrStatus::setFlag(FrStatus::kArchiveClosed, true);
  EXPECT_EQ(rc::kArchiveClosed, Run(cmd::kPrintReport, Kind(3)));
  EXPECT_TRUE(Jobs().empty());
}

TEST_F(ReportsWorkerTest, TotalsReports) {
  MakeShifts(2);
  struct Case {
    uint8_t kind;
    std::string title, shifts, sales;
  };
  const Case cases[] = {
      {2, "ИТОГО С ПОСЛЕДНЕЙ РЕГИСТРАЦИИ", "СМЕН 3", "ПРОДАЖ 1 НА 2.00"},
      {3, "ГРОСС ИТОГИ", "СМЕН 3", "ПРОДАЖ 1 НА 2.00"},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(rc::kOk, Run(cmd::kPrintReport, Kind(c.kind))) << int(c.kind);
    const std::vector<std::string> t = Texts();
    ASSERT_GE(t.size(), 5u);
    EXPECT_EQ(c.title, t[3]);  // right after the registration header, no title of its own
    EXPECT_EQ(c.shifts, t[4]);
    EXPECT_NE(-1, Find(t, c.sales));
    EXPECT_EQ("ЗЕЛТА-7ФК 0123456789", t.back());
  }
}

// The range totals from line `at` on: shifts, the 5.00 cash in and out of
// shift 3 when it is in the range, and `sales` sales of `sum` whole units.
void ExpectRangeTotals(const std::vector<std::string>& t, size_t at, int shifts, bool cash, int sales,
                       int sum) {
  const std::string money = std::to_string(sum) + ".00";
  std::vector<std::string> expected = {"ГРОСС ИТОГИ",
                                       "СМЕН " + std::to_string(shifts),
                                       cash ? "ВНЕСЕНИЙ 1 НА 5.00" : "ВНЕСЕНИЙ 0 НА 0.00",
                                       cash ? "ВЫПЛАТ 1 НА 5.00" : "ВЫПЛАТ 0 НА 0.00",
                                       "ВСЕГО ЧЕКОВ " + std::to_string(sales),
                                       "ПРОДАЖ " + std::to_string(sales) + " НА " + money};
  if (sales != 0) {
    expected.push_back("НАЛИЧНЫМИ 0.00");
    expected.push_back("БЕЗНАЛИЧНЫМИ " + money);
  }
  expected.push_back("ПОКУПОК 0 НА 0.00");
  ASSERT_GE(t.size(), at + expected.size());
  EXPECT_EQ(expected, std::vector<std::string>(t.begin() + at, t.begin() + at + expected.size()));
  EXPECT_EQ("ЗЕЛТА-7ФК 0123456789", t.back());
}

struct RangeCase {
  uint32_t a, b;
  int code;
  int shifts;  // 0: nothing summed
  bool cash;
  int sales, sum;
};

TEST_F(ReportsWorkerTest, ShiftRanges) {
  MakeShifts(7);  // shift 8 open
  std::vector<RangeCase> cases = {
      {7, 3, rc::kOk, 5, true, 5, 25},
      {0, 2, rc::kOk, 2, false, 1, 2},
      // Reaching the open shift 8: the range ends at shift 7.
      {2, 8, rc::kOk, 6, true, 6, 27},
      {500, 1, rc::kOk, 7, true, 6, 27},
      // Only the open shift: the heads print, then no shift close is found.
      {8, 8, rc::kNotFound, 0, false, 0, 0},
      {9, 65535, rc::kNotFound, 0, false, 0, 0},
  };
  for (uint32_t s = 1; s <= 7; ++s)
    cases.push_back({s, s, rc::kOk, 1, s == 3, s == 1 ? 0 : 1, s == 1 ? 0 : int(s)});
  for (const RangeCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.a) + ".." + std::to_string(c.b));
    EXPECT_EQ(c.code, Run(cmd::kPrintReport, Kind(6, U16(c.a) + U16(c.b))));
    const std::vector<std::string> t = Texts();
    const uint32_t from = c.a < c.b ? c.a : c.b, to = c.a < c.b ? c.b : c.a;
    if (from > 8) {  // refused before anything printed
      EXPECT_TRUE(t.empty());
      continue;
    }
    ASSERT_GE(t.size(), 5u);
    EXPECT_EQ("ОТЧЕТ ПО ДИАПАЗОНУ СМЕН", t[3]);
    EXPECT_EQ("СМЕНЫ С " + std::to_string(from < 2 ? 1 : from) + " ПО " +
                  std::to_string(to > 7 && from < 8 ? 7 : to),
              t[4]);
    if (c.code != rc::kOk) {
      EXPECT_EQ(5u, t.size());
      continue;
    }
    ExpectRangeTotals(t, 5, c.shifts, c.cash, c.sales, c.sum);
  }
  // The swapped pair prints in order, as two columns.
  ASSERT_EQ(rc::kOk, Run(cmd::kPrintReport, Kind(6, U16(7) + U16(3))));
  EXPECT_EQ(Cp("СМЕНЫ С  3") + std::string(30, ' ') + Cp("ПО 7"),
            util::Utf8ToCp866(sim::PrintedTexts(Jobs()).at(4)));
}

TEST_F(ReportsWorkerTest, PeriodReports) {
  MakeShifts(7);
  const uint32_t last = static_cast<uint32_t>(FrStatus::lastDocumentTime());
  const uint32_t open3 = TimeOf(closes_[2] + 1);
  const RangeCase cases[] = {
      {open3, TimeOf(closes_[5]), rc::kOk, 3, true, 3, 12},
      {TimeOf(closes_[5]), open3, rc::kOk, 3, true, 3, 12},
      // Ending on the sale of shift 4 leaves its close out.
      {open3, TimeOf(closes_[4] - 1), rc::kOk, 1, true, 1, 3},
      // Between documents both ends widen to the neighbouring documents.
      {TimeOf(closes_[2]) + 1, TimeOf(closes_[4]) - 1, rc::kOk, 3, true, 3, 9},
      {static_cast<uint32_t>(kStart) - 1000, last + 1000, rc::kOk, 7, true, 6, 27},
      {1, TimeOf(closes_[1]), rc::kOk, 1, false, 0, 0},
      {TimeOf(closes_[7]) + 1, last + 5, rc::kOk, 1, false, 1, 7},
      {TimeOf(closes_[3]), TimeOf(closes_[3]), rc::kNotFound, 0, false, 0, 0},
      {last, last + 1000, rc::kNotFound, 0, false, 0, 0},
  };
  for (const RangeCase& c : cases) {
    SCOPED_TRACE(Fmt(c.a) + " " + Fmt(c.b));
    EXPECT_EQ(c.code, Run(cmd::kPrintReport, Kind(5, U32(c.a) + U32(c.b))));
    const std::vector<std::string> t = Texts();
    if (c.code != rc::kOk) {
      EXPECT_TRUE(t.empty());
      continue;
    }
    ASSERT_GE(t.size(), 6u);
    EXPECT_EQ("ОТЧЕТ ЗА ПЕРИОД", t[3]);
    // Too long for one narrow line: the two columns print one under the other.
    EXPECT_EQ("С " + Fmt(c.a < c.b ? c.a : c.b), t[4]);
    EXPECT_EQ("ПО " + Fmt(c.a < c.b ? c.b : c.a), t[5]);
    ExpectRangeTotals(t, 6, c.shifts, c.cash, c.sales, c.sum);
  }
}

TEST_F(ReportsWorkerTest, ControlTape) {
  OpenShift();      // document 2
  Sale(100);        // 3
  Cash(true, 500);  // 4
  Sale(200);        // 5
  struct Case {
    std::string payload;
    int code;
    bool continued;
    std::vector<int> receipts;  // document numbers on the tape
  };
  const Case cases[] = {
      {"", rc::kOk, false, {3, 5}},        // no number: the whole shift
      {U32(2), rc::kOk, false, {3, 5}},    // not after the shift opening: the whole shift
      {"abc", rc::kOk, false, {3, 5}},     // not a number
      {U32(4), rc::kOk, true, {5}},        // a cash in is no receipt
      {U32(5), rc::kOk, true, {5}},        // from the second receipt on
      {U32(6), rc::kNotFound, false, {}},  // past the last document
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.payload.size());
    EXPECT_EQ(c.code, Run(cmd::kControlTape, kBoss + c.payload));
    const std::vector<std::string> t = Texts();
    if (c.code != rc::kOk) {
      EXPECT_TRUE(t.empty());
      continue;
    }
    EXPECT_EQ("КОНТРОЛЬНАЯ ЛЕНТА", t.at(3));
    EXPECT_EQ(c.continued, Find(t, "(ПРОДОЛЖЕНИЕ)") == 4);
    EXPECT_EQ(!c.continued, Find(t, "СМЕНА 1") == 4);
    EXPECT_EQ(!c.continued, Find(t, "ИТОГИ СМЕНЫ") != -1);
    const std::vector<sim::PrintJob> jobs = Jobs();
    EXPECT_TRUE(jobs.at(2).lines.at(0).bold);  // the head keeps the title style
    for (int receipt : {3, 5}) {
      const int number = receipt == 3 ? 1 : 2;
      const bool shown = std::find(c.receipts.begin(), c.receipts.end(), receipt) != c.receipts.end();
      const int head = Find(t, "ПРОДАЖА ЧЕК " + std::to_string(number) + " ФД " + std::to_string(receipt));
      EXPECT_EQ(shown, head != -1) << receipt;
      if (!shown) continue;
      EXPECT_EQ("Бакалея", t.at(head + 1));  // the receipt line follows its head
      EXPECT_EQ(0u, t.at(head + 2).find("Товар"));
      EXPECT_NE(-1, Find(t, "ИТОГО " + std::to_string(number) + ".00"));
    }
    EXPECT_EQ("ЗЕЛТА-7ФК 0123456789", t.back());
    EXPECT_TRUE(jobs.back().lines.back().cut_after);
  }
}

TEST_F(ReportsWorkerTest, CopiesOfEveryDocumentType) {
  OpenShift();       // 2
  Sale(250);         // 3
  Cash(true, 500);   // 4
  Cash(false, 500);  // 5
  CloseShift();      // 6
  Doc(cmd::kOpenArchiveClose, kBoss + kName);
  Doc(cmd::kCloseArchiveClose, "");  // 7
  struct Case {
    uint32_t number;
    std::string title, body;  // body: what prints between the copy mark and the closing text
  };
  const Case cases[] = {
      {1, "Отчет о фискализации/перерегистрации", ""},
      {2, "Открытие смены", ""},
      {3, "ФИСКАЛЬНЫЙ КАССОВЫЙ ЧЕК НА ТОВАРЫ (УСЛУГИ)", "Товар"},
      {4, "Внесение", ""},
      {6, "Z-Отчет", "ИТОГИ СМЕНЫ"},
      {7, "Отчет о закрытии архива", "ГРОСС ИТОГИ"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.number);
    ASSERT_EQ(rc::kOk, Run(cmd::kPrintCopy, kBoss + U32(c.number)));
    const std::vector<sim::PrintJob> jobs = Jobs();
    const int title = JobWith(jobs, c.title);
    const int mark = JobWith(jobs, "(КОПИЯ)");
    const int closing = JobWith(jobs, "ФП ");
    EXPECT_EQ(0, JobWith(jobs, "text"));  // the registration header opens every copy
    EXPECT_EQ(0, title);
    ASSERT_EQ(1, mark);
    ASSERT_EQ(static_cast<int>(jobs.size()) - 1, closing);
    EXPECT_EQ(1u, jobs[mark].lines.size());
    EXPECT_TRUE(jobs[mark].lines[0].bold);
    if (c.body.empty()) {
      EXPECT_EQ(mark + 1, closing);
    } else {
      EXPECT_EQ(mark + 1, JobWith(jobs, c.body));
    }
    EXPECT_TRUE(jobs[closing].lines.back().cut_after);
    EXPECT_NE(-1, JobWith({jobs[closing]}, "ФД " + std::to_string(c.number)));
  }
  // A registration read back without a device registration to lean on
  // still prints its header.
  CoreIdentity::replaceRegData(RegData());
  ASSERT_EQ(rc::kOk, Run(cmd::kPrintCopy, kBoss + U32(1)));
  const std::vector<std::string> t = Texts();
  ASSERT_GE(t.size(), 3u);
  EXPECT_EQ((std::vector<std::string>{"text", "text", "text"}),
            std::vector<std::string>(t.begin(), t.begin() + 3));
  EXPECT_EQ(rc::kNotFound, Run(cmd::kPrintCopy, kBoss + U32(8)));
  EXPECT_EQ(rc::kArchiveUnusable, Run(cmd::kPrintCopy, kBoss + U32(0)));
  EXPECT_TRUE(Jobs().empty());
  CoreTransaction request{cmd::kPrintCopy, 1, kBoss + U32(3)};
  EXPECT_EQ(rc::kArchiveUnusable, ReportsWorker(&env_, nullptr, line_.get()).handle(request).code);
}

// Every read of every report fails in turn: the report answers a code
// instead of printing what it could not read; the archive stays as it was.
TEST_F(ReportsWorkerTest, ReportsUnderReadFaultsAnswerACodeAndChangeNothing) {
  MakeShifts(3);
  Sale(700);
  const std::string path = std::string(sdcard::kMountPoint) + sdcard::kArchiveName;
  const sim::ArchiveCheck clean = sim::CheckArchive(&env_, path);
  ASSERT_TRUE(clean.ok()) << clean.Text();
  struct Request {
    uint8_t command;
    std::string data;
  };
  const Request requests[] = {
      {cmd::kPrintReport, Kind(1)},
      {cmd::kPrintReport, Kind(2)},
      {cmd::kPrintReport, Kind(3)},
      {cmd::kPrintReport, Kind(4)},
      {cmd::kPrintReport, Kind(5, U32(kStart) + U32(kStart + 100000))},
      {cmd::kPrintReport, Kind(6, U16(1) + U16(3))},
      {cmd::kControlTape, kBoss},
      {cmd::kPrintCopy, kBoss + U32(4)},
  };
  const platform::FaultEnv::Fault kinds[] = {platform::FaultEnv::Fault::kFail, platform::FaultEnv::Fault::kShort};
  int injected = 0;
  for (const Request& request : requests) {
    platform::FaultEnv faults(&env_);
    FiscalArchive counting(&faults, path);
    ASSERT_TRUE(counting.createOrVerify());
    faults.Arm(platform::FaultEnv::kRead, -1, platform::FaultEnv::Fault::kFail, "/mnt/sd/");
    ASSERT_EQ(rc::kOk, ReportsWorker(&env_, &counting, line_.get()).handle({request.command, 1, request.data}).code);
    const int reads = faults.count(platform::FaultEnv::kRead);
    const int seeks = faults.count(platform::FaultEnv::kSeek);
    for (int op = platform::FaultEnv::kSeek; op <= platform::FaultEnv::kRead; ++op) {
      for (platform::FaultEnv::Fault fault : kinds) {
        if (op == platform::FaultEnv::kSeek && fault == platform::FaultEnv::Fault::kShort) continue;
        const int n = op == platform::FaultEnv::kRead ? reads : seeks;
        for (int nth = 0; nth < n; ++nth) {
          FiscalArchive a(&faults, path);
          faults.Disarm();
          ASSERT_TRUE(a.createOrVerify());
          faults.Arm(static_cast<platform::FaultEnv::Op>(op), nth, fault, "/mnt/sd/");
          printer_.Clear();
          const CoreApiResult r = ReportsWorker(&env_, &a, line_.get()).handle({request.command, 1, request.data});
          ASSERT_TRUE(faults.fired());
          ++injected;
          EXPECT_NE(rc::kOk, r.code) << int(request.command) << " op " << op << " at " << nth;
        }
      }
    }
  }
  RecordProperty("report_faults_injected", injected);
  const sim::ArchiveCheck after = sim::CheckArchive(&env_, path);
  EXPECT_TRUE(after.ok()) << after.Text();
  EXPECT_EQ(clean.summary.last_number, after.summary.last_number);
}

// The printer running out of paper in the middle of any job of a report:
// the report answers 54 and stops where the failure was seen; with paper
// back the same report prints whole.
TEST_F(ReportsWorkerTest, APrinterFailingInAnyJobOfAReportAnswers54) {
  MakeShifts(2);
  Sale(700);
  const std::vector<std::string> kinds = {Kind(1), Kind(2), Kind(3), Kind(4), Kind(6, U16(1) + U16(2))};
  for (const std::string& kind : kinds) {
    printer_.set_status(0);
    ASSERT_EQ(rc::kOk, Run(cmd::kPrintReport, kind));
    const size_t jobs = Jobs().size();
    ASSERT_GT(jobs, 2u);
    for (size_t nth = 1; nth <= jobs; ++nth) {
      printer_.set_status(0);
      printer_.Clear();
      printer_.set_status_after(sim::kJobStart, 0x0C, static_cast<int>(nth));
      CoreTransaction t{cmd::kPrintReport, 1, kind};
      EXPECT_EQ(rc::kPaperOut, ReportsWorker(&env_, archive_.get(), line_.get()).handle(t).code)
          << int(kind[5]) << " job " << nth;
      EXPECT_TRUE(FrStatus::testFlags(FrStatus::kPaperOut));
    }
  }
}

// A document whose printing fails is dropped, and a close whose store fails
// leaves the document open: each answers its code with the archive and the
// register's state unchanged, and the register goes on afterwards.
TEST_F(ReportsWorkerTest, ADocumentFailingToPrintOrStoreChangesNothing) {
  OpenShift();
  Cash(true, 10000);
  const std::string path = std::string(sdcard::kMountPoint) + sdcard::kArchiveName;
  const TlvElement line = TlvElement::fromList(
      tag::kReceiptLine, {TlvElement::fromString(tag::kLineName, Cp("Товар")), TlvElement::fromVln(tag::kPrice, 500),
                          TlvElement::fromFvln(tag::kQuantity, Decimal(1, 1)),
                          TlvElement::fromByte(tag::kLineTaxNumber, 1), TlvElement::fromByte(tag::kSectionNumber, 1)});
  std::string pay;
  util::PutFixed64(&pay, 1000);
  util::PutFixed64(&pay, 0);
  const CoreTransaction open{cmd::kOpenReceipt, 1, kBoss + std::string(1, '\0') + kName};
  const CoreTransaction add{cmd::kAddDocumentData, 2, line.encode()};
  const CoreTransaction close{cmd::kCloseReceipt, 3, pay};
  const CoreTransaction cancel{cmd::kCancelDocument, 4, ""};

  struct Case {
    const char* what;
    std::vector<CoreTransaction> before;  // answered 0
    CoreTransaction failing;
    int code;
    bool stays_open;
  };
  const Case cases[] = {
      {"the header", {}, open, rc::kPaperOut, false},
      {"a line", {open}, add, rc::kPaperOut, false},
      {"the store", {open, add}, close, rc::kArchiveUnusable, true},
  };
  for (const Case& c : cases) {
    const sim::ArchiveCheck before = sim::CheckArchive(&env_, path);
    ASSERT_TRUE(before.ok()) << before.Text();
    const int64_t drawer = FrStatus::cashInDrawer();
    const uint32_t last = FrStatus::lastDocumentNumber();
    platform::FaultEnv faults(&env_);
    FiscalArchive archive(&faults, path);
    ASSERT_TRUE(archive.createOrVerify());
    DocumentsWorker documents(&env_, &archive, line_.get());
    auto handle = [&](const CoreTransaction& t) {
      env_.set_now(env_.Now() + 100);
      return documents.handle(t).code;
    };
    for (const CoreTransaction& t : c.before) ASSERT_EQ(rc::kOk, handle(t)) << c.what;
    printer_.set_status(0);
    if (c.code == rc::kPaperOut) {
      printer_.set_status_after(sim::kJobStart, 0x0C);
    } else {
      faults.Arm(platform::FaultEnv::kWrite, 0, platform::FaultEnv::Fault::kFail, "/mnt/sd/");
    }
    EXPECT_EQ(c.code, handle(c.failing)) << c.what;
    faults.Disarm();
    printer_.set_status(0);
    ASSERT_EQ(rc::kOk, line_->statusCheck());  // paper back, as the host's printer status finds
    EXPECT_EQ(c.stays_open ? doc::kReceipt : 0, FrStatus::openDocumentType()) << c.what;
    EXPECT_EQ(last, FrStatus::lastDocumentNumber()) << c.what;
    EXPECT_EQ(drawer, FrStatus::cashInDrawer()) << c.what;
    const sim::ArchiveCheck after = sim::CheckArchive(&env_, path);
    EXPECT_TRUE(after.ok()) << c.what << "\n" << after.Text();
    EXPECT_EQ(before.summary.last_number, after.summary.last_number) << c.what;
    if (c.stays_open) {
      // The same close again stores the receipt once.
      EXPECT_EQ(rc::kOk, handle(close)) << c.what;
      EXPECT_EQ(last + 1, FrStatus::lastDocumentNumber()) << c.what;
    } else {
      EXPECT_EQ(rc::kNoOpenDocument, handle(cancel)) << c.what;
    }
  }
  EXPECT_EQ(0, FrStatus::openDocumentType());
  Sale(300);
}

}  // namespace
