// Configuration commands of the real fr-core on a sandbox board.
#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "host/protocol.h"
#include "tools/common/print_decoder.h"
#include "tools/sim/rig.h"
#include "util/coding.h"

namespace {

const std::string kService = std::string("\x14\x1E\x00\x00\x00", 5);  // cashier 20, password 30

TEST(ConfigLineTest, ClockMovesOnlyInTheSandbox) {
  sim::Rig rig(FR_CORE_PATH);
  ASSERT_TRUE(rig.Prepare());
  ASSERT_TRUE(rig.Start() && rig.WaitReady());
  const uint32_t target = static_cast<uint32_t>(time(nullptr)) + 10 * 86400;
  std::string when;
  util::PutFixed32(&when, target);
  host::Reply r;
  ASSERT_TRUE(rig.host().Request(4, 1, kService + when, &r));
  ASSERT_EQ(0, r.code);
  uint32_t device = 0;
  ASSERT_TRUE(host::DecodeTime(r.data, &device));
  EXPECT_EQ(target, device);
  ASSERT_TRUE(rig.host().Request(3, 2, "", &r));
  ASSERT_EQ(0, r.code);
  ASSERT_TRUE(host::DecodeTime(r.data, &device));
  EXPECT_GE(device, target);
  EXPECT_LE(device, target + 60);
  // The machine's own clock did not move with it.
  EXPECT_LT(static_cast<uint32_t>(time(nullptr)), target - 86400);
  std::string offset;
  EXPECT_TRUE(rig.sandbox().ReadFile("/sandbox/clock-offset", &offset));
  // And the device keeps its clock across a restart.
  ASSERT_TRUE(rig.Restart() && rig.WaitReady());
  ASSERT_TRUE(rig.host().Request(3, 3, "", &r));
  ASSERT_TRUE(host::DecodeTime(r.data, &device));
  EXPECT_GE(device, target);
}

TEST(ConfigLineTest, WidthSettingThroughTheHost) {
  sim::Rig rig(FR_CORE_PATH);
  ASSERT_TRUE(rig.Prepare());
  ASSERT_TRUE(rig.Start() && rig.WaitReady());
  host::Reply r;
  ASSERT_TRUE(rig.host().Request(194, 1, kService + "\x01\x50", &r));
  ASSERT_EQ(0, r.code);
  ASSERT_TRUE(rig.host().Request(194, 2, kService + "\x02\x50", &r));
  EXPECT_EQ(20, r.code);
  ASSERT_TRUE(rig.Restart() && rig.WaitReady());
  ASSERT_TRUE(rig.host().Request(193, 3, kService + "\x01", &r));
  EXPECT_EQ(0, r.code);
  EXPECT_EQ("\x50", r.data);
  rig.printer().Clear();
  ASSERT_TRUE(rig.host().Request(195, 4, std::string("\x00\x01\x01\x00", 4) + "wide", &r));
  const std::vector<sim::PrintJob> jobs = sim::DecodePrintStream(rig.printer().received());
  ASSERT_EQ(1u, jobs.size());
  ASSERT_EQ(1u, jobs[0].lines.size());
  EXPECT_EQ("wide", jobs[0].lines[0].text);  // the printer centres in the wide layout
  EXPECT_EQ(1, jobs[0].lines[0].align);
}

}  // namespace
