#include "serial/serialport.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>

#include "platform/fake_env.h"

namespace rs {
namespace {

constexpr const char* kDevice = "/dev/ttyGS0";

bool WaitReadable(int fd, int ms) {
  struct pollfd p = {fd, POLLIN, 0};
  return poll(&p, 1, ms) == 1 && (p.revents & POLLIN) != 0;
}

int OpenDescriptors() {
  int n = 0;
  for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) n += e.exists();
  return n;
}

// The port works on the slave side of a real pseudo-terminal; the test plays
// the far end on the master side.
class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(0, grantpt(master_));
    ASSERT_EQ(0, unlockpt(master_));
    char slave[128];
    ASSERT_EQ(0, ptsname_r(master_, slave, sizeof(slave)));
    ASSERT_TRUE(env_.CreateDirectory("/dev"));
    ASSERT_EQ(0, symlink(slave, env_.Resolve(kDevice).c_str()));
  }
  void TearDown() override { ::close(master_); }

  void MasterWrite(const std::string& s) {
    ASSERT_EQ(static_cast<ssize_t>(s.size()), ::write(master_, s.data(), s.size()));
  }
  // Whatever reaches the master within `ms` of the last byte, up to n bytes.
  std::string MasterRead(size_t n, int ms) {
    std::string got;
    char buf[64];
    while (got.size() < n && WaitReadable(master_, ms)) {
      const ssize_t r = ::read(master_, buf, std::min(sizeof(buf), n - got.size()));
      if (r <= 0) break;
      got.append(buf, static_cast<size_t>(r));
    }
    return got;
  }
  // Waits (bounded) until the port has at least n bytes ready.
  static void WaitForBytes(SerialPort& port, int n) {
    for (int i = 0; i < 200 && port.bytesWaiting() < n; ++i) usleep(10000);
  }
  static termios2 Settings(const SerialPort& port) {
    termios2 tio = {};
    EXPECT_TRUE(port.getTermios(&tio));
    return tio;
  }

  platform::FakeEnv env_;
  int master_ = -1;
};

TEST_F(SerialPortTest, Defaults) {
  SerialPort port(&env_, kDevice, 17);
  EXPECT_EQ(SerialPort::kStandardSpeed, port.speedMode());
  EXPECT_EQ(3, port.dataBitsCode());
  EXPECT_EQ(0, port.parity());
  EXPECT_EQ(0, port.stopBits());
  EXPECT_FALSE(port.echo());
  EXPECT_EQ(-1, port.readTimeout());
  EXPECT_EQ(-1, port.descriptor());
  EXPECT_FALSE(port.isOpen());
  EXPECT_EQ(SerialPort::kCustomSpeed, SerialPort(&env_, kDevice, CustomSpeed{250000}).speedMode());
}

TEST_F(SerialPortTest, SpeedIsExactThroughBother) {
  struct Case { SerialPort port; uint32_t baud; };
  Case cases[] = {{{&env_, kDevice, 17}, 115200}, {{&env_, kDevice, 13}, 9600},
                  {{&env_, kDevice, 1}, 50},      {{&env_, kDevice, 19}, 460800},
                  {{&env_, kDevice, CustomSpeed{250000}}, 250000}};
  for (auto& c : cases) {
    ASSERT_TRUE(c.port.open()) << c.baud;
    const termios2 tio = Settings(c.port);
    EXPECT_EQ(c.baud, tio.c_ispeed);
    EXPECT_EQ(c.baud, tio.c_ospeed);
    EXPECT_EQ(tcflag_t{BOTHER}, tio.c_cflag & CBAUD) << c.baud;
    EXPECT_EQ(tcflag_t{CREAD | CLOCAL}, tio.c_cflag & (CREAD | CLOCAL)) << c.baud;
    c.port.close();
  }
}

// A separate input speed left behind by another program must not survive.
TEST_F(SerialPortTest, StaleInputSpeedIsCleared) {
  SerialPort port(&env_, kDevice, 13);
  ASSERT_TRUE(port.open());
  termios2 tio = Settings(port);
  tio.c_cflag &= ~CIBAUD;
  tio.c_cflag |= B9600 << IBSHIFT;
  ASSERT_TRUE(port.setTermios(tio));
  ASSERT_TRUE(port.setSpeedCode(17));
  EXPECT_EQ(115200u, Settings(port).c_ispeed);
  EXPECT_EQ(115200u, Settings(port).c_ospeed);
}

// The pty driver forces CS8 and no parity bit on its slave, so only PARODD
// and CSTOPB show what was applied. The slave keeps its settings from one
// case to the next, so each case must also clear what the one before set.
TEST_F(SerialPortTest, FramingFromConstructor) {
  struct Case { int bits, parity, stop; tcflag_t expected; };
  const Case cases[] = {{0, 0, 0, 0}, {2, 2, 1, PARODD | CSTOPB}, {1, 1, 0, 0},
                        {3, 2, 0, PARODD}, {0, 1, 1, CSTOPB}};
  for (const auto& c : cases) {
    SerialPort port(&env_, kDevice, 17, c.bits, c.parity, c.stop);
    ASSERT_TRUE(port.open()) << c.bits;
    EXPECT_EQ(c.expected, Settings(port).c_cflag & (PARODD | CSTOPB)) << c.bits << c.parity;
  }
}

TEST_F(SerialPortTest, BadFramingFailsOpenWithoutLeak) {
  struct Case { int bits, parity, stop; };
  const Case cases[] = {{4, 0, 0}, {-1, 0, 0}, {3, 3, 0}, {3, -1, 0}, {3, 0, 2}};
  const int before = OpenDescriptors();
  for (const auto& c : cases) {
    SerialPort port(&env_, kDevice, 17, c.bits, c.parity, c.stop);
    EXPECT_FALSE(port.open()) << c.bits << c.parity << c.stop;
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(-1, port.descriptor());
    EXPECT_EQ(before, OpenDescriptors());
  }
}

TEST_F(SerialPortTest, SpeedCodeOutsideTableThrows) {
  const int before = OpenDescriptors();
  for (int code : {20, -1}) {
    SerialPort port(&env_, kDevice, code);
    try {
      port.open();
      ADD_FAILURE() << "no exception for code " << code;
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ("baudRate passed to bool rs::SerialPort::configureTermios() unrecognized.",
                   e.what());
    }
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(before, OpenDescriptors());
  }
  SerialPort port(&env_, kDevice, 17);
  ASSERT_TRUE(port.open());
  EXPECT_THROW(port.setSpeedCode(20), std::runtime_error);
  EXPECT_EQ(115200u, Settings(port).c_ospeed);  // nothing applied
}

TEST_F(SerialPortTest, SettersReconfigureOpenPort) {
  struct Case {
    const char* name;
    std::function<bool(SerialPort&)> set;
    std::function<bool(const termios2&)> holds;
  };
  const Case cases[] = {
      {"speed code", [](SerialPort& p) { return p.setSpeedCode(13); },
       [](const termios2& t) { return t.c_ospeed == 9600 && t.c_ispeed == 9600; }},
      {"custom speed", [](SerialPort& p) { return p.setCustomSpeed(31250); },
       [](const termios2& t) { return t.c_ospeed == 31250 && t.c_ispeed == 31250; }},
      {"parity", [](SerialPort& p) { return p.setParity(2); },
       [](const termios2& t) { return (t.c_cflag & PARODD) != 0; }},
      {"stop bits", [](SerialPort& p) { return p.setStopBits(1); },
       [](const termios2& t) { return (t.c_cflag & CSTOPB) != 0; }},
      {"echo", [](SerialPort& p) { return p.setEcho(true); },
       [](const termios2& t) { return (t.c_lflag & ECHO) != 0; }},
  };
  for (const auto& c : cases) {
    SerialPort port(&env_, kDevice, 17);
    ASSERT_TRUE(port.open());
    ASSERT_FALSE(c.holds(Settings(port))) << c.name;
    EXPECT_TRUE(c.set(port)) << c.name;
    EXPECT_TRUE(c.holds(Settings(port))) << c.name;
  }
  // A bad value is stored but applies nothing: the echo someone switched on
  // behind the port's back survives, though the port wants it off.
  SerialPort port(&env_, kDevice, 17);
  ASSERT_TRUE(port.open());
  termios2 tio = Settings(port);
  tio.c_lflag |= ECHO;
  ASSERT_TRUE(port.setTermios(tio));
  EXPECT_FALSE(port.setDataBitsCode(7));
  EXPECT_EQ(7, port.dataBitsCode());
  EXPECT_NE(0u, Settings(port).c_lflag & ECHO);
}

TEST_F(SerialPortTest, ReadTimeoutSetsVminVtime) {
  struct Case { int timeout; int vmin, vtime; };
  const Case cases[] = {{-1, 1, 0},  {0, 0, 0},   {99, 0, 0},
                        {200, 0, 2}, {250, 0, 2}, {25500, 0, 255}};
  for (const auto& c : cases) {
    SerialPort port(&env_, kDevice, 17);
    EXPECT_TRUE(port.setReadTimeout(c.timeout));
    ASSERT_TRUE(port.open());
    const termios2 tio = Settings(port);
    EXPECT_EQ(c.vmin, tio.c_cc[VMIN]) << c.timeout;
    EXPECT_EQ(c.vtime, tio.c_cc[VTIME]) << c.timeout;
  }
}

TEST_F(SerialPortTest, ReadTimeoutRefused) {
  SerialPort port(&env_, kDevice, 17);
  ASSERT_TRUE(port.setReadTimeout(200));
  for (int bad : {25501, -2}) {
    EXPECT_FALSE(port.setReadTimeout(bad));
    EXPECT_EQ(200, port.readTimeout());
  }
  ASSERT_TRUE(port.open());
  EXPECT_FALSE(port.setReadTimeout(0));
  EXPECT_EQ(200, port.readTimeout());
  EXPECT_EQ(2, Settings(port).c_cc[VTIME]);
}

// Every translation the line discipline could do is off: flags set by
// someone else before are cleared.
TEST_F(SerialPortTest, ConfigureClearsCookedFlags) {
  SerialPort port(&env_, kDevice, 17);
  ASSERT_TRUE(port.open());
  termios2 tio = Settings(port);
  tio.c_iflag |= IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXANY | IXOFF;
  tio.c_oflag |= OPOST | ONLCR;
  tio.c_lflag |= ICANON | ISIG | ECHOE | ECHONL | ECHO;
  tio.c_cflag |= CRTSCTS;
  ASSERT_TRUE(port.setTermios(tio));
  ASSERT_TRUE(port.configureTermios());
  tio = Settings(port);
  EXPECT_EQ(0u, tio.c_iflag & (IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                               IXANY | IXOFF));
  EXPECT_EQ(0u, tio.c_oflag);
  EXPECT_EQ(0u, tio.c_lflag & (ICANON | ISIG | ECHOE | ECHONL | ECHO));
  EXPECT_EQ(0u, tio.c_cflag & CRTSCTS);
}

TEST_F(SerialPortTest, RawBytesBothWays) {
  const std::string cases[] = {"\r\n", "ab", std::string("\x03\x1a\x1c\x13\x11", 5),
                               std::string("\xff\x80\x00\x7f", 4)};
  SerialPort port(&env_, kDevice, 17);
  ASSERT_TRUE(port.open());
  for (const auto& bytes : cases) {
    MasterWrite(bytes);
    WaitForBytes(port, static_cast<int>(bytes.size()));
    // Checked first: a read in canonical mode would block for a newline.
    ASSERT_EQ(static_cast<int>(bytes.size()), port.bytesWaiting()) << bytes;
    std::string got;
    EXPECT_EQ(static_cast<int>(bytes.size()), port.read(got, 64));
    EXPECT_EQ(bytes, got);
    EXPECT_EQ(static_cast<int>(bytes.size()), port.write(bytes));
    EXPECT_EQ(bytes, MasterRead(bytes.size() + 1, 200));  // no echo, no added CR
  }
}

TEST_F(SerialPortTest, EchoOnSendsInputBack) {
  SerialPort port(&env_, kDevice, 17);
  ASSERT_TRUE(port.setEcho(true));
  ASSERT_TRUE(port.open());
  MasterWrite("ab");
  EXPECT_EQ("ab", MasterRead(2, 2000));
}

TEST_F(SerialPortTest, ReadTakesWhatIsWaitingWithoutGathering) {
  SerialPort port(&env_, kDevice, 17);
  ASSERT_TRUE(port.open());
  EXPECT_EQ(0, port.bytesWaiting());
  MasterWrite("x");
  WaitForBytes(port, 1);
  ASSERT_EQ(1, port.bytesWaiting());
  std::string buffer = "previous";
  EXPECT_EQ(1, port.read(buffer, 3));
  EXPECT_EQ("x", buffer);
  MasterWrite("hello");
  WaitForBytes(port, 5);
  ASSERT_EQ(5, port.bytesWaiting());
  EXPECT_EQ(2, port.read(buffer, 2));
  EXPECT_EQ("he", buffer);
  EXPECT_EQ(3, port.bytesWaiting());
}

TEST_F(SerialPortTest, NothingWithinTimeoutLeavesBuffer) {
  for (int timeout : {0, 100}) {
    SerialPort port(&env_, kDevice, 17);
    ASSERT_TRUE(port.setReadTimeout(timeout));
    ASSERT_TRUE(port.open());
    // VMIN/VTIME rule reads only outside canonical mode; there a read waits
    // for a newline forever.
    ASSERT_EQ(0u, Settings(port).c_lflag & ICANON);
    std::string buffer = "keep";
    EXPECT_EQ(0, port.read(buffer, 8)) << timeout;
    EXPECT_EQ("keep", buffer);
  }
}

TEST_F(SerialPortTest, ClosedPortRefusesIo) {
  struct Case { const char* name; std::function<void(SerialPort&)> prepare; };
  const Case cases[] = {
      {"never opened", [](SerialPort&) {}},
      {"missing path", [](SerialPort& p) { p.setPath("/dev/ttyMISSING"); EXPECT_FALSE(p.open()); }},
      {"empty path", [](SerialPort& p) { p.setPath(""); EXPECT_FALSE(p.open()); }},
      {"closed", [](SerialPort& p) { ASSERT_TRUE(p.open()); EXPECT_EQ(0, p.close()); }},
  };
  for (const auto& c : cases) {
    SerialPort port(&env_, kDevice, 17);
    c.prepare(port);
    std::string buffer = "keep";
    EXPECT_FALSE(port.isOpen()) << c.name;
    EXPECT_EQ(-1, port.descriptor()) << c.name;
    EXPECT_EQ(-1, port.read(buffer, 3)) << c.name;
    EXPECT_EQ("keep", buffer);
    EXPECT_EQ(-1, port.write("x")) << c.name;
    EXPECT_EQ(-1, port.bytesWaiting()) << c.name;
  }
}

TEST_F(SerialPortTest, ReopenAfterClose) {
  SerialPort port(&env_, kDevice, 17);
  ASSERT_TRUE(port.open());
  EXPECT_TRUE(port.isOpen());
  EXPECT_EQ(0, port.close());
  EXPECT_EQ(0, port.close());  // nothing left to close
  ASSERT_TRUE(port.open());
  const int before = OpenDescriptors();
  ASSERT_TRUE(port.open());  // an open port is not opened twice over
  EXPECT_EQ(before, OpenDescriptors());
  EXPECT_EQ(1, port.write("z"));
  EXPECT_EQ("z", MasterRead(1, 2000));
}

}  // namespace
}  // namespace rs
