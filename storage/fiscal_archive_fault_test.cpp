// The archive under a failing card and under power cuts. Every file
// operation of a store is made to fail in turn (and the power is cut at
// every write of it); afterwards the archive must hold either the state
// before the store or the state after an undisturbed one, byte for byte in
// everything that counts, and the store's answer must say which.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/fake_fault_env.h"
#include "platform/fake_power_env.h"
#include "storage/archive_format.h"
#include "storage/archive_test_fixture.h"
#include "tools/common/archive_check.h"

namespace {

using namespace archivetest;
using platform::FaultEnv;
using platform::PowerLossEnv;

// The parts of the archive file a store may touch, as bytes.
struct Image {
  uint32_t documents = 0;
  std::string index;     // descriptors 1..documents
  std::string header;    // the header state a store rewrites
  std::string recovery;  // the recovery record's magic
  std::string data;      // data blocks up to the end of the file
  uint64_t size = 0;
  std::string eeprom;

  bool SameStored(const Image& o) const {
    return documents == o.documents && index == o.index && header == o.header &&
           data.compare(0, o.data.size(), o.data) == 0;
  }
};

std::string ReadRange(const std::string& file, uint64_t offset, size_t n) {
  std::ifstream in(file, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset));
  std::string out(n, '\0');
  in.read(&out[0], static_cast<std::streamsize>(n));
  out.resize(static_cast<size_t>(in.gcount()));
  return out;
}

void WriteRange(const std::string& file, uint64_t offset, const std::string& bytes) {
  std::fstream out(file, std::ios::binary | std::ios::in | std::ios::out);
  out.seekp(static_cast<std::streamoff>(offset));
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

using Maker = std::function<std::unique_ptr<BaseWorkDocument>()>;

struct Step {
  const char* what;
  Maker make;
};

class ArchiveFaultTest : public ArchiveTest {
 protected:
  void SetUp() override {
    ArchiveTest::SetUp();
    env_.set_now(1750000000);
    archive_.reset();  // the tests open their own, over the failing board
  }

  std::string File() { return env_.Resolve(kPath); }

  Image Take() {
    Image im;
    const std::string file = File();
    im.size = std::filesystem::file_size(file);
    const std::string last = ReadRange(file, archive::kLastDocumentOffset, 64);
    im.documents = util::DecodeFixed32(reinterpret_cast<const uint8_t*>(last.data()) + 1);
    im.index = ReadRange(file, archive::kIndexOffset, im.documents * archive::kDescriptorSize);
    im.header = ReadRange(file, archive::kHeaderStateOffset, archive::kHeaderStateSize);
    im.recovery = ReadRange(file, archive::kRecoveryOffset, 4);
    im.data = ReadRange(file, archive::kDataOffset, static_cast<size_t>(im.size - archive::kDataOffset));
    env_.ReadFile(eeprom::kPath, &im.eeprom);
    return im;
  }

  // Puts back everything a store may have changed.
  void Restore(const Image& im) {
    const std::string file = File();
    WriteRange(file, archive::kIndexOffset, im.index);
    WriteRange(file, archive::kHeaderStateOffset, im.header);
    WriteRange(file, archive::kRecoveryOffset, std::string(4, '\0'));
    std::filesystem::resize_file(file, archive::kDataOffset);
    WriteRange(file, archive::kDataOffset, im.data);
    env_.WriteFile(eeprom::kPath, im.eeprom);
  }

  void Publish() {
    FiscalArchive a(&env_, kPath);
    ASSERT_TRUE(a.createOrVerify());
    a.publish();
  }

  // A restart: a new archive object on the plain board runs start-up.
  Image Restart() {
    FiscalArchive fresh(&env_, kPath);
    EXPECT_TRUE(fresh.createOrVerify());
    fresh.close();
    return Take();
  }

  void ExpectConsistent(const std::string& context) {
    const sim::ArchiveCheck check = sim::CheckArchive(&env_, kPath);
    EXPECT_TRUE(check.ok()) << context << "\n" << check.Text();
  }

  // What a start publishes from the archive agrees with what its documents
  // add up to. Leaves the status as a start on the archive as it is now.
  void ExpectPublishedAgrees(const std::string& context) {
    FrStatus::reset();
    Publish();
    const sim::ArchiveSummary sum = sim::CheckArchive(&env_, kPath).summary;
    EXPECT_EQ(sum.last_number, FrStatus::lastDocumentNumber()) << context;
    EXPECT_EQ(sum.shift_number, FrStatus::shiftNumber()) << context;
    EXPECT_EQ(sum.shift_open, FrStatus::testFlags(FrStatus::kShiftOpen)) << context;
    if (sum.shift_number != 0) {
      EXPECT_EQ(sum.shift.cashInDrawer(), FrStatus::cashInDrawer()) << context;
      EXPECT_EQ(sum.shift.receiptCount(), FrStatus::receiptsInShift()) << context;
    }
  }

  // The steps of a small day: each stored in turn, faults tried on each.
  std::vector<Step> Day() {
    return {
        {"registration", [this] { return Registration(); }},
        {"shift open", [this] { return ShiftOpening(); }},
        {"cash in", [this] { return CashDocument(doc::kCashIn, 5000); }},
        {"sale", [this] { return Receipt(0, 12345, 10000, 2345); }},
        {"return", [this] { return Receipt(1, 2000, 0, 2000); }},
        {"cash out", [this] { return CashDocument(doc::kCashOut, 12000); }},
        {"shift close", [this] { return ShiftClosing(); }},
    };
  }

  std::unique_ptr<BaseWorkDocument> ShiftClosing() {
    auto d = std::make_unique<CloseCycleDoc>(&env_, CoreIdentity::modelData(), CoreIdentity::regData(), Clerk());
    uint16_t missing = 0;
    d->setCashierName(kNameData);
    if (d->close(Now(), kKey, "", &missing) != rc::kOk) return nullptr;
    return d;
  }

  // Runs every step; `attack(step, before, after)` tries its faults with
  // the archive at `before`, and must leave it at `after`'s state.
  void ForEachStep(const std::function<void(const Step&, const Image&, const Image&)>& attack) {
    Publish();
    for (const Step& step : Day()) {
      env_.set_now(env_.Now() + 10);
      const Image before = Take();
      const RegData reg_before = CoreIdentity::regData();

      {
        FiscalArchive a(&env_, kPath);
        ASSERT_TRUE(a.createOrVerify());
        std::unique_ptr<BaseWorkDocument> d = step.make();
        ASSERT_NE(nullptr, d) << step.what;
        ASSERT_EQ(rc::kOk, a.store(d.get())) << step.what;
      }
      const Image after = Take();
      const RegData reg_after = CoreIdentity::regData();

      ASSERT_EQ(before.documents + 1, after.documents);
      ExpectConsistent(step.what);

      Restore(before);
      CoreIdentity::replaceRegData(reg_before);
      Publish();  // documents take their shift and receipt numbers from the status
      attack(step, before, after);
      if (HasFatalFailure()) return;
      Restore(after);
      CoreIdentity::replaceRegData(reg_after);
      Publish();
    }
  }

  // How many times the store of a step performs each operation.
  std::vector<int> Counts(const Step& step) {
    FaultEnv faults(&env_);
    FiscalArchive a(&faults, kPath);
    EXPECT_TRUE(a.createOrVerify());
    faults.Arm(FaultEnv::kWrite, -1, FaultEnv::Fault::kFail, "/mnt/sd/");  // counts only
    std::unique_ptr<BaseWorkDocument> d = step.make();
    EXPECT_EQ(rc::kOk, a.store(d.get()));
    std::vector<int> counts;
    for (int op = 0; op < FaultEnv::kOpCount; ++op) counts.push_back(faults.count(static_cast<FaultEnv::Op>(op)));
    return counts;
  }
};

TEST_F(ArchiveFaultTest, EveryFailingOperationOfAStoreLeavesBeforeOrAfter) {
  struct Kind {
    FaultEnv::Op op;
    FaultEnv::Fault fault;
  };
  const Kind kinds[] = {
      {FaultEnv::kOpen, FaultEnv::Fault::kFail},   {FaultEnv::kSeek, FaultEnv::Fault::kFail},
      {FaultEnv::kRead, FaultEnv::Fault::kShort},  {FaultEnv::kRead, FaultEnv::Fault::kFail},
      {FaultEnv::kWrite, FaultEnv::Fault::kShort}, {FaultEnv::kWrite, FaultEnv::Fault::kFail},
      {FaultEnv::kWrite, FaultEnv::Fault::kNoSpace}, {FaultEnv::kFlush, FaultEnv::Fault::kFail},
      {FaultEnv::kSync, FaultEnv::Fault::kFail},
  };
  int injected = 0, refused = 0;
  ForEachStep([&](const Step& step, const Image& before, const Image& after) {
    const std::vector<int> counts = Counts(step);
    Restore(before);
    for (const Kind& kind : kinds) {
      // Opens happen at start-up, not in a store; the store reopens after a failure.
      const int n = kind.op == FaultEnv::kOpen ? 1 : counts[kind.op];
      for (int nth = 0; nth < n; ++nth) {
        const std::string context = std::string(step.what) + " op " + std::to_string(kind.op) + " fault " +
                                    std::to_string(static_cast<int>(kind.fault)) + " at " + std::to_string(nth);
        FaultEnv faults(&env_);
        auto a = std::make_unique<FiscalArchive>(&faults, kPath);
        ASSERT_TRUE(a->createOrVerify()) << context;
        if (kind.op == FaultEnv::kOpen) a->close();  // the store must open the file itself
        faults.Arm(kind.op, nth, kind.fault, "/mnt/sd/");
        std::unique_ptr<BaseWorkDocument> d = step.make();
        const int code = a->store(d.get());
        ASSERT_TRUE(faults.fired()) << context;
        ++injected;
        // The answer tells the truth about the file, before any restart.
        const Image now = Take();
        // A full card cannot take the roll-back either: the record stays
        // pending and the archive reads nothing until it is settled.
        const bool pending = now.recovery != std::string(4, '\0') && code != rc::kOk;
        if (pending) {
          EXPECT_EQ(FaultEnv::Fault::kNoSpace, kind.fault) << context;
          ShiftCounters c;
          EXPECT_FALSE(a->readShiftCounters(&c)) << context;
        } else {
          EXPECT_TRUE(now.SameStored(code == rc::kOk ? after : before)) << context << " code " << code;
        }
        if (code != rc::kOk) {
          ++refused;
          EXPECT_EQ(rc::kArchiveUnusable, code) << context;
          // The same process stores the document once the card behaves.
          faults.Disarm();
          std::unique_ptr<BaseWorkDocument> again = step.make();
          EXPECT_EQ(rc::kOk, a->store(again.get())) << context;
        }
        a.reset();
        const Image restarted = Restart();
        EXPECT_TRUE(restarted.SameStored(after)) << context << " code " << code << " docs " << restarted.documents
                                                 << " index " << (restarted.index == after.index) << " header "
                                                 << (restarted.header == after.header);
        ExpectConsistent(context);
        Restore(before);
      }
    }
  });
  RecordProperty("faults_injected", injected);
  RecordProperty("stores_refused", refused);
  EXPECT_GT(injected, 300);
  EXPECT_GT(refused, 0);
}

TEST_F(ArchiveFaultTest, PowerCutAtEveryWriteOfAStoreRecoversToBeforeOrAfter) {
  int cuts = 0, kept = 0;
  ForEachStep([&](const Step& step, const Image& before, const Image& after) {
    const int writes = Counts(step)[FaultEnv::kWrite];
    Restore(before);
    ASSERT_GT(writes, 4) << step.what;
    for (int nth = 0; nth < writes; ++nth) {
      const std::string context = std::string(step.what) + " cut at write " + std::to_string(nth);
      const RegData reg_before = CoreIdentity::regData();
      {
        FaultEnv faults(&env_);
        FiscalArchive a(&faults, kPath);
        ASSERT_TRUE(a.createOrVerify()) << context;
        faults.Arm(FaultEnv::kWrite, nth, FaultEnv::Fault::kCut, "/mnt/sd/");
        std::unique_ptr<BaseWorkDocument> d = step.make();
        a.store(d.get());  // whatever it says, nobody hears it
        ASSERT_TRUE(faults.fired()) << context;
      }
      ++cuts;
      // The register restarts with what memory held at power-on.
      CoreIdentity::replaceRegData(reg_before);
      const Image recovered = Restart();
      const bool stored = recovered.SameStored(after);
      EXPECT_TRUE(stored || recovered.SameStored(before)) << context;
      EXPECT_NE("RCV1", recovered.recovery) << context;  // a torn clear is no record either
      // A kept registration reaches the EEPROM too, a lost one does not.
      EXPECT_EQ(stored ? after.eeprom : before.eeprom, recovered.eeprom) << context;
      ExpectConsistent(context);
      kept += stored;
      Restore(before);
      CoreIdentity::replaceRegData(reg_before);
    }
  });
  RecordProperty("power_cuts", cuts);
  RecordProperty("documents_kept", kept);
  EXPECT_GT(cuts, 50);
  EXPECT_GT(kept, 0);
  EXPECT_LT(kept, cuts);
}

// As above, but the power goes as on hardware: after every operation of a
// store, whatever was written and not yet synced is lost, wholly or up to a
// point. A store whose answer got out (it ran to its end) must be there.
TEST_F(ArchiveFaultTest, PowerLossAfterEveryOperationKeepsBeforeOrAfterAndWhatWasAnswered) {
  int cuts = 0, kept = 0;
  ForEachStep([&](const Step& step, const Image& before, const Image& after) {
    int ops = 0;
    {
      PowerLossEnv power(&env_, "/mnt/sd/");
      FiscalArchive a(&power, kPath);
      ASSERT_TRUE(a.createOrVerify());
      power.CutAfter(-1);  // counts only
      std::unique_ptr<BaseWorkDocument> d = step.make();
      ASSERT_EQ(rc::kOk, a.store(d.get())) << step.what;
      ops = power.ops();
    }
    Restore(before);
    for (const uint32_t seed : {0u, 7u}) {
      for (int nth = 0; nth <= ops; ++nth) {
        const std::string context = std::string(step.what) + " power lost after operation " + std::to_string(nth) +
                                    (seed ? " (some unsynced writes kept)" : "");
        const RegData reg_before = CoreIdentity::regData();
        bool answered = false;
        {
          PowerLossEnv power(&env_, "/mnt/sd/");
          {
            FiscalArchive a(&power, kPath);
            ASSERT_TRUE(a.createOrVerify()) << context;
            power.CutAfter(nth);
            std::unique_ptr<BaseWorkDocument> d = step.make();
            answered = a.store(d.get()) == rc::kOk && !power.cut();
          }
          power.LoseUnsynced(seed == 0 ? 0 : seed + static_cast<uint32_t>(nth));
        }
        ++cuts;
        CoreIdentity::replaceRegData(reg_before);
        const Image recovered = Restart();
        const bool stored = recovered.SameStored(after);
        EXPECT_TRUE(stored || recovered.SameStored(before)) << context;
        if (answered) {
          EXPECT_TRUE(stored) << context << ": answered 0, then lost";
        }
        ExpectConsistent(context);
        ExpectPublishedAgrees(context);
        kept += stored;
        Restore(before);
        CoreIdentity::replaceRegData(reg_before);
        FrStatus::reset();
        Publish();
      }
    }
  });
  RecordProperty("power_losses", cuts);
  RecordProperty("documents_kept", kept);
  EXPECT_GT(kept, 0);
  EXPECT_LT(kept, cuts);
}

// A recovery record whose check fails was cut while it was written, before
// the header changed: start-up drops it and applies none of it.
TEST_F(ArchiveFaultTest, ARecoveryRecordThatDoesNotCheckIsDropped) {
  ForEachStep([](const Step&, const Image&, const Image&) {});
  const Image day = Take();
  std::string record = "RCV1" + std::string(4, '\x55') + std::string(4, '\0');
  record += std::string(archive::kHeaderStateSize, '\x77');  // would wreck the header if applied
  WriteRange(File(), archive::kRecoveryOffset, record);
  env_.ClearLines();
  const Image after = Restart();
  EXPECT_TRUE(after.SameStored(day));
  EXPECT_EQ(std::string(4, '\0'), after.recovery);
  for (const std::string& line : env_.lines()) EXPECT_EQ(std::string::npos, line.find("RECOVERY")) << line;
  ExpectConsistent("after the dropped record");
}

// The archive keeps 50 registrations; one more is refused and leaves the
// archive as it was.
TEST_F(ArchiveFaultTest, ARegistrationBeyondTheListIsRefused) {
  ForEachStep([](const Step&, const Image&, const Image&) {});
  WriteRange(File(), archive::kRegistrationCountOffset, std::string(1, static_cast<char>(archive::kRegistrationListSize)));
  const Image full = Take();
  const RegData reg_before = CoreIdentity::regData();
  {
    FiscalArchive a(&env_, kPath);
    ASSERT_TRUE(a.createOrVerify());
    env_.set_now(env_.Now() + 10);
    std::unique_ptr<BaseWorkDocument> d = Registration();
    ASSERT_NE(nullptr, d);
    EXPECT_EQ(rc::kArchiveUnusable, a.store(d.get()));
  }
  CoreIdentity::replaceRegData(reg_before);
  EXPECT_TRUE(Restart().SameStored(full));
  EXPECT_EQ(std::string(1, static_cast<char>(archive::kRegistrationListSize)),
            ReadRange(File(), archive::kRegistrationCountOffset, 1));
}

// A second registration starts the totals since registration again, and the
// documents before it stay filed under the first.
TEST_F(ArchiveFaultTest, ASecondRegistrationFilesWhatCameBeforeUnderTheFirst) {
  ForEachStep([](const Step&, const Image&, const Image&) {});
  FiscalArchive a(&env_, kPath);
  ASSERT_TRUE(a.createOrVerify());
  ShiftCounters since_first;
  ASSERT_TRUE(a.readRegistrationCounters(&since_first));
  ASSERT_GT(since_first.receiptCount(), 0u);
  env_.set_now(env_.Now() + 10);
  std::unique_ptr<BaseWorkDocument> d = Registration();
  ASSERT_NE(nullptr, d);
  ASSERT_EQ(rc::kOk, a.store(d.get()));
  ExpectConsistent("after the second registration");

  uint8_t count = 0;
  ASSERT_TRUE(a.readRegistrationCount(&count));
  EXPECT_EQ(2, count);
  ShiftCounters since_second;
  ASSERT_TRUE(a.readRegistrationCounters(&since_second));
  EXPECT_EQ(0u, since_second.receiptCount());
  std::shared_ptr<BaseWorkDocument> second, sale;
  ASSERT_EQ(rc::kOk, a.readDocument(8, &second));
  EXPECT_EQ(8u, second->fiscalisationNumber());
  ASSERT_EQ(rc::kOk, a.readDocument(4, &sale));  // a copy of the day's sale
  EXPECT_EQ(1u, sale->fiscalisationNumber());
}

TEST_F(ArchiveFaultTest, StartUpAndReadsUnderFaultsAnswerWithoutChangingTheArchive) {
  ForEachStep([](const Step&, const Image&, const Image&) {});  // a whole day stored
  const Image day = Take();
  ASSERT_EQ(7u, day.documents);
  struct Kind {
    FaultEnv::Op op;
    FaultEnv::Fault fault;
  };
  const Kind kinds[] = {{FaultEnv::kOpen, FaultEnv::Fault::kFail},
                        {FaultEnv::kSeek, FaultEnv::Fault::kFail},
                        {FaultEnv::kRead, FaultEnv::Fault::kShort},
                        {FaultEnv::kRead, FaultEnv::Fault::kFail}};
  for (const Kind& kind : kinds) {
    for (int nth = 0; nth < 40; ++nth) {
      const std::string context = "op " + std::to_string(kind.op) + " at " + std::to_string(nth);
      FaultEnv faults(&env_);
      faults.Arm(kind.op, nth, kind.fault, "/mnt/sd/");
      FiscalArchive a(&faults, kPath);
      const bool started = a.createOrVerify();
      a.publish();
      std::shared_ptr<BaseWorkDocument> back;
      const int code = a.readDocument(4, &back);
      ShiftCounters shift;
      const bool counters = a.readShiftCounters(&shift);
      if (!faults.fired()) {
        EXPECT_TRUE(started && code == rc::kOk && counters) << context;
        break;  // past the last operation of the run
      }
      // A read that failed says so; one that answered 0 rebuilt the real document.
      EXPECT_TRUE(code == rc::kOk || code == rc::kArchiveUnusable || code == rc::kNotFound) << context << " " << code;
      if (code == rc::kOk) {
        ASSERT_NE(nullptr, back);
        EXPECT_EQ(4u, back->documentNumber()) << context;
        EXPECT_TRUE(back->verifySign(kKey, "0123456789")) << context;
      }
      a.close();
      EXPECT_TRUE(Take().SameStored(day)) << context;
    }
  }
  ExpectConsistent("after the reads");
}

}  // namespace
