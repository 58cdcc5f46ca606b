// Reports on the real fr-core over several shifts: X reports, the totals
// since registration and the gross totals, reports over a period and over a
// range of shifts (whose sums are rebuilt here from the shift counters read
// just before each shift close), the control tape and copies of stored
// documents, all checked in their decoded printed text.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "app/codes.h"
#include "host/protocol.h"
#include "tools/common/print_decoder.h"
#include "tools/sim/rig.h"
#include "util/coding.h"
#include "util/cp866.h"
#include "util/crc.h"
#include "tests/register_text.h"

namespace {

using namespace regtest;

// ---- bytes and texts -------------------------------------------------------

std::string Dump(const std::vector<std::string>& printed) {
  std::string all;
  for (const std::string& p : printed) all += "  [" + p + "]\n";
  return all;
}
// Every expected line must be printed, in this order (others may lie between).
testing::AssertionResult PrintedInOrder(const std::vector<std::string>& printed,
                                        const std::vector<std::string>& expected) {
  size_t at = 0;
  for (const std::string& line : expected) {
    size_t i = at;
    while (i < printed.size() && printed[i] != line) ++i;
    if (i == printed.size())
      return testing::AssertionFailure() << "not printed (in order): [" << line << "]\nprinted:\n"
                                         << Dump(printed);
    at = i + 1;
  }
  return testing::AssertionSuccess();
}
bool Has(const std::vector<std::string>& printed, const std::string& line) {
  for (const std::string& p : printed)
    if (p == line) return true;
  return false;
}
bool HasPart(const std::vector<std::string>& printed, const std::string& part) {
  for (const std::string& p : printed)
    if (p.find(part) != std::string::npos) return true;
  return false;
}

// ---- the device as the test sets it up -------------------------------------

const char* const kModel = "ЗЕЛТА-7ФК";

struct Line {
  const char* name;
  int64_t price;
  uint8_t places;
  int64_t quantity;
  uint8_t tax, section, discount;
  int64_t amount;  // expected
};
std::string LineTlv(const Line& l) {
  return Tlv(11059, Tlv(11030, Cp(l.name)) + Tlv(11079, Vln(l.price)) +
                        Tlv(11023, U8(l.places) + Vln(l.quantity)) + Tlv(11199, U8(l.tax)) +
                        Tlv(11301, U8(l.section)) + (l.discount ? Tlv(11303, U8(l.discount)) : ""));
}
const Line kSugar{"Сахар", 6500, 0, 2, 1, 1, 1, 11700};   // 130.00 - 10 %
const Line kBread{"Хлеб", 4550, 3, 1500, 2, 2, 0, 6825};  // 45.50 x 1.500
const Line kMilk{"Молоко", 8990, 0, 1, 1, 1, 0, 8990};
const Line kBreadBack{"Хлеб", 4550, 0, 1, 2, 2, 0, 4550};

// ---- counters as the device reports them -----------------------------------

struct Op {
  uint32_t count = 0;
  int64_t total = 0, cash = 0, cashless = 0, tax[5] = {};
};
struct Counters {
  uint16_t number = 0, ins = 0, outs = 0;
  int64_t in_sum = 0, out_sum = 0;
  uint32_t receipts = 0;
  int64_t drawer = 0;
  Op op[4];
};
// The test's copy of a decoded totals record; gross records have no tax
// sums (their blocks read 0) and no drawer.
template <typename Record>
Counters FromRecord(const Record& r) {
  Counters c;
  c.number = r.shiftNumber();
  c.ins = r.cashInCount();
  c.outs = r.cashOutCount();
  c.in_sum = r.cashInSum();
  c.out_sum = r.cashOutSum();
  c.receipts = r.receiptCount();
  for (size_t t = 0; t < 4; ++t) {
    const OperationCounters b = r.block(t);
    Op& o = c.op[t];
    o.count = b.receiptCount();
    o.total = b.total();
    o.cash = b.cash();
    o.cashless = b.cashless();
    for (size_t i = 0; i < 5; ++i) o.tax[i] = b.tax(i);
  }
  return c;
}
// What range totals hold: the shift records summed, shifts counted, no drawer, no taxes.
Counters Sum(const std::vector<Counters>& shifts) {
  Counters s;
  for (const Counters& c : shifts) {
    s.number++;
    s.ins += c.ins;
    s.outs += c.outs;
    s.in_sum += c.in_sum;
    s.out_sum += c.out_sum;
    s.receipts += c.receipts;
    for (int t = 0; t < 4; ++t) {
      s.op[t].count += c.op[t].count;
      s.op[t].total += c.op[t].total;
      s.op[t].cash += c.op[t].cash;
      s.op[t].cashless += c.op[t].cashless;
    }
  }
  return s;
}

const char* const kLabel[4] = {"ПРОДАЖ", "ПОКУПОК", "ВОЗВРАТОВ ПРОДАЖ", "ВОЗВРАТОВ ПОКУПОК"};

std::vector<std::string> ShiftTotalsLines(const Counters& c) {
  std::vector<std::string> lines = {
      Centre("ИТОГИ СМЕНЫ"),
      Col("ВНЕСЕНИЙ " + std::to_string(c.ins), "НА " + Money(c.in_sum)),
      Col("ВЫПЛАТ " + std::to_string(c.outs), "НА " + Money(c.out_sum)),
      Col("ВСЕГО ЧЕКОВ", std::to_string(c.receipts)), Col("НАЛ. В КАССЕ", Money(c.drawer))};
  for (int t = 0; t < 4; ++t) {
    const Op& o = c.op[t];
    lines.push_back(Col(std::string(kLabel[t]) + " " + std::to_string(o.count), "НА " + Money(o.total)));
    if (o.count == 0) continue;
    lines.push_back(Col("НАЛИЧНЫМИ", Money(o.cash)));
    lines.push_back(Col("БЕЗНАЛИЧНЫМИ", Money(o.cashless)));
    for (int i = 0; i < 5; ++i)
      if (o.tax[i] > 0) lines.push_back(Col(kTaxNames[i], Money(o.tax[i])));
  }
  return lines;
}
std::vector<std::string> GrossLines(const Counters& c) {
  std::vector<std::string> lines = {
      Centre("ГРОСС ИТОГИ"), Col("СМЕН", std::to_string(c.number)),
      Col("ВНЕСЕНИЙ " + std::to_string(c.ins), "НА " + Money(c.in_sum)),
      Col("ВЫПЛАТ " + std::to_string(c.outs), "НА " + Money(c.out_sum)),
      Col("ВСЕГО ЧЕКОВ", std::to_string(c.receipts))};
  for (int t = 0; t < 4; ++t) {
    const Op& o = c.op[t];
    lines.push_back(Col(std::string(kLabel[t]) + " " + std::to_string(o.count), "НА " + Money(o.total)));
    if (o.count == 0) continue;
    lines.push_back(Col("НАЛИЧНЫМИ", Money(o.cash)));
    lines.push_back(Col("БЕЗНАЛИЧНЫМИ", Money(o.cashless)));
  }
  return lines;
}
std::vector<std::string> Closing() { return {Col("ИНН", kInn), Col(kModel, kSerial)}; }

struct Doc {
  uint8_t type = 0;  // 1 registration, 2 shift close, 3 receipt, 6 cash out, 7 shift open
  uint32_t number = 0, time = 0, sign = 0;
};

class ReportsLineTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(rig_.Prepare());
    std::string eeprom(4096, '\xFF');
    eeprom.replace(4080, 16, kKey);
    ASSERT_TRUE(rig_.sandbox().WriteEeprom(eeprom));
    ASSERT_TRUE(rig_.sandbox().WriteFile("/nv/SECTIONS", SectionsFile()));
    ASSERT_TRUE(rig_.sandbox().WriteFile("/nv/DISCOUNTS", DiscountsFile()));
    ASSERT_TRUE(rig_.sandbox().SetFreeBytes(int64_t{1} << 30));
    ASSERT_TRUE(rig_.Start() && rig_.WaitReady());
    ASSERT_EQ(0, Call(63, Prefix() + kSerial).code);
  }

  host::Reply Call(uint8_t command, const std::string& data) {
    host::Reply r;
    if (!rig_.host().Request(command, ++id_, data, &r, 10000)) {
      ADD_FAILURE() << "no reply to command " << int(command);
      r.code = -1;
    }
    return r;
  }
  // A document's time must be later than the last one's.
  int Open(uint8_t command, const std::string& open_data) {
    while (time(nullptr) <= static_cast<time_t>(last_time_))
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return Call(command, Prefix() + open_data).code;
  }
  Doc Close(uint8_t type, uint8_t command, const std::string& data, size_t reply_size) {
    Doc d;
    const host::Reply r = Call(command, data);
    EXPECT_EQ(0, r.code) << "close " << int(command);
    EXPECT_EQ(reply_size, r.data.size()) << "close " << int(command);
    if (r.code != 0 || r.data.size() != reply_size) return d;
    host::CloseReply closed;
    if (!host::DecodeCloseReply(r.data, &closed)) {
      ADD_FAILURE() << "close " << int(command) << " reply not decoded";
      return d;
    }
    d = {type, closed.number, closed.time, closed.sign};
    EXPECT_EQ(docs_.size() + 1, d.number);
    last_time_ = d.time;
    docs_.push_back(d);
    return d;
  }
  std::vector<std::string> Printed() {
    return sim::PrintedTexts(sim::DecodePrintStream(rig_.printer().received()));
  }
  // Runs a print command on a clean printer; returns its code and the lines.
  int Print(uint8_t command, const std::string& payload, std::vector<std::string>* printed) {
    rig_.printer().Clear();
    const int code = Call(command, Prefix() + payload).code;
    *printed = Printed();
    return code;
  }
  Counters Record(uint8_t command) {
    const host::Reply r = Call(command, "");
    EXPECT_EQ(0, r.code);
    if (command == cmd::kGrandTotals) {
      GrossCounters gross;
      if (host::DecodeGrossTotals(r.data, &gross)) return FromRecord(gross);
    } else {
      ShiftCounters shift;
      if (host::DecodeShiftTotals(r.data, &shift)) {
        Counters c = FromRecord(shift);
        c.drawer = shift.cashInDrawer();
        return c;
      }
    }
    ADD_FAILURE() << "record " << int(command) << " of " << r.data.size() << " bytes";
    return Counters();
  }

  void Register() {
    ASSERT_EQ(0, Open(8, Named()));
    for (const std::string& element :
         {Tlv(11048, Cp(kHeader[0])), Tlv(11187, Cp(kHeader[1])), Tlv(11009, Cp(kHeader[2])),
          TaxRate(0, 1, 2000, kTaxNames[0]), TaxRate(1, 1, 1000, kTaxNames[1])}) {
      ASSERT_EQ(0, Call(7, element).code);
    }
    ASSERT_NE(0u, Close(1, 9, kInn + std::string(2, '\0') + kFn, 12).number);
  }
  void OpenShift() {
    ASSERT_EQ(0, Open(17, Named()));
    const Doc d = Close(7, 18, "", 14);
    ASSERT_NE(0u, d.number);
    ++shift_;
    shift_open_time_ = d.time;
  }
  // Keeps the shift record as it is when the shift closes: the Z report's counters.
  void CloseShift() {
    const Counters c = Record(54);
    ASSERT_EQ(0, Open(19, Named()));
    ASSERT_NE(0u, Close(2, 20, "", 14).number);
    z_.push_back(c);
  }
  // A receipt of `type`, paid with `cash` and `cashless`; checks the total.
  void Receipt(uint8_t type, const std::vector<Line>& lines, int64_t cash, int64_t cashless) {
    int64_t total = 0;
    for (const Line& l : lines) total += l.amount;
    ASSERT_EQ(0, Open(21, U8(type) + Named()));
    for (const Line& l : lines) ASSERT_EQ(0, Call(7, LineTlv(l)).code) << l.name;
    ASSERT_NE(0u, Close(3, 22, U64(cash) + U64(cashless), 32).number);
    Op& o = mine_[shift_][type];
    o.count++;
    o.total += total;
  }
  void CashOut(int64_t amount) {
    ASSERT_EQ(0, Open(164, Named()));
    ASSERT_NE(0u, Close(6, 165, U64(amount), 22).number);
  }

  sim::Rig rig_{FR_CORE_PATH};
  uint32_t id_ = 0;
  uint32_t last_time_ = 0;
  uint16_t shift_ = 0;
  uint32_t shift_open_time_ = 0;
  std::vector<Doc> docs_;      // docs_[n - 1] is document n
  std::vector<Counters> z_;    // z_[s - 1]: shift s at its close
  Op mine_[8][4];              // receipts sent, by shift and type
};

// Four closed shifts and an open fifth, then every report over them.
TEST_F(ReportsLineTest, ReportsOverFourClosedShiftsAndAnOpenOne) {
  Register();                                 // 1
  OpenShift();                                // 2
  Receipt(0, {kSugar}, 0, kSugar.amount);     // 3
  CloseShift();                               // 4
  OpenShift();                                // 5
  Receipt(0, {kMilk}, 20000, 0);              // 6: 110.10 change
  CashOut(kMilk.amount);                      // 7: the drawer must be empty at the close
  CloseShift();                               // 8
  OpenShift();                                // 9
  Receipt(0, {kBread}, 0, kBread.amount);     // 10
  Receipt(2, {kBreadBack}, 0, kBreadBack.amount);  // 11: a return of sale, paid back cashless
  CloseShift();                               // 12
  OpenShift();                                // 13
  Receipt(0, {kSugar, kBread}, 0, kSugar.amount + kBread.amount);  // 14
  CloseShift();                               // 15
  OpenShift();                                // 16
  Receipt(0, {kMilk}, 0, kMilk.amount);       // 17
  Receipt(0, {kSugar}, 0, kSugar.amount);     // 18
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_EQ(18u, docs_.size());
  ASSERT_EQ(4u, z_.size());

  // The shift records the device closed with hold what was sent.
  for (size_t s = 0; s < z_.size(); ++s) {
    for (int t = 0; t < 4; ++t) {
      EXPECT_EQ(mine_[s + 1][t].count, z_[s].op[t].count) << "shift " << s + 1 << " type " << t;
      EXPECT_EQ(mine_[s + 1][t].total, z_[s].op[t].total) << "shift " << s + 1 << " type " << t;
    }
  }
  EXPECT_EQ(1, z_[1].outs);
  EXPECT_EQ(kMilk.amount, z_[1].out_sum);
  const Counters current = Record(54);
  EXPECT_EQ(2u, current.op[0].count);
  EXPECT_EQ(kMilk.amount + kSugar.amount, current.op[0].total);

  std::vector<std::string> p;

  // X report of the open shift.
  {
    SCOPED_TRACE("X report");
    EXPECT_EQ(0, Print(177, U8(1), &p));
    std::vector<std::string> want = {Centre(kHeader[0]), Centre("X-Отчет"), Col("СМЕНА", "5"),
                                     Col("ОТКРЫТА", LocalTime(shift_open_time_))};
    for (const std::string& l : ShiftTotalsLines(current)) want.push_back(l);
    for (const std::string& l : Closing()) want.push_back(l);
    EXPECT_TRUE(PrintedInOrder(p, want));
    EXPECT_FALSE(HasPart(p, "ЗАКРЫТА"));
    EXPECT_FALSE(Has(p, Centre("ИТОГИ ПО ОТДЕЛАМ")));
  }
  // X report with the section totals: only section 1 sold in this shift.
  {
    SCOPED_TRACE("X report with sections");
    EXPECT_EQ(0, Print(177, U8(4), &p));
    std::vector<std::string> want = {Centre("X-Отчет"), Col("СМЕНА", "5"),
                                     Col("ОТКРЫТА", LocalTime(shift_open_time_))};
    for (const std::string& l : ShiftTotalsLines(current)) want.push_back(l);
    for (const std::string& l :
         {Centre("ИТОГИ ПО ОТДЕЛАМ"), Col("ОТДЕЛ 1", "Бакалея"),
          Col("ПРОДАЖ НА", Money(kMilk.amount + kSugar.amount)), Col("ПОКУПОК НА", "0.00"),
          Col("ВОЗВРАТОВ ПРОДАЖ НА", "0.00"), Col("ВОЗВРАТОВ ПОКУПОК НА", "0.00")})
      want.push_back(l);
    for (const std::string& l : Closing()) want.push_back(l);
    EXPECT_TRUE(PrintedInOrder(p, want));
    EXPECT_FALSE(HasPart(p, "ОТДЕЛ 2")) << "a section with no sales today";
    EXPECT_FALSE(HasPart(p, "ЗАКРЫТА"));
  }
  // Totals since registration and gross totals.
  {
    SCOPED_TRACE("since registration");
    const Counters since = Record(55);
    EXPECT_EQ(0, Print(177, U8(2), &p));
    EXPECT_TRUE(PrintedInOrder(
        p, {Centre(kHeader[0]), Centre("ИТОГО С ПОСЛЕДНЕЙ РЕГИСТРАЦИИ"),
            Col("СМЕН", std::to_string(since.number)),
            Col("ВЫПЛАТ " + std::to_string(since.outs), "НА " + Money(since.out_sum)),
            Col("ВСЕГО ЧЕКОВ", std::to_string(since.receipts)), Col("ИНН", kInn),
            Col(kModel, kSerial)}));
    EXPECT_EQ(7u, since.receipts);
    EXPECT_FALSE(Has(p, Centre("X-Отчет")));
  }
  {
    SCOPED_TRACE("gross totals");
    const Counters gross = Record(56);
    EXPECT_EQ(0, Print(177, U8(3), &p));
    std::vector<std::string> want = {Centre(kHeader[0])};
    for (const std::string& l : GrossLines(gross)) want.push_back(l);
    for (const std::string& l : Closing()) want.push_back(l);
    EXPECT_TRUE(PrintedInOrder(p, want));
    EXPECT_EQ(z_[0].op[0].total + z_[1].op[0].total + z_[2].op[0].total + z_[3].op[0].total +
                  current.op[0].total,
              gross.op[0].total);
  }

  // Shift ranges: the printed sums are those of the shift closes in the range.
  struct RangeCase {
    uint16_t a, b;
    int lo, hi;  // the shifts summed and printed
  };
  const RangeCase ranges[] = {
      {1, 4, 1, 4},  // all closed shifts
      {3, 1, 1, 3},  // swapped: printed lowest first
      {2, 3, 2, 3},  {3, 3, 3, 3},  // one shift
      {4, 2, 2, 4},  {2, 7, 2, 4},  // reaching the open shift: ends before it
      {9, 4, 4, 4},  {1, 5, 1, 4},
  };
  for (const RangeCase& r : ranges) {
    SCOPED_TRACE("shift range " + std::to_string(r.a) + " " + std::to_string(r.b));
    EXPECT_EQ(0, Print(177, U8(6) + U16(r.a) + U16(r.b), &p));
    const Counters sum = Sum(std::vector<Counters>(z_.begin() + (r.lo - 1), z_.begin() + r.hi));
    std::vector<std::string> want = {Centre(kHeader[0]), Centre("ОТЧЕТ ПО ДИАПАЗОНУ СМЕН"),
                                     Col("СМЕНЫ С  " + std::to_string(r.lo), "ПО " + std::to_string(r.hi))};
    for (const std::string& l : GrossLines(sum)) want.push_back(l);
    for (const std::string& l : Closing()) want.push_back(l);
    EXPECT_TRUE(PrintedInOrder(p, want));
  }
  // Ranges with no shift close in them.
  for (const auto& ab : {std::make_pair(5, 5), std::make_pair(5, 8), std::make_pair(6, 5)}) {
    SCOPED_TRACE("empty shift range " + std::to_string(ab.first) + " " + std::to_string(ab.second));
    EXPECT_EQ(17, Print(177, U8(6) + U16(ab.first) + U16(ab.second), &p));
    EXPECT_FALSE(Has(p, Centre("ГРОСС ИТОГИ"))) << Dump(p);
  }

  // Periods, by document times; either order of the two times.
  const auto T = [&](uint32_t n) { return docs_[n - 1].time; };
  struct PeriodCase {
    uint32_t from, to;  // times
    int lo, hi;         // shift closes summed
  };
  const PeriodCase periods[] = {
      {T(5), T(13), 2, 3},   // from the opening of shift 2 to that of shift 4
      {T(2), T(16), 1, 4},   // all closed shifts
      {T(9), T(18), 3, 4},   // up to the last document
      {T(13), T(15), 4, 4},  // to exactly the close of shift 4
  };
  for (const PeriodCase& c : periods) {
    for (const bool swapped : {false, true}) {
      SCOPED_TRACE("period " + LocalTime(c.from) + " " + LocalTime(c.to) + (swapped ? " swapped" : ""));
      const std::string args = swapped ? U32(c.to) + U32(c.from) : U32(c.from) + U32(c.to);
      EXPECT_EQ(0, Print(177, U8(5) + args, &p));
      const Counters sum = Sum(std::vector<Counters>(z_.begin() + (c.lo - 1), z_.begin() + c.hi));
      // Both times fill the 44 columns: the second wraps onto its own line.
      std::vector<std::string> want = {Centre(kHeader[0]), Centre("ОТЧЕТ ЗА ПЕРИОД"),
                                       "С  " + LocalTime(c.from), "ПО " + LocalTime(c.to)};
      for (const std::string& l : GrossLines(sum)) want.push_back(l);
      for (const std::string& l : Closing()) want.push_back(l);
      EXPECT_TRUE(PrintedInOrder(p, want));
    }
  }
  {
    SCOPED_TRACE("period inside the open shift");
    EXPECT_EQ(17, Print(177, U8(5) + U32(T(16)) + U32(T(17)), &p));
    EXPECT_TRUE(Has(p, Centre("ОТЧЕТ ЗА ПЕРИОД"))) << "the heads come before the search for closes";
    EXPECT_FALSE(Has(p, Centre("ГРОСС ИТОГИ")));
  }
  {
    SCOPED_TRACE("period starting at the last document");
    EXPECT_EQ(17, Print(177, U8(5) + U32(T(18)) + U32(T(18) + 100), &p));
    EXPECT_TRUE(p.empty()) << Dump(p);
    EXPECT_EQ(17, Print(177, U8(5) + U32(T(5)) + U32(T(5)), &p));
    EXPECT_TRUE(p.empty()) << Dump(p);
  }

  // The control tape: fresh, then continued from the last receipt.
  {
    SCOPED_TRACE("control tape");
    EXPECT_EQ(0, Print(58, "", &p));
    std::vector<std::string> want = {Centre(kHeader[0]), Centre("КОНТРОЛЬНАЯ ЛЕНТА")};
    want.push_back(Centre("ИТОГИ СМЕНЫ"));
    for (const std::string& l : {Col("ПРОДАЖА ЧЕК 1", "ФД 17"), Col("ИТОГО", Money(kMilk.amount)),
                                 Col("ПРОДАЖА ЧЕК 2", "ФД 18"), Col("ИТОГО", Money(kSugar.amount)),
                                 Col("ИНН", kInn), Col(kModel, kSerial)})
      want.push_back(l);
    EXPECT_TRUE(PrintedInOrder(p, want));
    EXPECT_TRUE(HasPart(p, "СМЕНА")) << Dump(p);
    EXPECT_FALSE(HasPart(p, "ПРОДОЛЖЕНИЕ"));
    EXPECT_FALSE(HasPart(p, "ФД 14")) << "a receipt of an earlier shift";

    EXPECT_EQ(0, Print(58, U32(18), &p));
    EXPECT_TRUE(PrintedInOrder(p, {Centre("КОНТРОЛЬНАЯ ЛЕНТА"), Centre("(ПРОДОЛЖЕНИЕ)"),
                                   Col("ПРОДАЖА ЧЕК 2", "ФД 18"), Col("ИТОГО", Money(kSugar.amount)),
                                   Col(kModel, kSerial)}));
    EXPECT_FALSE(Has(p, Col("ПРОДАЖА ЧЕК 1", "ФД 17"))) << "a receipt before the continuation";
    EXPECT_FALSE(Has(p, Centre("ИТОГИ СМЕНЫ"))) << "a continued tape has no shift head";
    EXPECT_FALSE(HasPart(p, "ОТКРЫТА"));
    // Any other payload length counts as no number: a fresh tape.
    EXPECT_EQ(0, Print(58, U16(18), &p));
    EXPECT_FALSE(HasPart(p, "ПРОДОЛЖЕНИЕ"));
    EXPECT_TRUE(Has(p, Col("ПРОДАЖА ЧЕК 1", "ФД 17")));
    // A continuation past the last document has nothing to print.
    EXPECT_EQ(17, Print(58, U32(19), &p));
  }

  // Copies of each kind of stored document: opening, (КОПИЯ), body, closing.
  struct CopyCase {
    uint32_t number;
    std::vector<std::string> before, after;  // around (КОПИЯ)
  };
  char sign[32];
  const auto Footer = [&](uint32_t n) {
    snprintf(sign, sizeof sign, "ФП %010u", docs_[n - 1].sign);
    return std::vector<std::string>{Col("ДАТА", LocalTime(T(n))),
                                    Col("ФД " + std::to_string(n), std::string(kModel) + " " + kSerial),
                                    Centre(sign, 22)};
  };
  const auto Join = [](std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  const CopyCase copies[] = {
      {1, {Centre("Отчет о фискализации/перерегистрации")}, Footer(1)},
      {2, {Centre(kHeader[0])}, Footer(2)},
      {4, {Centre(kHeader[0])}, Join(ShiftTotalsLines(z_[0]), Footer(4))},
      {14, {Centre(kHeader[0]), Centre("ФИСКАЛЬНЫЙ КАССОВЫЙ ЧЕК НА ТОВАРЫ (УСЛУГИ)")},
       Join({Col("Сахар", "65.00 x 2 = 130.00"), Col("Хлеб", "45.50 x 1.5 = 68.25")}, Footer(14))},
      {7, {Centre(kHeader[0])}, Footer(7)},
  };
  for (const CopyCase& c : copies) {
    SCOPED_TRACE("copy of document " + std::to_string(c.number));
    EXPECT_EQ(0, Print(178, U32(c.number), &p));
    std::vector<std::string> want = c.before;
    want.push_back(Centre("(КОПИЯ)"));
    for (const std::string& l : c.after) want.push_back(l);
    EXPECT_TRUE(PrintedInOrder(p, want));
  }
  for (const std::string& payload : {U32(1).substr(0, 3), U32(1) + U8(0), std::string()}) {
    SCOPED_TRACE("copy with " + std::to_string(payload.size()) + " bytes");
    EXPECT_EQ(22, Print(178, payload, &p));
    EXPECT_TRUE(p.empty()) << Dump(p);
  }
  EXPECT_EQ(17, Print(178, U32(19), &p)) << "beyond the last document";
}

// Before any shift, and with the shift closed.
TEST_F(ReportsLineTest, RefusalsAndTheClosedShift) {
  Register();
  ASSERT_FALSE(HasFatalFailure());
  std::vector<std::string> p;
  struct Case {
    uint8_t command;
    std::string payload;
    int code;
  };
  const Case before[] = {
      {177, U8(1), 27},  // no shift open
      {177, U8(2), 17}, {177, U8(3), 17}, {177, U8(4), 17},
      {177, U8(6) + U16(1) + U16(2), 17},
      {177, "", 22},  {177, U8(7), 30}, {177, U8(0), 30},
      {177, U8(5) + U32(1), 22},  {177, U8(6) + U16(1), 22},
      {178, U32(1).substr(0, 3), 22},
      {58, "", 27},
  };
  for (const Case& c : before) {
    SCOPED_TRACE("command " + std::to_string(c.command) + " with " + std::to_string(c.payload.size()) + " bytes");
    EXPECT_EQ(c.code, Print(c.command, c.payload, &p));
    EXPECT_TRUE(p.empty()) << Dump(p);
  }
  EXPECT_EQ(19, Call(177, U8(20) + U16(0)).code) << "a short cashier prefix";
  EXPECT_EQ(17, Print(178, U32(2), &p)) << "beyond the last document";

  OpenShift();
  CloseShift();
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_EQ(27, Print(177, U8(1), &p));
  EXPECT_EQ(27, Print(58, "", &p));
  EXPECT_EQ(0, Print(177, U8(4), &p));
  EXPECT_TRUE(PrintedInOrder(p, {Centre("X-Отчет"), Col("СМЕНА", "1"),
                                 Col("ОТКРЫТА", LocalTime(docs_[1].time)),
                                 Col("ЗАКРЫТА", LocalTime(docs_[2].time)), Centre("ИТОГИ СМЕНЫ"),
                                 Centre("ИТОГИ ПО ОТДЕЛАМ"), Col(kModel, kSerial)}));
  // The one closed shift, as a range of one and as a range reaching past it.
  for (const auto& ab : {std::make_pair(1, 1), std::make_pair(1, 3)}) {
    EXPECT_EQ(0, Print(177, U8(6) + U16(ab.first) + U16(ab.second), &p));
    EXPECT_TRUE(PrintedInOrder(p, {Col("СМЕНЫ С  1", "ПО 1"), Centre("ГРОСС ИТОГИ"), Col("СМЕН", "1")}));
  }
}

}  // namespace
