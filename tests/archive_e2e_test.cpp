// The SD card and the archive of the real fr-core on a sandbox board.
#include <gtest/gtest.h>

#include <string>

#include "host/protocol.h"
#include "tools/sim/rig.h"

namespace {

const std::string kSetSerial = std::string("\x14\x1E\x00\x00\x00", 5) + "4200012345";

// The device status word, after giving the device a serial number.
uint16_t Flags(sim::Rig* rig) {
  host::Reply r;
  if (!rig->host().Request(63, 90, kSetSerial, &r)) return 0xFFFF;
  host::DeviceStatus status;
  if (!rig->host().Request(48, 91, "", &r) || r.code != 0 || !host::DecodeDeviceStatus(r.data, &status)) {
    return 0xFFFF;
  }
  return status.flags;
}

TEST(ArchiveLineTest, WithoutACardTheArchiveCommandsAnswer5) {
  sim::Rig rig(FR_CORE_PATH);
  ASSERT_TRUE(rig.Prepare(/*with_card=*/false));
  ASSERT_TRUE(rig.Start() && rig.WaitReady());
  EXPECT_TRUE(rig.process().WaitForStdout("NO SD CARD", 2000));
  for (uint8_t command : {54, 55, 56, 57}) {
    host::Reply r;
    ASSERT_TRUE(rig.host().Request(command, command, "", &r));
    EXPECT_EQ(5, r.code) << int(command);
    EXPECT_TRUE(r.data.empty());
  }
  const uint16_t flags = Flags(&rig);
  EXPECT_EQ(0, flags & 0x0011) << std::hex << flags;
}

TEST(ArchiveLineTest, MountFailureLeavesTheDeviceWithoutArchive) {
  sim::Rig rig(FR_CORE_PATH);
  ASSERT_TRUE(rig.Prepare());
  ASSERT_TRUE(rig.sandbox().SetMountFails(true));
  ASSERT_TRUE(rig.Start() && rig.WaitReady());
  EXPECT_TRUE(rig.process().WaitForStdout("SD CARD MOUNT ERROR", 2000));
  host::Reply r;
  ASSERT_TRUE(rig.host().Request(54, 1, "", &r));
  EXPECT_EQ(5, r.code);
}

TEST(ArchiveLineTest, NewArchiveAndItsTotals) {
  sim::Rig rig(FR_CORE_PATH);
  ASSERT_TRUE(rig.Prepare());
  ASSERT_TRUE(rig.Start() && rig.WaitReady());
  EXPECT_TRUE(rig.process().WaitForStdout("CREATE NEW STORAGE FILE ", 2000));
  std::string head;
  ASSERT_TRUE(rig.sandbox().ReadFile("/mnt/sd/V0XD24TX", &head));
  ASSERT_EQ(16777220u, head.size());
  EXPECT_EQ(std::string("\x03\x89\x23\xF4", 4), head.substr(0, 4));

  struct Case {
    uint8_t command;
    size_t size;
  };
  const Case cases[] = {{54, 406}, {55, 406}, {56, 238}, {57, 640}};
  for (const Case& c : cases) {
    host::Reply r;
    ASSERT_TRUE(rig.host().Request(c.command, c.command, "", &r));
    EXPECT_EQ(0, r.code) << int(c.command);
    EXPECT_EQ(c.size, r.data.size()) << int(c.command);
  }
  EXPECT_EQ(0x0011, Flags(&rig) & 0x0011);

  // A second start verifies the archive it finds.
  ASSERT_TRUE(rig.Restart() && rig.WaitReady());
  host::Reply r;
  ASSERT_TRUE(rig.host().Request(48, 2, "", &r));
  ASSERT_EQ(0, r.code);
  host::DeviceStatus status;
  ASSERT_TRUE(host::DecodeDeviceStatus(r.data, &status));
  EXPECT_EQ(0x0011, status.flags & 0x0011);
  int created = 0;
  for (const std::string& line : rig.process().StdoutLines()) created += line == "CREATE NEW STORAGE FILE ";
  EXPECT_EQ(1, created);
}

}  // namespace
