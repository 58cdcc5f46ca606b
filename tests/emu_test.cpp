// The virtual register: its paper output, and fr-emu driven as a POS program
// would drive it, through <dir>/host.
#include <cairo.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "documents/tlv_element.h"
#include "host/client.h"
#include "host/host_line.h"
#include "host/session.h"
#include "tools/common/loopback.h"
#include "tools/emu/emulator.h"
#include "tools/emu/paper.h"
#include "tools/common/device_process.h"
#include "tools/common/sandbox.h"
#include "tools/sim/test_util.h"
#include "util/coding.h"

namespace emu {
namespace {

namespace fs = std::filesystem;
using std::string_literals::operator""s;
using sim::Eventually;

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

size_t CountPaper(const std::string& dir, const std::string& ext) {
  size_t n = 0;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) n += e.path().extension() == ext;
  return n;
}

// The POS end of the virtual register, raw like a serial port; -1 on failure.
int OpenPosLine(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios tio;
  if (fd < 0 || tcgetattr(fd, &tio) != 0) return -1;
  cfmakeraw(&tio);
  return tcsetattr(fd, TCSANOW, &tio) == 0 ? fd : -1;
}

// The device may still be starting: ask for the version until it answers,
// then let the replies to earlier tries arrive and drop them.
bool WaitServing(host::HostLine* pos) {
  host::Reply reply;
  const bool up = Eventually([&] {
    pos->Drain();
    return pos->Request(0x33, 0, "", &reply, 200) && reply.code == 0;
  }, 15000);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  pos->Drain();
  return up;
}

TEST(EmuTest, WritePaperDrawsAndMarksUpStyles) {
  sim::Sandbox tmp = sim::Sandbox::Temp();
  ASSERT_FALSE(tmp.dir().empty());
  std::vector<sim::PrintedLine> lines(4);
  lines[0].text = "BOLD <&> LINE";
  lines[0].bold = true;
  lines[1].text = "DOUBLE";
  lines[1].double_size = true;
  lines[2].text = "Центр";
  lines[2].align = 1;
  lines[3].text = "";
  lines[3].cut_after = true;
  const std::string base = tmp.dir() + "/0001";
  ASSERT_TRUE(WritePaper(lines, base));

  EXPECT_EQ("BOLD <&> LINE\nDOUBLE\nЦентр\n\n", Slurp(base + ".txt"));
  const std::string html = Slurp(base + ".html");
  EXPECT_NE(std::string::npos, html.find("<b>BOLD &lt;&amp;&gt; LINE</b>"));
  EXPECT_NE(std::string::npos, html.find("class=\"line double\""));
  EXPECT_NE(std::string::npos, html.find("text-align:center\">Центр"));
  EXPECT_NE(std::string::npos, html.find("class=\"cut\""));

  cairo_surface_t* png = cairo_image_surface_create_from_png((base + ".png").c_str());
  ASSERT_EQ(CAIRO_STATUS_SUCCESS, cairo_surface_status(png));
  EXPECT_EQ(kPaperWidthPx, cairo_image_surface_get_width(png));
  const int height = cairo_image_surface_get_height(png);
  EXPECT_GT(height, 4 * 20);
  cairo_surface_flush(png);
  const unsigned char* data = cairo_image_surface_get_data(png);
  const int stride = cairo_image_surface_get_stride(png);
  int dark = 0;
  for (int y = 0; y < height; ++y) {
    const auto* row = reinterpret_cast<const uint32_t*>(data + y * stride);
    for (int x = 0; x < kPaperWidthPx; ++x) dark += (row[x] & 0xFF) < 0x80;
  }
  cairo_surface_destroy(png);
  EXPECT_GT(dark, 100);  // text was drawn, not just an empty sheet
}

TEST(EmuTest, ServesThePosLineAndCutsPaper) {
  const std::string emu_path = fs::path(FR_CORE_PATH).parent_path().string() + "/fr-emu";
  ASSERT_TRUE(fs::exists(emu_path)) << emu_path;
  sim::Sandbox tmp = sim::Sandbox::Temp();
  ASSERT_FALSE(tmp.dir().empty());
  const std::string dir = tmp.dir() + "/board";
  sim::DeviceProcess emu;
  ASSERT_TRUE(emu.Start(emu_path, {dir}, dir, tmp.dir() + "/emu-log"));
  ASSERT_TRUE(emu.WaitForStdout("host line: " + dir + "/host", 10000)) << emu.Stderr();
  EXPECT_TRUE(emu.WaitForStdout("paper: " + dir + "/paper/", 1000));

  const int fd = OpenPosLine(dir + "/host");
  ASSERT_GE(fd, 0);
  host::HostLine pos(fd);

  // The device may still be starting: ask until it answers, then check one
  // exchange byte for byte.
  host::Reply reply;
  ASSERT_TRUE(WaitServing(&pos)) << emu.Stderr();
  ASSERT_TRUE(pos.Send("\x04\x05\x00\x33\x01\x00\x00\x00\xE1\x1C"s));
  ASSERT_TRUE(pos.ReadReply(&reply, 3000));
  EXPECT_EQ(util::HexUpper("\x04\x08\x00\x00\x01\x00\x00\x00\x00\x00\x03\x70\x23"s),
            util::HexUpper(reply.raw));

  const std::string paper = dir + "/paper";
  const size_t before = CountPaper(paper, ".txt");
  ASSERT_TRUE(pos.Request(197, 2, "", &reply, 5000));
  EXPECT_EQ(0, reply.code);
  EXPECT_TRUE(Eventually([&] { return CountPaper(paper, ".txt") > before; }, 5000));
  EXPECT_EQ(CountPaper(paper, ".txt"), CountPaper(paper, ".png"));
  close(fd);

  ASSERT_EQ(0, kill(emu.pid(), SIGTERM));
  int status = -1;
  ASSERT_TRUE(emu.Wait(10000, &status));
  EXPECT_EQ(0, status) << emu.Stderr();
  EXPECT_TRUE(fs::exists(dir + "/sys/bus/i2c/devices/0-0050/eeprom"));  // the board is kept

  // Reopened, it numbers new paper after the old, which stays.
  const size_t sheets = CountPaper(paper, ".txt");
  sim::DeviceProcess again;
  ASSERT_TRUE(again.Start(emu_path, {dir}, dir, tmp.dir() + "/emu-log2"));
  ASSERT_TRUE(again.WaitForStdout("paper: ", 10000)) << again.Stderr();
  char next[16];
  std::snprintf(next, sizeof next, "/%04zu.txt", sheets + 1);
  EXPECT_TRUE(Eventually([&] { return fs::exists(paper + next); }, 10000)) << next;  // the banner
  EXPECT_TRUE(fs::exists(paper + "/0001.txt"));
  ASSERT_EQ(0, kill(again.pid(), SIGINT));
  ASSERT_TRUE(again.Wait(10000, &status));
  EXPECT_EQ(0, status);
}

TEST(EmuTest, ServesItsLineOnATcpPortToOneClientAtATime) {
  signal(SIGPIPE, SIG_IGN);  // a closed client's write fails instead
  const std::string emu_path = fs::path(FR_CORE_PATH).parent_path().string() + "/fr-emu";
  sim::Sandbox tmp = sim::Sandbox::Temp();
  const std::string dir = tmp.dir() + "/board";
  const int port = sim::FreeLoopbackPort();
  sim::DeviceProcess emu;
  ASSERT_TRUE(emu.Start(emu_path, {dir, "--tcp", std::to_string(port)}, dir, tmp.dir() + "/emu-log"));
  ASSERT_TRUE(emu.WaitForStdout("tcp line: 127.0.0.1:" + std::to_string(port), 10000)) << emu.Stderr();

  const int fd = sim::ConnectLoopback(port);
  ASSERT_GE(fd, 0);
  host::HostLine pos(fd);
  ASSERT_TRUE(WaitServing(&pos)) << emu.Stderr();
  // Held by the TCP client: a second client is closed at once, and the
  // line itself is busy for a POS program.
  const int second = sim::ConnectLoopback(port);
  ASSERT_GE(second, 0);
  char byte;
  EXPECT_EQ(read(second, &byte, 1), 0);
  close(second);
  host::HostLine local;
  EXPECT_FALSE(local.Open(dir + "/host").ok());
  host::Reply reply;
  ASSERT_TRUE(pos.Request(0x33, 7, "", &reply, 3000));
  EXPECT_EQ(reply.code, 0);
  EXPECT_EQ(reply.id, 7u);
  close(fd);

  // Given up, the line serves the next client (one that comes while the
  // first is still being let go is closed, and tries again).
  EXPECT_TRUE(Eventually(
      [&] {
        const int next = sim::ConnectLoopback(port);
        host::HostLine again(next);
        const bool served = next >= 0 && again.Request(0x33, 8, "", &reply, 1000) && reply.code == 0;
        if (next >= 0) close(next);
        return served;
      },
      10000))
      << emu.Stderr();
  ASSERT_EQ(0, kill(emu.pid(), SIGTERM));
  int status = -1;
  ASSERT_TRUE(emu.Wait(10000, &status));
  EXPECT_EQ(0, status) << emu.Stderr();
}

TEST(EmuTest, OptionsAreNeverTakenForItsFolder) {
  const std::string emu_path = fs::path(FR_CORE_PATH).parent_path().string() + "/fr-emu";
  sim::Sandbox tmp = sim::Sandbox::Temp();
  const struct {
    const char* arg;
    int status;
    bool on_stdout;  // the usage: on stdout when asked for, else on stderr
  } cases[] = {{"--help", 0, true}, {"-h", 0, true}, {"--dir", 2, false}, {"-", 2, false}};
  for (const auto& c : cases) {
    sim::DeviceProcess emu;
    ASSERT_TRUE(emu.Start(emu_path, {c.arg}, tmp.dir(), tmp.dir() + "/log" + c.arg));
    int status = -1;
    ASSERT_TRUE(emu.Wait(5000, &status)) << c.arg << ": still running";
    EXPECT_EQ(c.status, status) << c.arg;
    EXPECT_NE(std::string::npos, (c.on_stdout ? emu.Stdout() : emu.Stderr()).find("usage: fr-emu DIR")) << c.arg;
    EXPECT_FALSE(fs::exists(c.arg)) << c.arg << ": made a folder of it";
  }
}

TEST(EmuTest, PrinterStatesMapToStatusBytes) {
  int status = 99;
  EXPECT_TRUE(PrinterStatusFor("ready\n", &status));
  EXPECT_EQ(0x00, status);
  EXPECT_TRUE(PrinterStatusFor(" near-end ", &status));
  EXPECT_EQ(0x03, status);
  EXPECT_TRUE(PrinterStatusFor("paper-out", &status));
  EXPECT_EQ(0x0C, status);
  EXPECT_TRUE(PrinterStatusFor("silent", &status));
  EXPECT_EQ(sim::VirtualPrinter::kSilent, status);
  EXPECT_FALSE(PrinterStatusFor("jammed", &status));
}

TEST(EmuTest, LoseRepliesContents) {
  struct Case {
    const char* text;
    bool valid;
    ReplyLoss::Mode mode;
    double share;
    uint32_t seed;  // 99: the time's
  };
  const Case cases[] = {
      {"", true, ReplyLoss::kNone, 0, 0},
      {" \n", true, ReplyLoss::kNone, 0, 0},
      {"next-close\n", true, ReplyLoss::kNextClose, 0, 0},
      {"share 0.2", true, ReplyLoss::kShare, 0.2, 99},
      {" share  1  4294967295\n", true, ReplyLoss::kShare, 1, 4294967295u},
      {"share .5 0", true, ReplyLoss::kShare, 0.5, 0},
      {"share 1.01", false, ReplyLoss::kNone, 0, 0},
      {"share -0.1", false, ReplyLoss::kNone, 0, 0},
      {"share 0.2.1", false, ReplyLoss::kNone, 0, 0},
      {"share 0.2 4294967296", false, ReplyLoss::kNone, 0, 0},
      {"share 0.2 7 8", false, ReplyLoss::kNone, 0, 0},
      {"share", false, ReplyLoss::kNone, 0, 0},
      {"next-close share 1", false, ReplyLoss::kNone, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ReplyLoss loss;
    loss.seed = 1234;
    ASSERT_EQ(c.valid, ParseReplyLoss(c.text, 99, &loss));
    if (!c.valid) continue;
    EXPECT_EQ(c.mode, loss.mode);
    EXPECT_DOUBLE_EQ(c.share, loss.share);
    EXPECT_EQ(c.seed, loss.seed);
  }
}


// Paper runs out while a receipt is open: the next line answers 54 and
// leaves the receipt open; a close without paper discards it.
TEST(EmuTest, PaperOutWhileAReceiptIsOpen) {
  const std::string emu_path = fs::path(FR_CORE_PATH).parent_path().string() + "/fr-emu";
  sim::Sandbox tmp = sim::Sandbox::Temp();
  const std::string dir = tmp.dir() + "/board";
  sim::DeviceProcess emu;
  ASSERT_TRUE(emu.Start(emu_path, {dir}, dir, tmp.dir() + "/emu-log"));
  ASSERT_TRUE(emu.WaitForStdout("host line: " + dir + "/host", 10000)) << emu.Stderr();
  const int fd = OpenPosLine(dir + "/host");
  ASSERT_GE(fd, 0);
  host::HostLine pos(fd);
  host::Reply r;
  ASSERT_TRUE(WaitServing(&pos));

  const std::string service("\x14\x1E\x00\x00\x00", 5);
  const std::string name = std::string(1, 2) + "ab";  // length-prefixed cashier name
  uint32_t id = 10;
  auto ask = [&](uint8_t command, const std::string& data) {
    EXPECT_TRUE(pos.Request(command, ++id, data, &r, 10000)) << int(command);
    return r.code;
  };
  ASSERT_EQ(0, ask(63, service + "4200012345"));
  ASSERT_EQ(0, ask(8, service + name));
  for (uint16_t t : {tag::kFirstRegText, tag::kSecondRegText, tag::kThirdRegText}) {
    ASSERT_EQ(0, ask(7, TlvElement::fromString(t, "text").encode()));
  }
  ASSERT_EQ(0, ask(7, TlvElement::fromList(tag::kTaxRateFirst,
                                           {TlvElement::fromByte(tag::kTaxRateType, 0),
                                            TlvElement::fromU16(tag::kTaxRateWord, 0),
                                            TlvElement::fromString(tag::kTaxName, "no tax")})
                          .encode()));
  std::string inn = "7701234567";
  inn.resize(12, '\0');
  ASSERT_EQ(0, ask(9, inn + "9999078900012345"));
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // documents need a later second
  ASSERT_EQ(0, ask(17, service + name));
  ASSERT_EQ(0, ask(18, ""));
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  ASSERT_EQ(0, ask(21, service + std::string(1, '\0') + name));

  std::ofstream(dir + "/printer-state") << "paper-out\n";
  std::this_thread::sleep_for(std::chrono::milliseconds(600));  // fr-emu polls the file
  const std::string line = TlvElement::fromList(tag::kReceiptLine,
                                                {TlvElement::fromString(tag::kLineName, "tea"),
                                                 TlvElement::fromVln(tag::kPrice, 100),
                                                 TlvElement::fromFvln(tag::kQuantity, Decimal(1, 1)),
                                                 TlvElement::fromByte(tag::kLineTaxNumber, 1),
                                                 TlvElement::fromByte(tag::kSectionNumber, 1)})
                               .encode();
  // The add is refused before it touches the receipt, which stays open for
  // when the paper is back.
  EXPECT_EQ(54, ask(7, line));
  EXPECT_EQ(0, ask(176, ""));
  std::ofstream(dir + "/printer-state") << "ready\n";
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  EXPECT_EQ(0, ask(7, line));
  // Out of paper at the close: the receipt is discarded.
  std::ofstream(dir + "/printer-state") << "paper-out\n";
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  EXPECT_EQ(54, ask(22, std::string(16, '\0')));
  EXPECT_EQ(29, ask(176, ""));
  close(fd);
  ASSERT_EQ(0, kill(emu.pid(), SIGTERM));
  int status = -1;
  ASSERT_TRUE(emu.Wait(10000, &status));
  EXPECT_EQ(0, status);
}

// The child of `parent` running `name` (its command name), or -1.
pid_t ChildNamed(pid_t parent, const std::string& name) {
  std::error_code ec;
  for (const auto& e : fs::directory_iterator("/proc", ec)) {
    const std::string stat = Slurp(e.path().string() + "/stat");
    const size_t open = stat.find('('), close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos) continue;
    std::istringstream rest(stat.substr(close + 2));
    char state = 0;
    pid_t ppid = 0;
    rest >> state >> ppid;
    if (ppid == parent && state != 'Z' && stat.substr(open + 1, close - open - 1) == name)
      return static_cast<pid_t>(std::stol(e.path().filename().string()));
  }
  return -1;
}

// Gone, or a zombie nobody reaps.
bool Dead(pid_t pid) {
  const std::string stat = Slurp("/proc/" + std::to_string(pid) + "/stat");
  const size_t close = stat.rfind(')');
  return close == std::string::npos || stat[close + 2] == 'Z';
}

// fr-emu started on a fresh board, with the POS line held through the host
// library.
class EmuLineTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::exists(emu_path_)) << emu_path_;
    ASSERT_TRUE(emu_.Start(emu_path_, {dir_}, dir_, tmp_.dir() + "/emu-log"));
    ASSERT_TRUE(emu_.WaitForStdout("host line: " + dir_ + "/host", 10000)) << emu_.Stderr();
    ASSERT_TRUE(Eventually([&] { return line_.Open(dir_ + "/host").ok(); }, 5000));
    ASSERT_TRUE(ServingAgain());
  }

  // The register answers the version on the line the test holds.
  bool ServingAgain() {
    return Eventually([&] { return client_.Call(host::req::Version()).ok(); }, 15000);
  }

  // Registered, with a shift open.
  void Register() {
    ASSERT_TRUE(session_.Call(host::req::SetSerialNumber(session_.login(), "4200012345")).ok());
    std::vector<TlvElement> elements = {TlvElement::fromString(tag::kFirstRegText, "A"),
                                        TlvElement::fromString(tag::kSecondRegText, "B"),
                                        TlvElement::fromString(tag::kThirdRegText, "C"),
                                        host::TaxRateElement({0, 0, 0, "NO TAX"})};
    ASSERT_TRUE(session_.Registration(elements, "7701234567", "9999078900012345", nullptr).ok());
    ASSERT_TRUE(session_.ShiftOpen(nullptr).ok());
  }

  const std::string emu_path_ = fs::path(FR_CORE_PATH).parent_path().string() + "/fr-emu";
  sim::Sandbox tmp_ = sim::Sandbox::Temp();
  const std::string dir_ = tmp_.dir() + "/board";
  sim::DeviceProcess emu_;
  host::HostLine line_;
  host::Client client_{&line_};
  host::Session session_{&client_, host::Login(), "POS"};
};

class EmuRestartTest : public EmuLineTest {};

// fr-core killed with a receipt open comes back on the same line: the POS
// keeps its handle, the receipt is gone, and a second program still cannot
// take the line.
TEST_F(EmuRestartTest, DeviceKilledMidReceiptComesBackOnTheSameLine) {
  ASSERT_NO_FATAL_FAILURE(Register());
  ASSERT_TRUE(session_.Call(host::req::OpenReceipt(session_.login(), receipt::kSale, "POS")).ok());
  host::DocumentState state;
  const host::Answer open = session_.Call(host::req::DocumentState());
  ASSERT_TRUE(open.ok() && host::DecodeDocumentState(open.data, &state) && state.is_receipt);

  const pid_t core = ChildNamed(emu_.pid(), "fr-core");
  ASSERT_GT(core, 0);
  ASSERT_EQ(0, kill(core, SIGKILL));
  EXPECT_TRUE(emu_.WaitForStdout("fr-emu: fr-core ended (signal 9); starting it again", 5000)) << emu_.Stdout();
  ASSERT_TRUE(ServingAgain());
  EXPECT_NE(core, ChildNamed(emu_.pid(), "fr-core"));
  EXPECT_EQ(rc::kNoOpenDocument, session_.Call(host::req::DocumentState()).code);

  const std::string fr_host = fs::path(emu_path_).parent_path().string() + "/fr-host";
  sim::DeviceProcess second;
  int status = -1;
  ASSERT_TRUE(second.Start(fr_host, {"--port", dir_ + "/host", "version"}, dir_, tmp_.dir() + "/second"));
  ASSERT_TRUE(second.Wait(10000, &status));
  EXPECT_EQ(1, status);
  EXPECT_NE(std::string::npos, second.Stderr().find(dir_ + "/host is in use by another program"))
      << second.Stderr();

  // On purpose, through the restart file.
  std::ofstream(dir_ + "/restart").close();
  EXPECT_TRUE(emu_.WaitForStdout("fr-emu: restarting fr-core", 5000)) << emu_.Stdout();
  ASSERT_TRUE(ServingAgain());
  EXPECT_FALSE(fs::exists(dir_ + "/restart"));
}

TEST_F(EmuRestartTest, KilledEmulatorLeavesNoDeviceBehind) {
  const pid_t core = ChildNamed(emu_.pid(), "fr-core");
  ASSERT_GT(core, 0);
  emu_.Kill(SIGKILL);
  EXPECT_TRUE(Eventually([&] { return Dead(core); }, 5000));
}

class EmuLoseRepliesTest : public EmuLineTest {
 protected:
  uint32_t LastDocument() {
    client_.set_policy(host::RetryPolicy());
    host::DeviceStatus s;
    const host::Answer a = client_.Call(host::req::DeviceStatus());
    EXPECT_TRUE(a.ok() && host::DecodeDeviceStatus(a.data, &s)) << a.error;
    return s.last_document;
  }
};

size_t Count(const std::string& text, const std::string& needle) {
  size_t n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

// The register does the work and only its answer is lost: a POS gets it
// back with 05, unless the loss takes those answers too.
TEST_F(EmuLoseRepliesTest, LosesRepliesAsTheFileSays) {
  ASSERT_NO_FATAL_FAILURE(Register());
  host::RetryPolicy none = host::RetryPolicy::None();
  none.clock_waits = 3;  // documents one second apart is not what is tried here
  none.wait_ms = 5000;   // not a close's 20 s
  host::Line tea;
  tea.name = "TEA";
  tea.price = 100;
  struct Case {
    const char* name;
    const char* contents;  // of lose-replies
    const char* applied;   // what fr-emu says once it has read them
    bool retries;          // the default policy, else none
    bool receipt;          // a receipt, else the version
    bool answered;
  };
  const Case cases[] = {
      {"next-close, no retries: the close's answer is lost", "next-close\n",
       "the reply to the next close will be lost", false, true, false},
      {"next-close: 05 brings the same answer back", " next-close ", "the reply to the next close will be lost",
       true, true, true},
      {"share 1: the answers to 05 are lost too", "share 1 7", "at a share of 1 (seed 7)", true, false, false},
      {"share 0: nothing is lost", "share 0", "at a share of 0 (seed ", false, true, true},
      {"unknown contents: nothing is lost", "often", "unknown lose-replies \"often\" ignored", false, true, true},
  };
  const std::string file = dir_ + Emulator::kLoseReplies;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t said = Count(emu_.Stdout() + emu_.Stderr(), c.applied);
    std::ofstream(file) << c.contents;
    ASSERT_TRUE(Eventually([&] { return Count(emu_.Stdout() + emu_.Stderr(), c.applied) > said; }, 5000));
    const uint32_t before = c.receipt ? LastDocument() : 0;
    client_.set_policy(c.retries ? host::RetryPolicy() : none);
    const int asked = client_.stats().asked_again;
    const host::Answer a = c.receipt ? session_.Receipt(receipt::kSale, {tea}, 100, 0, nullptr)
                                     : client_.Call(host::req::Version());
    EXPECT_EQ(c.answered, a.answered) << a.error;
    EXPECT_EQ(c.answered, a.ok()) << a.code;
    EXPECT_EQ(c.retries, client_.stats().asked_again > asked);
    if (c.receipt) {
      EXPECT_EQ(before + 1, LastDocument());  // stored, answered or not
    }
    // next-close works once: its file is gone.
    EXPECT_EQ(std::string(c.contents).find("next-close") == std::string::npos, fs::exists(file));
  }
}

}  // namespace
}  // namespace emu
