// fr-host against a real fr-core: output forms, decoding and exit status.
#include <gtest/gtest.h>

#include <unistd.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "host/port_posix.h"
#include "tools/host/host_tool.h"
#include "tools/common/pty_pair.h"
#include "tools/sim/rig.h"

namespace {

struct Result {
  int status;
  std::string out, err;
};

class HostToolTest : public testing::Test {
 protected:
  // The rig keeps its host line's master to itself, so the test builds the
  // same setup with a line of its own that fr-host can be given.
  void SetUp() override {
    ASSERT_TRUE(rig_.Prepare());
    // A device key, so that registration can make its check value; section 1.
    std::string eeprom(4096, '\xFF');
    eeprom.replace(4080, 16, std::string("\x5A\x00\xC3\x11" "fiscal-key!!", 16));
    ASSERT_TRUE(rig_.sandbox().WriteEeprom(eeprom));
    std::string sections;
    for (int n = 1; n <= 20; ++n) {
      std::string rec(1, static_cast<char>(n));
      rec.resize(128, '\0');
      sections += rec;
    }
    ASSERT_TRUE(rig_.sandbox().WriteFile("/nv/SECTIONS", sections));
    ASSERT_TRUE(line_.Open());
    ASSERT_TRUE(line_.LinkAt(rig_.sandbox().Path(sim::Rig::kHostLine)));
    ASSERT_TRUE(rig_.Start());
    ASSERT_TRUE(WaitReady());
  }

  Result Run(std::vector<std::string> args) {
    args.insert(args.begin(), "fr-host");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    std::ostringstream out, err;
    const int status =
        hosttool::RunHostToolOn(host::DescriptorPort(line_.master()), static_cast<int>(argv.size()), argv.data(), out, err);
    return {status, out.str(), err.str()};
  }

  // The device may still be starting: ask for the version until it answers.
  bool WaitReady() {
    for (int i = 0; i < 50; ++i) {
      if (Run({"version"}).status == 0) return true;
      usleep(200000);
    }
    return false;
  }

  sim::Rig rig_{FR_CORE_PATH};
  sim::PtyPair line_;
};

TEST_F(HostToolTest, JsonStatusOnFreshDevice) {
  const Result r = Run({"--json", "status"});
  EXPECT_EQ(1, r.status);
  const nlohmann::json j = nlohmann::json::parse(r.out);
  EXPECT_EQ(48, j.at("command").get<int>());
  EXPECT_EQ(13, j.at("code").get<int>());
  EXPECT_EQ("no factory serial number", j.at("meaning").get<std::string>());
}

TEST_F(HostToolTest, VersionIsDecoded) {
  const Result r = Run({"version"});
  EXPECT_EQ(0, r.status);
  EXPECT_NE(std::string::npos, r.out.find("0 success")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("version: 0.0.3")) << r.out;
}

TEST_F(HostToolTest, SerialNumberThenStatus) {
  Result r = Run({"set-serial", "4200012345"});
  EXPECT_EQ(0, r.status) << r.out << r.err;
  r = Run({"status", "--json"});
  EXPECT_EQ(0, r.status) << r.out;
  const nlohmann::json j = nlohmann::json::parse(r.out);
  EXPECT_EQ(0, j.at("code").get<int>());
  EXPECT_EQ("4200012345", j.at("serial").get<std::string>());
  // Only once.
  r = Run({"set-serial", "4200012345"});
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.out.find("24 serial number already set")) << r.out;
}

TEST_F(HostToolTest, RefusalPrintsCodeAndMeaning) {
  ASSERT_EQ(0, Run({"set-serial", "4200012345"}).status);
  Result r = Run({"cash-out", "100"});
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.out.find("command 164: 27 no shift open")) << r.out;
  // Refused at the opening: nothing is closed or cancelled after it.
  EXPECT_NE(std::string::npos, r.out.find("command 164: ")) << r.out;
  EXPECT_EQ(std::string::npos, r.out.find("command 165")) << r.out;
  EXPECT_EQ(std::string::npos, r.out.find(" 0 success")) << r.out;
  // A line break in a text is refused by the host library: not even opened.
  r = Run({"sale", "--line", "Хлеб\nИТОГО 0.00;100;1;1;1", "--cash", "100"});
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.out.find("command 7 (add document data): the text of element 11030 holds a control"))
      << r.out;
  EXPECT_EQ(std::string::npos, r.out.find("command 21")) << r.out;
}

// Documents must be at least a second apart on the device's clock.
void NextSecond() { sleep(1); usleep(100000); }

TEST_F(HostToolTest, SaleDecodesCloseReply) {
  ASSERT_EQ(0, Run({"set-serial", "4200012345"}).status);
  Result r = Run({"register", "--inn", "7701234567", "--fn", "9999078900012345", "--text1",
                  "ООО РОМАШКА", "--text2", "Москва", "--text3", "Магазин 7", "--tax",
                  "0;1;2000;НДС 20%"});
  ASSERT_EQ(0, r.status) << r.out;
  NextSecond();
  ASSERT_EQ(0, Run({"open-shift"}).status);
  NextSecond();
  r = Run({"--json", "sale", "--line", "Сахар;6500;2;1;1", "--cash", "20000"});
  ASSERT_EQ(0, r.status) << r.out;
  std::istringstream lines(r.out);
  std::vector<nlohmann::json> replies;
  for (std::string line; std::getline(lines, line);) replies.push_back(nlohmann::json::parse(line));
  ASSERT_EQ(3u, replies.size());
  EXPECT_EQ(21, replies[0].at("command").get<int>());
  EXPECT_EQ(7, replies[1].at("command").get<int>());
  const nlohmann::json& c = replies[2];
  EXPECT_EQ(22, c.at("command").get<int>());
  EXPECT_EQ(13000, c.at("total").get<int64_t>());
  EXPECT_EQ(7000, c.at("change").get<int64_t>());
  EXPECT_EQ(1, c.at("receipt_number").get<int>());
  EXPECT_EQ("sale", c.at("receipt_type"));
  EXPECT_EQ("130.00", c.at("total_decimal"));
  EXPECT_EQ("Сахар", c.at("lines").at(0).at("name"));
  EXPECT_EQ(1, c.at("shift").get<int>());
  EXPECT_EQ(3u, c.at("number").get<uint32_t>());
  // An underpaid receipt is refused and cancelled.
  NextSecond();
  r = Run({"purchase", "--line", "Сахар;6500;2;1;1", "--cash", "100"});
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.out.find("command 22: 47 underpaid")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("command 6: 0 success")) << r.out;
}

TEST_F(HostToolTest, TraceShowsFrames) {
  const Result r = Run({"--trace", "version"});
  EXPECT_EQ(0, r.status);
  EXPECT_NE(std::string::npos, r.err.find("-> 04 05 00 33")) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("<- 04 08 00 00")) << r.err;
}

TEST_F(HostToolTest, UsageErrorsDoNotReachTheDevice) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"set-serial", "12"}, {"sale"}, {"frobnicate"}, {"sale", "--line", "a;1;1;1"}}) {
    const Result r = Run(args);
    EXPECT_EQ(1, r.status) << args[0];
    EXPECT_EQ("", r.out) << args[0];
    EXPECT_NE(std::string::npos, r.err.find("fr-host: ")) << args[0];
  }
}

}  // namespace
