// A register's day on the real fr-core, from a blank sandbox: serial number,
// registration, shifts with receipts, cash in and out, a cancelled receipt,
// Z reports and the archive close. Every closed document is checked in its
// close reply, its stored descriptor and data, its fiscal sign (recomputed
// from a device key the test planted), the status records 16 and 48, the
// totals records 54 to 57 (rebuilt here from the amounts sent) and, for the
// sale and the Z report, its printed text. Refusals must leave the archive
// as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <utility>
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

// A little-endian value of up to 8 bytes, zero-padded at the top.
int64_t LeValue(std::string v) {
  v.resize(8, '\0');
  return static_cast<int64_t>(util::GetFixed64(v, 0));
}
std::vector<std::pair<uint16_t, std::string>> Elements(std::string bytes) {
  std::vector<std::pair<uint16_t, std::string>> out;
  while (bytes.size() >= 4 && util::GetFixed16(bytes, 2) + 4u <= bytes.size()) {
    const size_t n = util::GetFixed16(bytes, 2);
    out.emplace_back(util::GetFixed16(bytes, 0), bytes.substr(4, n));
    bytes.erase(0, 4 + n);
  }
  return out;
}

testing::AssertionResult SameBytes(const std::string& want, const std::string& got) {
  if (want == got) return testing::AssertionSuccess();
  size_t i = 0;
  while (i < want.size() && i < got.size() && want[i] == got[i]) ++i;
  auto byte = [](const std::string& s, size_t at) {
    return at < s.size() ? std::to_string(static_cast<uint8_t>(s[at])) : std::string("end");
  };
  return testing::AssertionFailure() << "sizes " << want.size() << "/" << got.size()
                                     << ", first difference at byte " << i << ": want "
                                     << byte(want, i) << ", got " << byte(got, i);
}

// Every expected line must be printed, in this order (others may lie between).
void ExpectPrintedInOrder(const std::vector<std::string>& printed,
                          const std::vector<std::string>& expected) {
  size_t at = 0;
  for (const std::string& line : expected) {
    size_t i = at;
    while (i < printed.size() && printed[i] != line) ++i;
    if (i == printed.size()) {
      std::string all;
      for (const std::string& p : printed) all += "  [" + p + "]\n";
      ADD_FAILURE() << "not printed (in order): [" << line << "]\nprinted:\n" << all;
      return;
    }
    at = i + 1;
  }
}

// ---- the device as the test sets it up -------------------------------------

// The RegData check value: ФН text, ИНН text, serial number, key.
const uint32_t kRegCheck = util::Crc32(kFn + std::string(1, '\0') + kInn + kSerial + kKey);
const std::string kR = U32(kRegCheck);
// 1 GiB free: 80 % of it in 32 KiB documents.
constexpr int64_t kFreeBytes = int64_t{1} << 30;
constexpr uint32_t kCapacity = 26214;
const char* const kArchive = "/mnt/sd/V0XD24TX";
constexpr uint64_t kLastDescriptor = 16000200;
constexpr uint64_t kFirstBlock = 16777220;

// ---- receipt lines, with their amounts worked out by hand ------------------

struct Line {
  const char* name;
  int64_t price;
  uint8_t places;  // of the quantity
  int64_t quantity;
  uint8_t tax, section, discount;
  int64_t explicit_discount;
  int64_t amount, tax_amount;  // expected
};
std::string LineTlv(const Line& l) {
  return Tlv(11059, Tlv(11030, Cp(l.name)) + Tlv(11079, Vln(l.price)) +
                        Tlv(11023, U8(l.places) + Vln(l.quantity)) + Tlv(11199, U8(l.tax)) +
                        Tlv(11301, U8(l.section)) +
                        (l.discount ? Tlv(11303, U8(l.discount)) : "") +
                        (l.explicit_discount ? Tlv(11304, Vln(l.explicit_discount)) : ""));
}
// Tax 1 is 20 % contained (factor 0.1667), tax 2 is 10 % (0.0909).
const Line kSugar{"Сахар", 6500, 0, 2, 1, 1, 1, 0, 11700, 1950};       // 130.00 - 10 %
const Line kBread{"Хлеб", 4550, 3, 1500, 2, 2, 0, 0, 6825, 620};       // 45.50 x 1.500
const Line kMilk{"Молоко", 8990, 0, 1, 1, 1, 0, 90, 8900, 1484};       // 89.90 - 0.90
const Line kBreadBack{"Хлеб", 4550, 0, 1, 2, 2, 0, 0, 4550, 414};
const Line kCrates{"Тара", 1000, 0, 3, 1, 2, 0, 0, 3000, 500};

// ---- the books the device should keep --------------------------------------

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
struct Books {
  Counters shift, since_reg, gross;
  int64_t sections[4][20] = {};
};

std::string CountersImage(const Counters& c, bool gross) {
  std::string s = U16(c.number) + U16(c.ins) + U16(c.outs) + U64(c.in_sum) + U64(c.out_sum) +
                  U32(c.receipts) + (gross ? "" : U64(c.drawer));
  for (int t = 0; t < 4; ++t) {
    const Op& o = c.op[t];
    s += U8(t) + U32(o.count) + U64(o.total) + U64(o.cash) + U64(o.cashless) +
         std::string(24, '\0');
    for (int i = 0; i < 5 && !gross; ++i) s += U64(o.tax[i]);
  }
  return s;
}
std::string SectionsImage(const Books& b) {
  std::string s;
  for (const auto& table : b.sections)
    for (int64_t v : table) s += U64(v);
  return s;
}
std::string CountersTlv(uint16_t tag, const Counters& c, bool gross) {
  static const uint16_t kBlockTag[4] = {11129, 11131, 11130, 11132};
  std::string v = Tlv(11038, U16(c.number)) + Tlv(12001, U16(c.ins)) + Tlv(12003, U16(c.outs)) +
                  Tlv(12002, Vln(c.in_sum)) + Tlv(12004, Vln(c.out_sum)) +
                  Tlv(11118, U32(c.receipts)) + (gross ? "" : Tlv(11136, Vln(c.drawer)));
  for (int t = 0; t < 4; ++t) {
    const Op& o = c.op[t];
    std::string b = Tlv(11118, U32(o.count));
    if (o.count != 0) {
      b += Tlv(11201, Vln(o.total));
      if (o.cash != 0) b += Tlv(11136, Vln(o.cash));
      if (o.cashless != 0) b += Tlv(11138, Vln(o.cashless));
      for (int i = 0; i < 5 && !gross; ++i)
        if (o.tax[i] != 0) b += Tlv(13110 + i, Vln(o.tax[i]));
    }
    v += Tlv(kBlockTag[t], b);
  }
  return Tlv(tag, v);
}
// The printed "ИТОГИ СМЕНЫ" block of the current shift.
std::vector<std::string> ShiftTotalsLines(const Counters& c) {
  static const char* const kLabel[4] = {"ПРОДАЖ", "ПОКУПОК", "ВОЗВРАТОВ ПРОДАЖ",
                                        "ВОЗВРАТОВ ПОКУПОК"};
  std::vector<std::string> lines = {
      Centre("ИТОГИ СМЕНЫ"),
      Col("ВНЕСЕНИЙ " + std::to_string(c.ins), "НА " + Money(c.in_sum)),
      Col("ВЫПЛАТ " + std::to_string(c.outs), "НА " + Money(c.out_sum)),
      Col("ВСЕГО ЧЕКОВ", std::to_string(c.receipts)),
      Col("НАЛ. В КАССЕ", Money(c.drawer))};
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

// What 48 and 16 should answer.
struct Status {
  uint16_t flags = 0x0011;  // card present, archive usable
  uint8_t registrations = 0;
  uint16_t shift = 0, receipts = 0;
  uint32_t last_doc = 0, last_time = 0;
  uint32_t open_doc = 0, open_time = 0, shift_last_doc = 0, close_time = 0;
  int64_t drawer = 0;
};
std::string Status48(const Status& s) {
  return kSerial + U16(s.flags) + U8(s.registrations) + U8(50) + U16(s.shift) + U32(s.last_doc) +
         U32(s.last_time) + U16(s.receipts) + U8(0) + U32(kCapacity);
}
std::string Status16(const Status& s) {
  return U8((s.flags & 0x0008) ? 1 : 0) + U16(s.shift) + U16(s.receipts) + U32(s.open_doc) +
         U32(s.open_time) + U32(s.shift_last_doc) + U32(s.close_time) + U64(s.drawer);
}

struct Closed {
  bool ok = false;
  uint32_t number = 0, sign = 0, time = 0;
  host::CloseReply reply;
};

class RegisterDayTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(rig_.Prepare());
    std::string eeprom(4096, '\xFF');
    eeprom.replace(4080, 16, kKey);
    ASSERT_TRUE(rig_.sandbox().WriteEeprom(eeprom));
    ASSERT_TRUE(rig_.sandbox().WriteFile("/nv/SECTIONS", SectionsFile()));
    ASSERT_TRUE(rig_.sandbox().WriteFile("/nv/DISCOUNTS", DiscountsFile()));
    ASSERT_TRUE(rig_.sandbox().SetFreeBytes(kFreeBytes));
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
  // Documents open and close only after the last document's second.
  int64_t DeviceNow() const { return static_cast<int64_t>(time(nullptr)) + offset_; }
  void WaitPastLastDocument() {
    while (DeviceNow() <= status_.last_time) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  int Open(uint8_t command, const std::string& open_data) {
    WaitPastLastDocument();
    return Call(command, Prefix() + open_data).code;
  }
  std::vector<std::string> Printed() {
    return sim::PrintedTexts(sim::DecodePrintStream(rig_.printer().received()));
  }

  std::string ReadArchive(uint64_t offset, size_t n) {
    std::ifstream in(rig_.sandbox().Path(kArchive), std::ios::binary);
    std::string bytes(n, '\0');
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(&bytes[0], static_cast<std::streamsize>(n));
    return in.gcount() == static_cast<std::streamsize>(n) ? bytes : std::string();
  }
  // What a refused request must not change.
  std::string ArchiveMark() {
    std::error_code ec;
    return ReadArchive(kLastDescriptor, 64) +
           std::to_string(std::filesystem::file_size(rig_.sandbox().Path(kArchive), ec));
  }

  void CheckStatus() {
    host::Reply r48 = Call(48, ""), r16 = Call(16, "");
    EXPECT_EQ(0, r48.code);
    EXPECT_EQ(0, r16.code);
    EXPECT_TRUE(SameBytes(Status48(status_), r48.data)) << "status 48 after document " << status_.last_doc;
    EXPECT_TRUE(SameBytes(Status16(status_), r16.data)) << "status 16 after document " << status_.last_doc;
  }
  void CheckTotals() {
    const std::pair<uint8_t, std::string> records[] = {
        {54, CountersImage(books_.shift, false)}, {55, CountersImage(books_.since_reg, false)},
        {56, CountersImage(books_.gross, true)}, {57, SectionsImage(books_)}};
    for (const auto& record : records) {
      host::Reply r = Call(record.first, "");
      EXPECT_EQ(0, r.code);
      EXPECT_TRUE(SameBytes(record.second, r.data))
          << "totals " << int(record.first) << " after document " << status_.last_doc;
    }
  }

  // Closes the open document and checks the reply's common head.
  Closed Close(uint8_t command, const std::string& data, size_t reply_size) {
    Closed c;
    host::Reply r = Call(command, data);
    EXPECT_EQ(0, r.code) << "close " << int(command) << " data " << util::HexUpper(r.data);
    EXPECT_EQ(reply_size, r.data.size()) << "close " << int(command);
    if (r.code != 0 || r.data.size() != reply_size) return c;
    host::CloseReply reply;
    if (!host::DecodeCloseReply(r.data, &reply)) {
      ADD_FAILURE() << "close " << int(command) << " reply not decoded";
      return c;
    }
    c = {true, reply.number, reply.sign, reply.time, reply};
    EXPECT_EQ(status_.last_doc + 1, c.number);
    EXPECT_GT(c.time, status_.last_time);
    status_.last_doc = c.number;
    status_.last_time = c.time;
    return c;
  }
  std::string Base(uint8_t type, const Closed& c, uint32_t sign) const {
    return U8(type) + Tlv(11040, U32(c.number)) + Tlv(12117, U32(1)) + Tlv(11021, kCashier) +
           Tlv(11012, U32(c.time)) + Tlv(11077, U32(sign));
  }
  // Checks the stored descriptor, the data block's head (`main`, unless
  // empty) and the fiscal sign; returns the data block.
  std::string CheckStored(const Closed& c, uint8_t type, uint16_t shift, const std::string& main,
                          const std::string& signed_data) {
    EXPECT_EQ(util::Crc32(kKey + kSerial + signed_data), c.sign) << "fiscal sign of document " << c.number;
    const std::string d = ReadArchive(8 + (c.number - 1) * 64ull, 64);
    if (d.size() != 64) {
      ADD_FAILURE() << "no descriptor " << c.number;
      return "";
    }
    EXPECT_TRUE(SameBytes(d, ReadArchive(kLastDescriptor, 64))) << "last-document slot";
    EXPECT_EQ(type, static_cast<uint8_t>(d[0]));
    EXPECT_EQ(c.number, util::GetFixed32(d, 1));
    EXPECT_EQ(c.time, util::GetFixed32(d, 5));
    EXPECT_EQ(shift, util::GetFixed16(d, 9));
    EXPECT_EQ(c.sign, util::GetFixed32(d, 11));
    EXPECT_EQ(20, d[15]);
    EXPECT_EQ(next_block_, util::GetFixed64(d, 18)) << "data offset of document " << c.number;
    EXPECT_EQ(1u, util::GetFixed32(d, 28));  // the registration it belongs to
    const uint16_t length = util::GetFixed16(d, 16);
    // A receipt's descriptor is sealed before its length grows by the parts
    // after the main data.
    std::string sealed = d.substr(0, 38);
    if (type == 3 && !main.empty()) sealed.replace(16, 2, U16(static_cast<uint16_t>(main.size())));
    EXPECT_EQ(util::Crc16(sealed), util::GetFixed16(d, 38)) << "descriptor CRC of document " << c.number;
    next_block_ = util::GetFixed64(d, 18) + length;
    const std::string block = ReadArchive(util::GetFixed64(d, 18), length);
    EXPECT_EQ(length, block.size());
    if (!main.empty()) {
      EXPECT_TRUE(SameBytes(main, block.substr(0, main.size()))) << "stored document " << c.number;
      EXPECT_EQ(util::Crc16(main), util::GetFixed16(d, 26));
      if (type != 3) {
        EXPECT_EQ(main.size(), length);
      }
    }
    return block;
  }

  void Register() {
    ASSERT_EQ(0, Open(8, Named()));
    for (const std::string& element :
         {Tlv(11048, Cp(kHeader[0])), Tlv(11187, Cp(kHeader[1])), Tlv(11009, Cp(kHeader[2])),
          TaxRate(0, 1, 2000, kTaxNames[0]), TaxRate(1, 1, 1000, kTaxNames[1])}) {
      EXPECT_EQ(0, Call(7, element).code) << util::HexUpper(element.substr(0, 2));
    }
    rig_.printer().Clear();
    const Closed c = Close(9, kInn + std::string(2, '\0') + kFn, 12);
    ASSERT_TRUE(c.ok);
    std::string eeprom;
    ASSERT_TRUE(rig_.sandbox().ReadFile(sim::Sandbox::kEepromPath, &eeprom));
    EXPECT_EQ(kRegCheck, util::GetFixed32(eeprom, 48 + 964)) << "RegData check value";
    CheckStored(c, 1, 0, "", kR + U32(0) + U32(c.time));
    ExpectPrintedInOrder(Printed(), {Centre("Отчет о фискализации/перерегистрации")});
    status_.flags |= 0x0002;
    status_.registrations = 1;
    CheckStatus();
    CheckTotals();
  }

  void OpenShift() {
    ASSERT_EQ(0, Open(17, Named()));
    const Closed c = Close(18, "", 14);
    ASSERT_TRUE(c.ok);
    const uint16_t n = status_.shift + 1;
    EXPECT_EQ(n, c.reply.shift);
    CheckStored(c, 7, n, Base(7, c, c.sign) + Tlv(11038, U16(n)),
                kR + U16(n) + U32(c.number) + U32(c.time));
    status_.flags |= 0x0008;
    status_.shift = n;
    status_.receipts = 0;
    status_.open_doc = status_.shift_last_doc = c.number;
    status_.open_time = c.time;
    status_.close_time = 0;
    books_.shift = Counters();
    books_.shift.number = n;
    books_.since_reg.number++;
    books_.gross.number = n;
    for (auto& table : books_.sections)
      for (int64_t& v : table) v = 0;
    CheckStatus();
    CheckTotals();
  }

  // Returns what was printed from the open to the close.
  std::vector<std::string> CloseShift() {
    rig_.printer().Clear();
    EXPECT_EQ(0, Open(19, Named()));
    const Closed c = Close(20, "", 14);
    if (!c.ok) return {};
    const uint16_t s = status_.shift;
    EXPECT_EQ(s, c.reply.shift);
    CheckStored(c, 2, s, Base(2, c, c.sign) + Tlv(11038, U16(s)) + CountersTlv(11194, books_.shift, false),
                kR + U32(c.number) + U16(s) + U32(c.time));
    status_.flags &= ~0x0008;
    status_.shift_last_doc = c.number;
    status_.close_time = c.time;
    CheckStatus();
    CheckTotals();
    last_closed_ = c;
    return Printed();
  }

  void Cash(bool in, int64_t amount) {
    ASSERT_EQ(0, Open(in ? 162 : 164, Named()));
    const Closed c = Close(in ? 163 : 165, U64(amount), 22);
    ASSERT_TRUE(c.ok);
    const uint16_t s = status_.shift;
    status_.drawer = in ? status_.drawer + amount : std::max<int64_t>(0, status_.drawer - amount);
    status_.shift_last_doc = c.number;
    EXPECT_EQ(s, c.reply.shift);
    EXPECT_EQ(status_.drawer, c.reply.drawer) << "drawer in the reply";
    CheckStored(c, in ? 5 : 6, s, Base(in ? 5 : 6, c, c.sign) + Tlv(11031, Vln(amount)) + Tlv(11038, U16(s)),
                kR + U16(s) + U32(c.number) + U32(c.time) + Money(amount));
    int64_t a = amount;
    for (Counters* k : {&books_.shift, &books_.since_reg}) {
      if (!in) a = std::min(a, k->drawer);
      (in ? k->ins : k->outs)++;
      (in ? k->in_sum : k->out_sum) += a;
      k->drawer += in ? a : -a;
    }
    (in ? books_.gross.ins : books_.gross.outs)++;
    (in ? books_.gross.in_sum : books_.gross.out_sum) += a;
    CheckStatus();
    CheckTotals();
  }

  // A receipt of `type` with `lines`, paid `cash` and `cashless`.
  Closed Receipt(uint8_t type, const std::vector<Line>& lines, int64_t cash, int64_t cashless,
                 int64_t change) {
    int64_t total = 0;
    std::map<int, int64_t> taxes, sections;
    for (const Line& l : lines) {
      total += l.amount;
      taxes[l.tax] += l.tax_amount;
      sections[l.section] += l.amount;
    }
    EXPECT_EQ(0, Open(21, U8(type) + Named())) << "receipt type " << int(type);
    for (const Line& l : lines) EXPECT_EQ(0, Call(7, LineTlv(l)).code) << l.name;
    const Closed c = Close(22, U64(cash) + U64(cashless), 32);
    if (!c.ok) return c;
    const bool incoming = type == 0 || type == 2;
    const uint16_t s = status_.shift, number = status_.receipts + 1;
    if (cash + cashless == 0) cash = total;
    const int64_t kept = incoming ? cash - change : cash;
    EXPECT_EQ(s, c.reply.shift);
    EXPECT_EQ(number, c.reply.receipt);
    EXPECT_EQ(total, c.reply.total);
    EXPECT_EQ(change, c.reply.change);

    auto main = [&](uint32_t sign) {
      return Base(3, c, sign) + Tlv(11042, U16(number)) + Tlv(11020, Vln(total)) +
             (kept > 0 ? Tlv(11031, Vln(kept)) : "") + (cashless > 0 ? Tlv(11081, Vln(cashless)) : "") +
             Tlv(11038, U16(s)) + Tlv(11054, U8(type));
    };
    const std::string block = CheckStored(c, 3, s, main(c.sign), main(0) + kR);
    CheckReceiptParts(block.substr(std::min(block.size(), main(c.sign).size())), lines, taxes, sections);

    status_.receipts = number;
    status_.shift_last_doc = c.number;
    status_.drawer = incoming ? status_.drawer + kept : std::max<int64_t>(0, status_.drawer - kept);
    // The grand totals keep no drawer and no taxes: their images leave them out.
    for (Counters* k : {&books_.shift, &books_.since_reg, &books_.gross}) {
      k->receipts++;
      k->drawer += incoming ? kept : -std::min(kept, k->drawer);
      Op& o = k->op[type];
      o.count++;
      o.total += total;
      o.cash += kept;
      o.cashless += cashless;
      for (const auto& t : taxes) o.tax[t.first - 1] += t.second;
    }
    for (const auto& sec : sections) books_.sections[type][sec.first - 1] += sec.second;
    CheckStatus();
    CheckTotals();
    return c;
  }

  // After the main data: tax rates, sections, then the lines, each in order.
  void CheckReceiptParts(const std::string& rest, const std::vector<Line>& lines,
                         const std::map<int, int64_t>& taxes, const std::map<int, int64_t>& sections) {
    std::vector<uint16_t> want;
    for (const auto& t : taxes) want.push_back(13104 + t.first);
    for (size_t i = 0; i < sections.size(); ++i) want.push_back(11300);
    for (size_t i = 0; i < lines.size(); ++i) want.push_back(11059);
    const auto parts = Elements(rest);
    std::vector<uint16_t> got;
    size_t used = 0;
    for (const auto& p : parts) {
      got.push_back(p.first);
      used += 4 + p.second.size();
    }
    EXPECT_EQ(rest.size(), used) << "receipt parts do not fill the data block";
    ASSERT_EQ(want, got);
    size_t line = 0;
    auto section = sections.begin();
    auto tax = taxes.begin();
    for (const auto& p : parts) {
      std::map<uint16_t, std::string> inner;
      for (const auto& e : Elements(p.second)) inner[e.first] = e.second;
      if (p.first == 11059) {
        EXPECT_EQ(Vln(lines[line].amount), inner[11043]) << lines[line].name;
        EXPECT_EQ(Vln(lines[line].tax_amount), inner[11102]) << lines[line].name;
        ++line;
      } else if (p.first == 11300) {
        EXPECT_EQ(U8(static_cast<uint8_t>((section++)->first)), inner[11301]);
      } else {
        EXPECT_EQ((tax++)->second, LeValue(inner[11102])) << "tax total " << p.first;
      }
    }
  }

  void ExpectRefused(uint8_t command, const std::string& data, int code) {
    const std::string mark = ArchiveMark();
    WaitPastLastDocument();
    EXPECT_EQ(code, Call(command, data).code) << "command " << int(command);
    EXPECT_EQ(mark, ArchiveMark()) << "command " << int(command) << " changed the archive";
  }
  std::string OpenData(uint8_t command) const {
    return Prefix() + (command == cmd::kOpenReceipt ? U8(0) : "") + Named();
  }
  void SleepUntil(int64_t real_second) {
    while (time(nullptr) < real_second) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }

  sim::Rig rig_{FR_CORE_PATH};
  uint32_t id_ = 0;
  int64_t offset_ = 0;  // the sandbox clock's, in seconds
  uint64_t next_block_ = kFirstBlock;
  Status status_;
  Books books_;
  Closed last_closed_;
};

const uint8_t kOpenCommands[] = {8, 17, 19, 21, 24, 162, 164};

TEST_F(RegisterDayTest, FullDayFromABlankDevice) {
  CheckStatus();
  CheckTotals();
  Register();    // 1
  OpenShift();   // 2

  rig_.printer().Clear();
  const Closed sale = Receipt(0, {kSugar, kBread, kMilk}, 20000, 10000, 2575);  // 3
  ASSERT_TRUE(sale.ok);
  char sign[32];
  snprintf(sign, sizeof sign, "ФП %010u", sale.sign);
  ExpectPrintedInOrder(
      Printed(),
      {Centre(kHeader[0]), Centre(kHeader[1]), Centre(kHeader[2]),
       Centre("ФИСКАЛЬНЫЙ КАССОВЫЙ ЧЕК НА ТОВАРЫ (УСЛУГИ)"), Col("КАССИР", "Петрова"),
       Col("ПРОДАЖА ЧЕК 1", "СМЕНА 1"),
       Col("Бакалея", ""), Col("Сахар", "65.00 x 2 = 130.00"),
       // "C УЧЕТОМ" starts with a Latin C.
       Col("СКИДКА 10.00% 13.00", "C УЧЕТОМ СКИДКИ 117.00"), Col("НДС 20%", "19.50"),
       Col("ОТДЕЛ 2", ""), Col("Хлеб", "45.50 x 1.5 = 68.25"), Col("НДС 10%", "6.20"),
       Col("Бакалея", ""), Col("Молоко", "89.90 x 1 = 89.90"),
       Col("СКИДКА 0.90", "C УЧЕТОМ СКИДКИ 89.00"), Col("НДС 20%", "14.84"),
       Col("ИТОГО", "274.25", 22), Col("НАЛИЧНЫМИ", "200.00"), Col("БЕЗНАЛИЧНЫМИ", "100.00"),
       Col("СДАЧА", "25.75", 22), Col("НДС 20%", "34.34"), Col("НДС 10%", "6.20"),
       Col("ИНН", kInn), Col("ДАТА", LocalTime(sale.time)),
       Col("ФД 3", "ЗЕЛТА-7ФК " + kSerial), Centre(sign, 22)});

  EXPECT_TRUE(Receipt(2, {kBreadBack}, 0, 0, 0).ok);  // 4: a return of sale, all in cash
  EXPECT_TRUE(Receipt(1, {kCrates}, 3000, 0, 0).ok);  // 5: a purchase

  // A restart in the middle of the shift publishes the same status again.
  {
    const std::string s16 = Call(16, "").data, s48 = Call(48, "").data;
    ASSERT_TRUE(rig_.Restart() && rig_.WaitReady());
    EXPECT_TRUE(SameBytes(s16, Call(16, "").data)) << "16 after restart";
    EXPECT_TRUE(SameBytes(s48, Call(48, "").data)) << "48 after restart";
    CheckStatus();
  }

  // A receipt opened and cancelled; while it is open nothing else opens or closes.
  {
    const std::string mark = ArchiveMark();
    ASSERT_EQ(0, Open(21, U8(0) + Named()));
    ASSERT_EQ(0, Call(7, LineTlv(kBread)).code);
    const std::string state = U8(3) + U8(0) + U16(4) + U16(1) + U64(kBread.amount);
    host::Reply r = Call(176, "");
    EXPECT_EQ(0, r.code);
    EXPECT_TRUE(SameBytes(state, r.data)) << "176 of the open receipt";
    r = Call(48, "");
    host::DeviceStatus device;
    ASSERT_TRUE(host::DecodeDeviceStatus(r.data, &device));
    EXPECT_EQ(3, device.open_document) << "open-document type";
    for (uint8_t command : kOpenCommands) ExpectRefused(command, OpenData(command), 28);
    const std::pair<uint8_t, std::string> other_closes[] = {
        {9, kInn + std::string(2, '\0') + kFn}, {18, ""}, {20, ""}, {25, ""}, {163, U64(100)}, {165, U64(100)}};
    for (const auto& close : other_closes) ExpectRefused(close.first, close.second, 30);
    r = Call(176, "");
    EXPECT_EQ(0, r.code);
    EXPECT_TRUE(SameBytes(state, r.data)) << "the receipt stays open";
    rig_.printer().Clear();
    EXPECT_EQ(0, Call(6, "").code);
    EXPECT_EQ(29, Call(176, "").code);
    const std::vector<sim::PrintJob> jobs = sim::DecodePrintStream(rig_.printer().received());
    bool cancelled = false;
    for (const sim::PrintJob& job : jobs)
      for (const sim::PrintedLine& line : job.lines)
        cancelled |= line.text == "ДОКУМЕНТ ОТМЕНЕН" && line.double_size && line.bold;
    EXPECT_TRUE(cancelled) << "no ДОКУМЕНТ ОТМЕНЕН printed";
    EXPECT_EQ(mark, ArchiveMark());
    CheckStatus();
    CheckTotals();
  }

  Cash(true, 50000);  // 6
  ExpectRefused(19, OpenData(19), 52);  // cash still in the drawer
  Cash(false, status_.drawer);  // 7: all of it
  ExpectRefused(164, OpenData(164), 40);

  const std::vector<std::string> z = CloseShift();  // 8
  ASSERT_TRUE(last_closed_.ok);
  std::vector<std::string> expected = {Centre("Z-Отчет"), Col("КАССИР", "Петрова")};
  for (const std::string& line : ShiftTotalsLines(books_.shift)) expected.push_back(line);
  snprintf(sign, sizeof sign, "ФП %010u", last_closed_.sign);
  expected.push_back(Col("ФД 8", "ЗЕЛТА-7ФК " + kSerial));
  expected.push_back(Centre(sign, 22));
  ExpectPrintedInOrder(z, expected);

  OpenShift();   // 9
  CloseShift();  // 10

  // The archive close carries the totals since registration and the grand totals.
  rig_.printer().Clear();
  ASSERT_EQ(0, Open(24, Named()));
  const Closed c = Close(25, "", 12);  // 11
  ASSERT_TRUE(c.ok);
  CheckStored(c, 4, 2,
              Base(4, c, c.sign) + Tlv(11038, U16(2)) + CountersTlv(11158, books_.since_reg, false) +
                  CountersTlv(11157, books_.gross, true),
              kR + U32(c.number) + U32(c.time));
  ExpectPrintedInOrder(Printed(), {Centre("ИТОГО С ПОСЛЕДНЕЙ РЕГИСТРАЦИИ"), Centre("ГРОСС ИТОГИ")});
  status_.flags |= 0x0020;
  CheckStatus();
  CheckTotals();
  ExpectRefused(17, OpenData(17), 31);  // nothing opens in a closed archive
}

TEST_F(RegisterDayTest, RefusalsLeaveTheArchiveAsItWas) {
  Register();
  for (uint8_t command : {19, 21, 162, 164}) ExpectRefused(command, OpenData(command), 27);
  OpenShift();

  ExpectRefused(6, "", 29);  // nothing to cancel
  ExpectRefused(176, "", 29);
  ExpectRefused(7, LineTlv(kBread), 29);
  for (uint8_t command : kOpenCommands) ExpectRefused(command, Prefix().substr(0, 4), 19);
  ExpectRefused(164, OpenData(164), 40);  // empty drawer

  // Paper out at the close: the receipt is dropped, not stored.
  const std::string mark = ArchiveMark();
  ASSERT_EQ(0, Open(21, U8(0) + Named()));
  ASSERT_EQ(0, Call(7, LineTlv(kSugar)).code);
  rig_.printer().set_status(0x0C);
  EXPECT_EQ(54, Call(22, U64(0) + U64(0)).code);
  rig_.printer().set_status(0);
  EXPECT_EQ(29, Call(176, "").code);
  EXPECT_EQ(mark, ArchiveMark());
  CheckStatus();
  CheckTotals();

  // The device still works after all that.
  EXPECT_TRUE(Receipt(0, {kSugar}, 0, 0, 0).ok);
}

TEST_F(RegisterDayTest, ShiftTakesReceiptsForExactlyOneDay) {
  Register();
  OpenShift();
  const std::string s16 = Call(16, "").data, s48 = Call(48, "").data;
  // Restart with the clock moved so that the device reads opening + 86400 s
  // during one real second; a reply within that second was decided in it.
  int64_t second = 0;
  bool decided = false;
  for (int attempt = 0; attempt < 4 && !decided; ++attempt) {
    second = time(nullptr) + 3;
    offset_ = status_.open_time + 86400 - second;
    ASSERT_TRUE(rig_.sandbox().WriteFile("/sandbox/clock-offset", std::to_string(offset_)));
    ASSERT_TRUE(rig_.Restart() && rig_.WaitReady());
    EXPECT_TRUE(SameBytes(s16, Call(16, "").data)) << "16 after restart";
    EXPECT_TRUE(SameBytes(s48, Call(48, "").data)) << "48 after restart";
    if (time(nullptr) >= second) continue;  // the restart took too long
    SleepUntil(second);
    const int code = Call(21, OpenData(21)).code;
    if (time(nullptr) != second) {
      if (code == 0) Call(6, "");
      continue;
    }
    EXPECT_EQ(0, code) << "receipt at 86400 s after the shift opened";
    decided = true;
  }
  ASSERT_TRUE(decided) << "could not hit the second";
  EXPECT_EQ(0, Call(6, "").code);

  SleepUntil(second + 1);  // 86401 s and later
  ExpectRefused(21, OpenData(21), 51);
  ExpectRefused(162, OpenData(162), 51);
  CheckStatus();
  // The day can still be closed.
  CloseShift();
  EXPECT_GT(last_closed_.time, status_.open_time + 86400u);
}

}  // namespace
