// Identity and tables of the real fr-core on a sandbox board.
#include <gtest/gtest.h>

#include <string>

#include "host/protocol.h"
#include "tools/sim/rig.h"
#include "util/coding.h"
#include "util/cp866.h"
#include "util/crc.h"

namespace {

const std::string kKey = std::string("\x10\x00\xFF\x7F key-of-16b", 16);
constexpr int32_t kServicePassword = 30;

std::string Prefix(uint8_t cashier, int32_t password) {
  std::string data(1, static_cast<char>(cashier));
  util::PutFixed32(&data, static_cast<uint32_t>(password));
  return data;
}

TEST(IdentityLineTest, KeySerialNumberAndModelData) {
  sim::Rig rig(FR_CORE_PATH);
  ASSERT_TRUE(rig.Prepare());
  std::string eeprom(4096, '\xFF');
  eeprom.replace(4080, 16, kKey);
  ASSERT_TRUE(rig.sandbox().WriteEeprom(eeprom));
  ASSERT_TRUE(rig.Start() && rig.WaitReady());
  auto& host = rig.host();
  host::Reply r;

  ASSERT_TRUE(host.Request(50, 1, "", &r));
  EXPECT_EQ(0, r.code);
  EXPECT_EQ(std::string("\x00\x00\x03\x3E\x00\x00\x00\x00\x00\x00\x00", 11) + kKey, r.data);

  ASSERT_TRUE(host.Request(49, 2, "", &r));
  EXPECT_EQ(13, r.code);  // no serial number yet
  ASSERT_TRUE(host.Request(68, 3, std::string("\x25\x2B", 2), &r));
  EXPECT_EQ(38, r.code);  // not registered
  ASSERT_TRUE(host.Request(68, 4, "\x25", &r));
  EXPECT_EQ(22, r.code);
  ASSERT_TRUE(host.Request(68, 5, std::string("\x25\x2B\x00", 3), &r));
  EXPECT_EQ(22, r.code);

  ASSERT_TRUE(host.Request(63, 6, Prefix(20, kServicePassword) + "4200012345", &r));
  EXPECT_EQ(0, r.code);
  ASSERT_TRUE(host.Request(49, 7, "", &r));
  ASSERT_EQ(0, r.code);
  host::ModelInfo model;
  ASSERT_TRUE(host::DecodeModelData(r.data, &model));
  EXPECT_EQ(33299, model.code);
  EXPECT_EQ("4200012345", model.serial);
  EXPECT_EQ(util::Utf8ToCp866("ЗЕЛТА-7ФК"), model.name);

  std::string stored;
  ASSERT_TRUE(rig.sandbox().ReadFile(sim::Sandbox::kEepromPath, &stored));
  EXPECT_EQ(r.data, stored.substr(0, 44));
  EXPECT_EQ(util::Crc32("33299" "4200012345" + kKey), util::GetFixed32(stored, 44));

  ASSERT_TRUE(host.Request(63, 8, Prefix(20, kServicePassword) + "4200012346", &r));
  EXPECT_EQ(24, r.code);

  // Status queries answer now that the model data is valid.
  ASSERT_TRUE(host.Request(48, 9, "", &r));
  EXPECT_EQ(0, r.code);
  host::DeviceStatus status;
  ASSERT_TRUE(host::DecodeDeviceStatus(r.data, &status));
  EXPECT_EQ("4200012345", status.serial);
  ASSERT_TRUE(host.Request(16, 10, "", &r));
  EXPECT_EQ(0, r.code);
  host::ShiftStatus shift;
  EXPECT_TRUE(host::DecodeShiftStatus(r.data, &shift));

  // The serial number survives a restart.
  ASSERT_TRUE(rig.Restart() && rig.WaitReady());
  ASSERT_TRUE(host.Request(49, 11, "", &r));
  EXPECT_EQ(0, r.code);
  ASSERT_TRUE(host::DecodeModelData(r.data, &model));
  EXPECT_EQ("4200012345", model.serial);
}

TEST(IdentityLineTest, BlankEepromGetsAKeyThatStays) {
  sim::Rig rig(FR_CORE_PATH);
  ASSERT_TRUE(rig.Prepare());  // blank EEPROM
  ASSERT_TRUE(rig.Start() && rig.WaitReady());
  host::Reply first, second;
  ASSERT_TRUE(rig.host().Request(50, 1, "", &first));
  ASSERT_EQ(0, first.code);
  std::string key;
  ASSERT_TRUE(host::DecodeDeviceKey(first.data, &key));
  EXPECT_NE(std::string(16, '\xFF'), key);
  std::string stored;
  ASSERT_TRUE(rig.sandbox().ReadFile(sim::Sandbox::kEepromPath, &stored));
  EXPECT_EQ(key, stored.substr(4080, 16));

  ASSERT_TRUE(rig.Restart() && rig.WaitReady());
  ASSERT_TRUE(rig.host().Request(50, 2, "", &second));
  EXPECT_EQ(first.data, second.data);
}

TEST(TablesLineTest, FirstStartCreatesTheTablesAndTheSecondKeepsThem) {
  sim::Rig rig(FR_CORE_PATH);
  ASSERT_TRUE(rig.Prepare());
  ASSERT_TRUE(rig.Start() && rig.WaitReady());
  struct File {
    const char* path;
    size_t size, record;
  };
  const File files[] = {{"/nv/CASHIERS", 5260, 263}, {"/nv/SECTIONS", 2560, 128},
                        {"/nv/DISCOUNTS", 2820, 141}};
  std::string before[3];
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(rig.sandbox().ReadFile(files[i].path, &before[i])) << files[i].path;
    ASSERT_EQ(files[i].size, before[i].size()) << files[i].path;
    for (size_t slot = 0; slot < 20; ++slot) {
      const std::string record = before[i].substr(slot * files[i].record, files[i].record);
      EXPECT_EQ(static_cast<char>(slot + 1), record[0]);
      if (i == 0 && slot == 19) continue;  // the service cashier
      EXPECT_EQ(std::string(files[i].record - 1, '\0'), record.substr(1)) << files[i].path << slot;
    }
  }
  const std::string service = before[0].substr(19 * 263, 263);
  EXPECT_EQ(0x03FF, util::GetFixed16(service, 1));
  EXPECT_GT(static_cast<int32_t>(util::GetFixed32(service, 3)), 0);
  EXPECT_EQ(util::Utf8ToCp866("ЦТО") + std::string(253, '\0'), service.substr(7));

  ASSERT_TRUE(rig.Restart() && rig.WaitReady());
  for (int i = 0; i < 3; ++i) {
    std::string after;
    ASSERT_TRUE(rig.sandbox().ReadFile(files[i].path, &after));
    EXPECT_EQ(before[i], after) << files[i].path;
  }
}

}  // namespace
