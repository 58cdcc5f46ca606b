// The host link reads the status records while the main thread writes them.
#include "app/core_link_state.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "app/codes.h"
#include "app/core_worker.h"
#include "app/fr_status.h"
#include "app/identity.h"
#include "app/status_format.h"
#include "link/host_link.h"
#include "platform/fake_env.h"
#include "host/host_line.h"
#include "host/protocol.h"
#include "tools/common/pty_pair.h"

namespace {

// A 64-bit value whose bytes are all equal: a torn copy would show.
int64_t Uniform(uint8_t b) { return static_cast<int64_t>(0x0101010101010101ull * b); }

TEST(CoreLinkStateTest, StatusQueriesWhileTheMainThreadWrites) {
  platform::FakeEnv env;
  sim::PtyPair pty;
  ASSERT_TRUE(pty.Open());
  ASSERT_TRUE(env.CreateDirectory("/dev"));
  ASSERT_EQ(0, symlink(pty.slave_name().c_str(), env.Resolve("/dev/ttyGS0").c_str()));

  CoreWorker worker(&env);
  worker.initialise();
  ModelData model;
  model.setSerialNumber("0123456789");
  model.setCheckValue(model.computeCheckValue(std::string(16, 'k')));
  CoreIdentity::replaceModelData(model);

  CoreLinkState state;
  HostLink link(&env, &state);
  std::thread link_thread([&link] { link.run(); });
  std::atomic<bool> stop{false};
  std::thread main_thread([&] {
    uint8_t b = 0;
    while (!stop) {
      worker.processOne();  // answers the printer poll of 48
      ++b;
      FrStatus::setCashInDrawer(Uniform(b));
      FrStatus::setShiftNumber(b);
      FrStatus::setFlag(FrStatus::kShiftOpen, (b & 1) != 0);
      FrStatus::setFlags(static_cast<uint16_t>(FrStatus::flags() ^ FrStatus::kPaperNearEnd));
    }
  });

  host::HostLine host(pty.master());
  for (uint32_t id = 1; id <= 60; ++id) {
    host::Reply r;
    const bool shift = (id % 2) == 0;
    ASSERT_TRUE(host.Request(shift ? cmd::kShiftStatus : cmd::kDeviceStatus, id, "", &r));
    ASSERT_EQ(rc::kOk, r.code);
    ASSERT_EQ(id, r.id);
    if (shift) {
      host::ShiftStatus s;
      ASSERT_TRUE(host::DecodeShiftStatus(r.data, &s));
      EXPECT_EQ(Uniform(static_cast<uint8_t>(s.drawer & 0xFF)), s.drawer);
    } else {
      host::DeviceStatus s;
      ASSERT_TRUE(host::DecodeDeviceStatus(r.data, &s));
      EXPECT_EQ("0123456789", s.serial);
      EXPECT_EQ(FrStatus::kConstant, s.constant);
    }
  }

  link.requestStop();
  pty.CloseMaster();
  link_thread.join();
  stop = true;
  main_thread.join();
  CoreIdentity::replaceModelData(ModelData());
}

TEST(CoreLinkStateTest, InvalidModelDataHidesEverything) {
  CoreIdentity::replaceModelData(ModelData());
  CoreLinkState state;
  std::string record, serial;
  EXPECT_FALSE(state.modelData(&record, &serial));
  CoreIdentity::storeDeviceKey("");
  EXPECT_EQ("", state.deviceKey());
  std::string field;
  EXPECT_FALSE(state.registrationField(1018, &field));
}

}  // namespace
