// The simulated peers checked against each other, without the device.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tools/sim/rig.h"
#include "util/coding.h"

namespace sim {
namespace {

using std::string_literals::operator""s;

// The device side of a line, opened by path as the device does.
int OpenSlave(const PtyPair& pty) {
  return open(pty.slave_name().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
}

// Every byte value both ways, also when written before the device opens its
// side, and again after it closed it: no hang-up, still raw.
TEST(PtyPairTest, RawAcrossReopens) {
  PtyPair pty;
  ASSERT_TRUE(pty.Open());
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  host::HostLine host(pty.master());
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(host.Send(all));
    const int slave = OpenSlave(pty);
    ASSERT_GE(slave, 0);
    host::HostLine device(slave);
    EXPECT_EQ(util::HexUpper(all), util::HexUpper(device.ReadRaw(all.size() + 1, 200))) << round;
    ASSERT_TRUE(device.Send(all));
    EXPECT_EQ(util::HexUpper(all), util::HexUpper(host.ReadRaw(all.size() + 1, 200))) << round;
    close(slave);
    struct pollfd p = {pty.master(), POLLIN, 0};
    EXPECT_EQ(0, poll(&p, 1, 0));
  }
}

TEST(SandboxTest, TempBoardAndLinks) {
  namespace fs = std::filesystem;
  std::string dir;
  {
    Sandbox box = Sandbox::Temp();
    dir = box.dir();
    ASSERT_TRUE(box.Create() && box.Create());
    for (const char* sub : {"/dev", "/nv", "/mnt", "/sandbox"}) {
      EXPECT_TRUE(fs::is_directory(box.Path(sub))) << sub;
    }
    std::string eeprom;
    ASSERT_TRUE(box.WriteBlankEeprom() && box.ReadFile(Sandbox::kEepromPath, &eeprom));
    EXPECT_EQ(std::string(4096, '\xFF'), eeprom);
    ASSERT_TRUE(box.WriteEeprom("ID") && box.WriteBlankEeprom() &&
                box.ReadFile(Sandbox::kEepromPath, &eeprom));
    EXPECT_EQ("ID", eeprom);  // a present EEPROM is kept

    std::string text;
    ASSERT_TRUE(box.SetFreeBytes(12345) && box.ReadFile("/sandbox/free-bytes", &text));
    EXPECT_EQ("12345\n", text);
    struct Case { std::function<bool(Sandbox&)> act; const char* path; bool exists; };
    const Case cases[] = {
        {[](Sandbox& b) { return b.InsertCard(); }, "/dev/mmcblk0p1", true},
        {[](Sandbox& b) { return b.RemoveCard(); }, "/dev/mmcblk0p1", false},
        {[](Sandbox& b) { return b.SetMountFails(true); }, "/sandbox/mount-fails", true},
        {[](Sandbox& b) { return b.SetMountFails(false); }, "/sandbox/mount-fails", false},
        {[](Sandbox& b) { return b.SetFreeBytes(-1); }, "/sandbox/free-bytes", false},
        {[](Sandbox& b) { return b.WriteFile("/nv/new/T", "t"); }, "/nv/new/T", true},
    };
    for (const Case& c : cases) {
      EXPECT_TRUE(c.act(box)) << c.path;
      EXPECT_EQ(c.exists, fs::exists(box.Path(c.path))) << c.path;
    }
    { Sandbox kept(dir); }  // not owned: stays
    EXPECT_TRUE(fs::exists(dir));

    const std::string link = box.Path("/dev/ttyS0");
    ASSERT_TRUE(box.WriteFile("/dev/ttyS0", "stale"));
    {
      PtyPair pty;
      ASSERT_TRUE(pty.Open() && pty.LinkAt(link));
      EXPECT_EQ(pty.slave_name(), fs::read_symlink(link).string());
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
  }
  EXPECT_FALSE(fs::exists(dir));
}

TEST(VirtualPrinterTest, AnswersStatusRequests) {
  struct Case { int status; std::vector<std::string> writes; std::string answers; int requests; };
  const Case cases[] = {
      {0, {"\x1B\x76"}, "\x00"s, 1},
      {0x12, {"AB\x1B", "\x76" "CD"}, "\x12", 1},  // split across two reads
      {VirtualPrinter::kSilent, {"\x1B\x76"}, "", 1},
      {0x20, {"\x1B\x1B\x76v\x1B\x76"}, "\x20\x20", 2},
      {0, {"v\x1Bx\x76\x76"}, "", 0},
  };
  for (const Case& c : cases) {
    PtyPair pty;
    ASSERT_TRUE(pty.Open());
    VirtualPrinter printer;
    printer.set_status(c.status);
    ASSERT_TRUE(printer.Start(pty.master()));
    const int slave = OpenSlave(pty);
    host::HostLine device(slave);
    std::string sent;
    for (const std::string& w : c.writes) {
      ASSERT_TRUE(device.Send(w));
      ASSERT_TRUE(printer.WaitFor(sent += w, 2000));
    }
    EXPECT_EQ(util::HexUpper(c.answers),
              util::HexUpper(device.ReadRaw(c.answers.size() + 1, 100)));
    EXPECT_EQ(c.requests, printer.status_requests());
    EXPECT_EQ(sent, printer.received());
    printer.Clear();
    EXPECT_EQ("", printer.received());
    EXPECT_EQ(0, printer.status_requests());
    close(slave);
  }
}

TEST(DeviceProcessTest, RunsWithRootAndLogs) {
  Sandbox box = Sandbox::Temp();
  struct Case { const char* binary; const char* script; int status; const char* out, *err; };
  const Case cases[] = {
      {"/bin/sh", "echo \"root=$FR_ROOT\"; read x; echo \"in=[$x]\"; echo oops >&2; exit 3", 3,
       "root=/the/root\nin=[]\n", "oops\n"},
      {"/nonexistent/fr-core", "", 127, "", ""},
  };
  for (const Case& c : cases) {
    DeviceProcess p;
    int status = -1;
    const std::string logs = box.Path("/" + std::to_string(&c - cases));
    ASSERT_TRUE(p.Start(c.binary, {"-c", c.script}, "/the/root", logs));
    ASSERT_TRUE(p.Wait(5000, &status));
    EXPECT_EQ(c.status, status);
    EXPECT_EQ(c.out, p.Stdout());
    EXPECT_EQ(c.err, p.Stderr());
  }
}

TEST(DeviceProcessTest, KilledAndRestartedAppendsLogs) {
  Sandbox box = Sandbox::Temp();
  for (int sig : {SIGKILL, SIGTERM}) {
    DeviceProcess p;
    const std::string logs = box.Path("/" + std::to_string(sig));
    ASSERT_TRUE(p.Start("/bin/sh", {"-c", "echo started; exec sleep 30"}, "/", logs));
    ASSERT_TRUE(p.WaitForStdout("started", 5000));
    EXPECT_TRUE(p.running());
    EXPECT_FALSE(p.Start("/bin/sh", {"-c", "true"}, "/", logs));  // one at a time
    p.Kill(sig);
    EXPECT_FALSE(p.running());
    int status = -1;
    ASSERT_TRUE(p.Wait(0, &status));
    EXPECT_EQ(128 + sig, status);
    ASSERT_TRUE(p.Start("/bin/sh", {"-c", "echo again"}, "/", logs) && p.Wait(5000, &status));
    EXPECT_EQ((std::vector<std::string>{"started", "again"}), p.StdoutLines());
  }
}

// $FR_CORE stands in for the device program (a cross-built fr-core behind an
// emulator), and for nothing else the tests run.
TEST(DeviceProcessTest, FrCoreReplacesOnlyTheDeviceProgram) {
  struct RestoreEnv {
    const char* old = getenv("FR_CORE");
    std::string value = old != nullptr ? old : "";
    ~RestoreEnv() { old != nullptr ? setenv("FR_CORE", value.c_str(), 1) : unsetenv("FR_CORE"); }
  } restore;
  ASSERT_EQ(0, setenv("FR_CORE", "/bin/sh", 1));
  Sandbox box = Sandbox::Temp();
  struct Case { const char* binary; int status; const char* out; };
  const Case cases[] = {
      {"/nonexistent/fr-core", 0, "swapped\n"},
      {"fr-core", 0, "swapped\n"},
      {"/nonexistent/fr-core.old", 127, ""},
      {"/nonexistent/fr-core/fr-emu", 127, ""},
  };
  for (const Case& c : cases) {
    DeviceProcess p;
    int status = -1;
    const std::string logs = box.Path("/" + std::to_string(&c - cases));
    ASSERT_TRUE(p.Start(c.binary, {"-c", "echo swapped"}, "/", logs));
    ASSERT_TRUE(p.Wait(5000, &status)) << c.binary;
    EXPECT_EQ(c.status, status) << c.binary;
    EXPECT_EQ(c.out, p.Stdout()) << c.binary;
  }
}

// Not a test: the stand-in device that RigTest runs (this binary, with a
// filter). It prints "run <pid>", starts serving late, so that the host has
// asked several times, and answers each version request. A request frame has
// a reply's layout, hence ReadReply.
TEST(StandIn, DISABLED_Device) {
  const std::string root = getenv("FR_ROOT");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const std::string run = "run " + std::to_string(getpid());
  host::HostLine printer(open((root + "/dev/ttyS0").c_str(), O_RDWR | O_NOCTTY));
  host::HostLine line(open((root + "/dev/ttyGS0").c_str(), O_RDWR | O_NOCTTY));
  ASSERT_TRUE(printer.Send(run));
  for (host::Reply request; line.ReadReply(&request, 60000);) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    line.Send(host::EncodeRequest(0, request.id, "\x00\x00\x03"s));
  }
}

TEST(RigTest, ServesRestartsAndCleansUp) {
  const std::vector<std::string> stand_in = {"--gtest_filter=StandIn.*",
                                             "--gtest_also_run_disabled_tests"};
  std::string dir;
  {
    Rig rig("/proc/self/exe");
    dir = rig.sandbox().dir();
    ASSERT_TRUE(rig.Prepare());
    EXPECT_TRUE(std::filesystem::exists(rig.sandbox().Path("/dev/mmcblk0p1")));
    // A request the first device is too late to read goes with it.
    ASSERT_TRUE(rig.Start(stand_in) && rig.host().Send(host::EncodeRequest(51, 77, "")));
    for (int round = 0; round < 2; ++round) {
      ASSERT_TRUE(rig.Restart(stand_in));
      host::Reply stale;
      if (round == 0) {
        EXPECT_FALSE(rig.host().ReadReply(&stale, 600)) << stale.id;
      }
      EXPECT_TRUE(rig.WaitReady(10000)) << round;
      EXPECT_EQ("", util::HexUpper(rig.host().ReadRaw(1, 100)));  // no late replies left over
      EXPECT_TRUE(rig.printer().WaitFor("run " + std::to_string(rig.process().pid()), 5000));
    }
    ASSERT_TRUE(rig.Restart({"--gtest_filter=None"}));  // exits at once
    EXPECT_FALSE(rig.WaitReady(10000));
  }
  EXPECT_FALSE(std::filesystem::exists(dir));
}

}  // namespace
}  // namespace sim
