// Start-up on a misbehaving card and file system: every file operation of a
// first start and of a restart fails in turn. Start-up must finish, and the
// next undisturbed start must find every file whole and the archive sound.
#include <gtest/gtest.h>

#include "app/core_worker.h"
#include "app/fr_status.h"
#include "platform/fake_env.h"
#include "platform/fake_fault_env.h"
#include "storage/sd_card.h"
#include "tools/common/archive_check.h"
#include "util/crc.h"

namespace {

using platform::FaultEnv;

class StartUpFaultTest : public testing::Test {
 protected:
  // A fresh board with a card and an EEPROM holding only a key.
  void Fresh(platform::FakeEnv* env) {
    ASSERT_TRUE(env->CreateDirectory("/nv") && env->CreateDirectory("/mnt"));
    ASSERT_TRUE(env->WriteFile("/dev/mmcblk0p1", "card"));
    ASSERT_TRUE(env->WriteFile(platform::SandboxEnv::kFreeBytes, "1000000000"));
    std::string eeprom(4096, '\xFF');
    eeprom.replace(4080, 16, "start-up-faults!");
    ASSERT_TRUE(env->WriteFile("/sys/bus/i2c/devices/0-0050/eeprom", eeprom));
  }

  // The files a start leaves: path, size and CRC-32 of each.
  std::string Files(platform::FakeEnv* env) {
    std::string all, part;
    for (const char* path : {"/nv/CASHIERS", "/nv/SECTIONS", "/nv/DISCOUNTS", "/sys/bus/i2c/devices/0-0050/eeprom"}) {
      part.clear();
      env->ReadFile(path, &part);
      all += std::string(path) + " " + std::to_string(part.size()) + " " + std::to_string(util::Crc32(part)) + "\n";
    }
    return all;
  }

  // Starts a worker on `env`; true when the archive came up usable.
  bool Start(platform::Env* env) {
    FrStatus::reset();
    CoreWorker worker(env);
    worker.initialise();
    return FrStatus::testFlags(FrStatus::kArchiveUsable);
  }

  // Operations of one undisturbed start.
  std::vector<int> Counts(platform::FakeEnv* env) {
    FaultEnv faults(env);
    faults.Arm(FaultEnv::kWrite, -1, FaultEnv::Fault::kFail);
    Start(&faults);
    std::vector<int> counts;
    for (int op = 0; op < FaultEnv::kOpCount; ++op) counts.push_back(faults.count(static_cast<FaultEnv::Op>(op)));
    return counts;
  }
};

struct Kind {
  FaultEnv::Op op;
  FaultEnv::Fault fault;
};
const Kind kKinds[] = {
    {FaultEnv::kOpen, FaultEnv::Fault::kFail},    {FaultEnv::kSeek, FaultEnv::Fault::kFail},
    {FaultEnv::kRead, FaultEnv::Fault::kShort},   {FaultEnv::kRead, FaultEnv::Fault::kFail},
    {FaultEnv::kWrite, FaultEnv::Fault::kShort},  {FaultEnv::kWrite, FaultEnv::Fault::kFail},
    {FaultEnv::kWrite, FaultEnv::Fault::kNoSpace}, {FaultEnv::kFlush, FaultEnv::Fault::kFail},
};

TEST_F(StartUpFaultTest, RestartUnderEveryFaultLeavesTheFilesAsTheyWere) {
  platform::FakeEnv env;
  ASSERT_NO_FATAL_FAILURE(Fresh(&env));
  ASSERT_TRUE(Start(&env));
  const std::string files = Files(&env);
  const std::vector<int> counts = Counts(&env);
  int injected = 0;
  for (const Kind& kind : kKinds) {
    for (int nth = 0; nth < counts[kind.op]; ++nth) {
      FaultEnv faults(&env);
      faults.Arm(kind.op, nth, kind.fault);
      Start(&faults);
      if (!faults.fired()) continue;
      ++injected;
      ASSERT_TRUE(Start(&env)) << "op " << kind.op << " at " << nth;
      EXPECT_EQ(files, Files(&env)) << "op " << kind.op << " at " << nth;
    }
  }
  RecordProperty("startup_faults_injected", injected);
  EXPECT_GT(injected, 10);
  const sim::ArchiveCheck check = sim::CheckArchive(&env);
  EXPECT_TRUE(check.ok()) << check.Text();
}

TEST_F(StartUpFaultTest, FirstStartUnderEveryFaultIsMendedByTheNextStart) {
  std::vector<int> counts;
  std::string files;
  {
    platform::FakeEnv env;
    ASSERT_NO_FATAL_FAILURE(Fresh(&env));
    counts = Counts(&env);
    ASSERT_TRUE(Start(&env));
    files = Files(&env);
  }
  int injected = 0;
  for (const Kind& kind : kKinds) {
    for (int nth = 0; nth < counts[kind.op]; ++nth) {
      const std::string context = "op " + std::to_string(kind.op) + " at " + std::to_string(nth);
      platform::FakeEnv env;
      ASSERT_NO_FATAL_FAILURE(Fresh(&env));
      FaultEnv faults(&env);
      faults.Arm(kind.op, nth, kind.fault);
      Start(&faults);
      if (!faults.fired()) continue;
      ++injected;
      const bool usable = Start(&env);
      // A table or an archive the fault cut short must not pass for a good one.
      if (usable) {
        EXPECT_EQ(files, Files(&env)) << context;
        const sim::ArchiveCheck check = sim::CheckArchive(&env);
        EXPECT_TRUE(check.ok()) << context << "\n" << check.Text();
      } else {
        EXPECT_NE(0, FrStatus::readiness()) << context;
      }
    }
  }
  RecordProperty("first_start_faults_injected", injected);
  EXPECT_GT(injected, 10);
}

}  // namespace
