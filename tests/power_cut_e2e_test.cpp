// Power cuts on the real fr-core: a host stores documents (receipts with
// random lines and payments, cash in and out, shift closes and opens) while
// a second thread kills the device (SIGKILL) after a random few to a few
// hundred milliseconds; every other cut is aimed at a store instead, a
// random few hundred microseconds after one of the next closes is sent,
// since a store is a short moment of the day. After each cut the device is
// started again, and
//   - the archive checker finds the archive consistent,
//   - every document whose close reply reached the host is stored, at its
//     number, with the contents the host was told about,
//   - the status records 16 and 48 agree with the archive.
// FR_POWER_CUTS sets the number of cuts, FR_POWER_SEED the random seed.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>

#include "app/codes.h"
#include "host/frame.h"
#include "host/protocol.h"
#include "platform/env.h"
#include "storage/archive_format.h"
#include "tests/register_text.h"
#include "tools/common/archive_check.h"
#include "tools/sim/rig.h"
#include "util/coding.h"
#include "util/crc.h"

namespace {

using namespace regtest;
using Clock = std::chrono::steady_clock;

constexpr int kDefaultCuts = 120;
constexpr int kMinDelayMs = 3;
constexpr int kMaxDelayMs = 300;
// An aimed cut: after the n-th next close, n up to this, then up to kMaxAimUs.
constexpr int kMaxAimCloses = 20;
constexpr int kMaxAimUs = 600;
// A cut is taken as the reason for a missing reply once nothing has come
// for this long after it.
constexpr int kCutGraceMs = 300;
constexpr int kReplyTimeoutMs = 10000;


// What the host was told about a stored document.
struct Confirmed {
  uint32_t number = 0;
  uint8_t type = 0;
  uint16_t shift = 0;
  uint8_t receipt_type = 0;
  int64_t total = 0, cash = 0, cashless = 0, amount = 0;
  uint32_t time = 0;
};

struct Counts {
  int cuts = 0;
  int aimed = 0;
  int stores_cut = 0;  // cuts that left a document stored without its reply
  size_t checked = 0;   // confirmed documents compared, all checks together
};

class PowerCutTest : public testing::Test {
 protected:
  void SetUp() override {
    const unsigned seed = static_cast<unsigned>(EnvNumber("FR_POWER_SEED", static_cast<long>(time(nullptr))));
    rng_.seed(seed);
    std::cout << "seed " << seed << " (FR_POWER_SEED)" << std::endl;
    // Without the device's pauses many documents fit between two cuts.
    ASSERT_TRUE(StartWithoutPauses(&rig_));
    env_ = platform::NewSandboxEnv(rig_.sandbox().dir());
  }

  int Rand(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  int64_t Rand64(int64_t lo, int64_t hi) { return std::uniform_int_distribution<int64_t>(lo, hi)(rng_); }

  // ---- the host line ---------------------------------------------------------

  // One request and its reply. False when no reply came: after a cut, or
  // (a failure) when the device stopped answering by itself.
  bool Call(uint8_t command, const std::string& data, host::Reply* reply) {
    if (cut_) return false;
    const uint32_t id = ++id_;
    last_request_ = command;
    if (!rig_.host().Send(host::EncodeRequest(command, id, data))) {
      cut_ = true;
      return false;
    }
    if (IsClose(command)) {
      std::lock_guard<std::mutex> lock(mu_);
      ++closes_;
      close_sent_.notify_all();
    }
    std::string frame;
    const auto start = Clock::now();
    auto last_data = start;
    Clock::time_point seen_cut;
    bool cut_seen = false;
    for (;;) {
      size_t used = 0;
      const host::ParseStatus parsed = host::ParseFrame(frame, &used, reply);
      if (parsed == host::ParseStatus::kComplete) break;
      if (parsed == host::ParseStatus::kBad) {
        ADD_FAILURE() << "bad reply frame to command " << int(command) << ": " << util::HexUpper(frame);
        cut_ = true;
        return false;
      }
      const std::string chunk = rig_.host().ReadRaw(host::MissingBytes(frame), 20);
      if (!chunk.empty()) last_data = Clock::now();
      frame += chunk;
      const auto now = Clock::now();
      if (killed_.load()) {
        if (!cut_seen) seen_cut = now, cut_seen = true;
        if (now - std::max(seen_cut, last_data) > std::chrono::milliseconds(kCutGraceMs)) {
          cut_ = true;
          return false;
        }
      } else if (now - start > std::chrono::milliseconds(kReplyTimeoutMs)) {
        ADD_FAILURE() << "no reply to command " << int(command) << " and no cut";
        cut_ = true;
        return false;
      }
    }
    if (!reply->has_id || reply->id != id) {
      ADD_FAILURE() << "reply " << reply->id << " to request " << id;
      cut_ = true;
      return false;
    }
    return true;
  }

  static bool IsClose(uint8_t command) {
    return command == cmd::kCloseRegistration || command == cmd::kCloseShiftOpen || command == cmd::kCloseShiftClose ||
           command == cmd::kCloseReceipt || command == cmd::kCloseCashIn || command == cmd::kCloseCashOut;
  }

  // Kills the device `delay_us` after the `closes`-th close from now, or
  // after `delay_us` alone when `closes` is 0.
  std::thread Killer(pid_t pid, int closes, int delay_us) {
    uint64_t target = 0;
    {
      std::lock_guard<std::mutex> lock(mu_);
      target = closes_ + static_cast<uint64_t>(closes);
    }
    return std::thread([this, pid, target, delay_us] {
      {
        std::unique_lock<std::mutex> lock(mu_);
        // A host that stopped sending closes has failed already: cut anyway.
        close_sent_.wait_for(lock, std::chrono::seconds(10), [&] { return closes_ >= target; });
      }
      std::this_thread::sleep_for(std::chrono::microseconds(delay_us));
      kill(pid, SIGKILL);
      killed_ = true;
    });
  }

  // A request that must succeed: false after a cut or a refusal (a failure).
  bool Ok(uint8_t command, const std::string& data, host::Reply* reply = nullptr) {
    host::Reply r;
    if (!Call(command, data, &r)) return false;
    if (reply != nullptr) *reply = r;
    if (r.code == 0) return true;
    ADD_FAILURE() << "command " << int(command) << " refused with " << r.code << " data "
                  << util::HexUpper(r.data);
    refused_ = true;
    return false;
  }

  // ---- documents -------------------------------------------------------------

  // A document time later than the last one, whatever the real clock says.
  bool SetClock() {
    const uint32_t target = std::max<uint32_t>(last_time_ + 1, static_cast<uint32_t>(time(nullptr)));
    return Ok(4, Prefix() + U32(target));
  }

  // Records a close reply: number and time, and the shift number for all
  // but the registration. *out, when given, gets the whole decoded reply.
  bool Closed(const host::Reply& r, Confirmed c, host::CloseReply* out = nullptr) {
    host::CloseReply closed;
    if (!host::DecodeCloseReply(r.data, &closed) || (c.type != 1 && !closed.has_shift)) {
      ADD_FAILURE() << "close reply " << util::HexUpper(r.data);
      return false;
    }
    if (out != nullptr) *out = closed;
    c.number = closed.number;
    c.time = closed.time;
    if (c.type != 1) c.shift = closed.shift;
    EXPECT_EQ(last_number_ + 1, c.number) << "document numbers from the close replies";
    EXPECT_GT(c.time, last_time_);
    last_number_ = c.number;
    last_time_ = c.time;
    confirmed_[c.number] = c;
    return true;
  }

  bool Register() {
    host::Reply r;
    if (!Ok(63, Prefix() + kSerial) || !SetClock() || !Ok(8, Prefix() + Named())) return false;
    for (const std::string& e : {Tlv(11048, Cp(kHeader[0])), Tlv(11187, Cp(kHeader[1])),
                                 Tlv(11009, Cp(kHeader[2])), TaxRate(0, 1, 2000, kTaxNames[0]),
                                 TaxRate(1, 1, 1000, kTaxNames[1])}) {
      if (!Ok(7, e)) return false;
    }
    if (!Ok(9, kInn + std::string(2, '\0') + kFn, &r)) return false;
    Confirmed c;
    c.type = 1;
    return Closed(r, c);
  }

  bool OpenShift() {
    host::Reply r;
    if (!SetClock() || !Ok(17, Prefix() + Named()) || !Ok(18, "", &r)) return false;
    Confirmed c;
    c.type = 7;
    if (!Closed(r, c)) return false;
    shift_open_ = true;
    return true;
  }

  bool CloseShift() {
    host::Reply r;
    if (!SetClock() || !Ok(19, Prefix() + Named()) || !Ok(20, "", &r)) return false;
    Confirmed c;
    c.type = 2;
    if (!Closed(r, c)) return false;
    shift_open_ = false;
    return true;
  }

  bool Cash(bool in, int64_t amount) {
    host::Reply r;
    if (!SetClock() || !Ok(in ? 162 : 164, Prefix() + Named()) || !Ok(in ? 163 : 165, U64(amount), &r)) {
      return false;
    }
    Confirmed c;
    c.type = in ? 5 : 6;
    c.amount = amount;
    host::CloseReply closed;
    if (!Closed(r, c, &closed)) return false;
    drawer_ = in ? drawer_ + amount : std::max<int64_t>(0, drawer_ - amount);
    EXPECT_TRUE(closed.has_drawer) << "close reply " << util::HexUpper(r.data);
    EXPECT_EQ(drawer_, closed.drawer) << "drawer in the reply";
    return true;
  }

  std::string RandomLine() {
    const uint8_t places = static_cast<uint8_t>(Rand(0, 3));
    const int64_t price = Rand64(1, 200000);
    static const int kScale[] = {1, 10, 100, 1000};
    const int64_t quantity = Rand(1, 5 * kScale[places]);
    std::string inner = Tlv(11030, Cp("Товар ") + std::to_string(Rand(1, 999))) + Tlv(11079, Vln(price)) +
                        Tlv(11023, U8(places) + Vln(quantity)) + Tlv(11199, U8(static_cast<uint8_t>(Rand(1, 2)))) +
                        Tlv(11301, U8(static_cast<uint8_t>(Rand(1, 20))));
    const int discount = Rand(0, 9);
    if (discount == 0) inner += Tlv(11303, U8(1));  // 10 %
    if (discount == 1 && places == 0) inner += Tlv(11304, Vln(Rand64(1, price * quantity / 2 + 1)));
    return Tlv(11059, inner);
  }

  bool Receipt() {
    // Sale, purchase, sale return, purchase return; purchases pay out of the drawer.
    static const uint8_t kTypes[] = {0, 0, 0, 0, 0, 1, 2, 2, 3};
    const uint8_t type = kTypes[Rand(0, sizeof(kTypes) - 1)];
    const bool incoming = type == 0 || type == 2;
    if (!incoming && drawer_ == 0) return true;  // nothing to pay with
    host::Reply r;
    if (!SetClock() || !Ok(21, Prefix() + U8(type) + Named())) return false;
    for (int i = Rand(1, 4); i > 0; --i) {
      if (!Ok(7, RandomLine())) return false;
    }
    if (!Ok(176, "", &r)) return false;
    host::DocumentState state;
    if (!host::DecodeDocumentState(r.data, &state) || !state.is_receipt) {
      ADD_FAILURE() << "state " << util::HexUpper(r.data);
      return false;
    }
    const int64_t total = state.total;
    int64_t cash = 0, cashless = 0;
    if (incoming) {
      switch (Rand(0, 3)) {
        case 0:
          break;  // both 0: all in cash
        case 1:
          cashless = total;
          break;
        case 2:
          cashless = Rand64(0, total);
          cash = total - cashless;
          break;
        default:
          cashless = Rand64(0, total);
          cash = total - cashless + Rand64(0, 10000);  // with change
          break;
      }
    } else {
      cash = Rand64(0, std::min(total, drawer_));
      cashless = total - cash;
    }
    if (!Ok(22, U64(cash) + U64(cashless), &r)) return false;
    host::CloseReply closed;
    if (!host::DecodeCloseReply(r.data, &closed) || !closed.is_receipt) {
      ADD_FAILURE() << "receipt close reply " << util::HexUpper(r.data);
      return false;
    }
    Confirmed c;
    c.type = 3;
    c.receipt_type = type;
    c.total = closed.total;
    const int64_t change = closed.change;
    EXPECT_EQ(total, c.total);
    if (cash == 0 && cashless == 0) cash = total;
    c.cash = incoming ? cash - change : cash;
    c.cashless = cashless;
    if (!Closed(r, c)) return false;
    drawer_ = incoming ? drawer_ + c.cash : drawer_ - std::min(drawer_, c.cash);
    return true;
  }

  // One document of the day; false after a cut.
  bool NextDocument() {
    if (!shift_open_) return OpenShift();
    const int pick = Rand(0, 99);
    if (pick < 65) return Receipt();
    if (pick < 80) return Cash(true, Rand64(1, 500000));
    if (pick < 92) return drawer_ == 0 || Cash(false, Rand64(1, drawer_));
    // The drawer must be empty before the shift closes.
    return drawer_ == 0 ? CloseShift() : Cash(false, drawer_);
  }

  // ---- after a cut -----------------------------------------------------------

  // Checks the archive, the confirmed documents and the status, then takes
  // the host's view of the day from the device. False when something is wrong.
  bool CheckAfterStart(const std::string& when) {
    const sim::ArchiveCheck check = sim::CheckArchive(env_.get());
    EXPECT_TRUE(check.ok()) << when << ": the archive is not consistent:\n" << check.Text();
    // A store cut short is settled at start-up: no recovery record is left.
    std::string magic(4, '\0');
    auto file = env_->OpenFile(sim::kArchivePath, "r");
    EXPECT_TRUE(file && file->Seek(archive::kRecoveryOffset) && file->Read(&magic[0], 4) == 4 &&
                magic == std::string(4, '\0'))
        << when << ": recovery record still pending, magic " << util::HexUpper(magic);
    const sim::ArchiveSummary& s = check.summary;
    bool ok = check.ok();
    for (const auto& kv : confirmed_) {
      const Confirmed& want = kv.second;
      if (want.number > s.documents.size()) {
        ADD_FAILURE() << when << ": confirmed document " << want.number << " is not stored (last "
                      << s.last_number << ")";
        ok = false;
        continue;
      }
      const sim::StoredDocument& got = s.documents[want.number - 1];
      const bool same = got.number == want.number && got.type == want.type && got.time == want.time &&
                        (want.type == 1 || got.shift == want.shift) && got.receipt_type == want.receipt_type &&
                        got.total == want.total && got.cash == want.cash && got.cashless == want.cashless &&
                        got.amount == want.amount;
      EXPECT_TRUE(same) << when << ": document " << want.number << " stored as type " << int(got.type)
                        << " time " << got.time << " total " << got.total << " cash " << got.cash
                        << " cashless " << got.cashless << " amount " << got.amount << ", confirmed as type "
                        << int(want.type) << " time " << want.time << " total " << want.total << " cash "
                        << want.cash << " cashless " << want.cashless << " amount " << want.amount;
      ok = ok && same;
      ++counts_.checked;
    }
    if (s.last_number > last_number_ + 1) {
      ADD_FAILURE() << when << ": " << s.last_number - last_number_ << " documents stored after the last confirmed "
                    << last_number_ << ", at most one was in flight";
      ok = false;
    }
    if (s.last_number > last_number_) ++counts_.stores_cut;

    host::Reply r48, r16;
    host::DeviceStatus device;
    host::ShiftStatus shift;
    if (!Ok(48, "", &r48) || !Ok(16, "", &r16) || !host::DecodeDeviceStatus(r48.data, &device) ||
        !host::DecodeShiftStatus(r16.data, &shift)) {
      ADD_FAILURE() << when << ": status records " << util::HexUpper(r48.data) << " / " << util::HexUpper(r16.data);
      return false;
    }
    const uint32_t last_time = s.documents.empty() ? 0 : s.documents.back().time;
    EXPECT_EQ(s.last_number, device.last_document) << when << ": 48 last document";
    EXPECT_EQ(last_time, static_cast<uint32_t>(device.last_time)) << when << ": 48 last document time";
    EXPECT_EQ(s.shift_number, device.shift) << when << ": 48 shift";
    EXPECT_EQ(s.shift.receiptCount(), device.receipts) << when << ": 48 receipts";
    EXPECT_EQ(s.shift_open, shift.open) << when << ": 16 shift open";
    EXPECT_EQ(s.shift_number, shift.shift) << when << ": 16 shift";
    EXPECT_EQ(s.shift.receiptCount(), shift.receipts) << when << ": 16 receipts";
    EXPECT_EQ(s.shift_open_document, shift.open_document) << when << ": 16 shift open document";
    EXPECT_EQ(s.shift.cashInDrawer(), shift.drawer) << when << ": 16 drawer";
    ok = ok && !testing::Test::HasFailure();

    // The host goes on from what the device says.
    last_number_ = device.last_document;
    last_time_ = static_cast<uint32_t>(device.last_time);
    shift_open_ = shift.open;
    drawer_ = shift.drawer;
    return ok;
  }

  sim::Rig rig_{FR_CORE_PATH};
  std::unique_ptr<platform::Env> env_;  // the test's view of the sandbox
  std::mt19937_64 rng_;
  uint32_t id_ = 0;
  std::atomic<bool> killed_{false};
  std::mutex mu_;
  std::condition_variable close_sent_;
  uint64_t closes_ = 0;  // close commands sent; guarded by mu_
  bool cut_ = false;
  bool refused_ = false;
  uint8_t last_request_ = 0;

  uint32_t last_number_ = 0, last_time_ = 0;
  bool shift_open_ = false;
  int64_t drawer_ = 0;
  std::map<uint32_t, Confirmed> confirmed_;
  Counts counts_;
};

TEST_F(PowerCutTest, ConfirmedDocumentsSurviveEveryCut) {
  const int cuts = static_cast<int>(std::max(1L, EnvNumber("FR_POWER_CUTS", kDefaultCuts)));
  const auto started = Clock::now();
  ASSERT_TRUE(Register());
  ASSERT_TRUE(CheckAfterStart("after registration"));

  for (int i = 1; i <= cuts; ++i) {
    const bool aimed = i % 2 == 0;
    const int closes = aimed ? Rand(1, kMaxAimCloses) : 0;
    const int delay_us = aimed ? Rand(0, kMaxAimUs) : 1000 * Rand(kMinDelayMs, kMaxDelayMs);
    killed_ = false;
    cut_ = false;
    std::thread killer = Killer(rig_.process().pid(), closes, delay_us);
    while (NextDocument()) {
    }
    killer.join();  // the child is reaped only after the kill: its pid stays its own
    killed_ = false;
    ASSERT_FALSE(refused_) << "the device refused a document of the host before cut " << i;
    const int in_flight = last_request_;
    ++counts_.cuts;
    counts_.aimed += aimed ? 1 : 0;
    rig_.Stop();
    rig_.printer().Clear();
    ASSERT_TRUE(rig_.Start() && rig_.WaitReady()) << "no restart after cut " << i;
    cut_ = false;
    const std::string how = aimed ? std::to_string(delay_us) + " us after close " + std::to_string(closes)
                                  : std::to_string(delay_us / 1000) + " ms";
    ASSERT_TRUE(CheckAfterStart("after cut " + std::to_string(i) + " (" + how + ", during command " +
                                std::to_string(in_flight) + ")"));
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  // What start-up did with the stores the cuts interrupted.
  int kept = 0, rolled_back = 0;
  for (const std::string& line : rig_.process().StdoutLines()) {
    if (line.compare(0, 17, "STORAGE RECOVERY:") != 0) continue;
    kept += line.find(" KEPT") != std::string::npos;
    rolled_back += line.find(" ROLLED BACK") != std::string::npos;
  }
  std::cout << "power cuts survived: " << counts_.cuts << " (" << counts_.aimed << " aimed at a store)"
            << ", documents confirmed: " << confirmed_.size()
            << ", stored: " << last_number_ << ", cuts inside a store: " << counts_.stores_cut
            << ", confirmed documents checked: " << counts_.checked << ", stores recovered at start-up: " << kept
            << " kept, " << rolled_back << " rolled back, " << seconds << " s" << std::endl;
  RecordProperty("power_cuts", counts_.cuts);
  RecordProperty("documents_confirmed", static_cast<int>(confirmed_.size()));
  RecordProperty("documents_checked", static_cast<int>(counts_.checked));
  RecordProperty("stores_kept", kept);
  RecordProperty("stores_rolled_back", rolled_back);
}

}  // namespace
