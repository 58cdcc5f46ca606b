// The retry policy against a scripted register on a pseudo-terminal: each
// case makes the register lose, garble, refuse or never see a frame, or
// restart, and checks what the client then does and how often the register
// carried the request out.
#include "host/client.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/session.h"
#include "link/frame_format.h"
#include "tools/common/pty_pair.h"
#include "tools/sim/scripted_register.h"
#include "util/cp866.h"

namespace host {
namespace {

using sim::Act;
using sim::ScriptedRegister;
using sim::Step;

TEST(ClientTest, RetryPolicy) {
  RetryPolicy quick;
  quick.wait_ms = 300;
  quick.quiet_ms = 50;
  RetryPolicy none = RetryPolicy::None();
  none.wait_ms = 300;
  struct Case {
    const char* name;
    uint8_t command;
    std::vector<Step> script;  // for the frames after a first request answered 0
    RetryPolicy policy;
    bool answered;
    int code, frames, carried_out;
  };
  const Case cases[] = {
      {"lost reply: asked again", cmd::kCloseReceipt, {{Act::kLose}}, quick, true, 0, 1, 1},
      {"garbled reply: asked again", cmd::kCloseReceipt, {{Act::kGarble}}, quick, true, 0, 1, 1},
      {"refused in pieces: sent again", cmd::kCloseReceipt, {{Act::kRefuse}}, quick, true, 0, 2, 1},
      {"refused every time",
       cmd::kCloseReceipt,
       {{Act::kRefuse}, {Act::kRefuse}, {Act::kRefuse}},
       quick,
       true,
       11,
       3,
       0},
      {"never arrived: sent again", cmd::kCloseReceipt, {{Act::kMiss}}, quick, true, 0, 2, 1},
      {"restarted: a document is not sent again", cmd::kCloseReceipt, {{Act::kRestart}}, quick, false, -1, 1, 0},
      {"restarted: a status query is", cmd::kShiftStatus, {{Act::kRestart}}, quick, true, 0, 2, 1},
      {"23 at an opening: next second", cmd::kOpenReceipt, {{Act::kAnswer, 23}}, quick, true, 0, 2, 2},
      {"23 at a close stays", cmd::kCloseReceipt, {{Act::kAnswer, 23}}, quick, true, 23, 1, 1},
      {"no policy: a lost reply stays lost", cmd::kCloseReceipt, {{Act::kLose}}, none, false, -1, 1, 1},
      {"no policy: 11 is the answer", cmd::kCloseReceipt, {{Act::kRefuse}}, none, true, 11, 1, 0},
  };
  for (const Case& c : cases) {
    sim::PtyPair pty;
    ASSERT_TRUE(pty.Open());
    const int fd = open(pty.slave_name().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::vector<Step> script = {{Act::kAnswer}};  // the client learns a last identifier
    script.insert(script.end(), c.script.begin(), c.script.end());
    {
      ScriptedRegister reg(fd, script);
      HostLine line(pty.master());
      Client client(&line, c.policy);
      ASSERT_TRUE(client.Call(cmd::kVersion, "").ok()) << c.name;
      const Answer a = client.Call(c.command, "data");
      EXPECT_EQ(c.answered, a.answered) << c.name << ": " << a.error;
      if (c.answered) {
        EXPECT_EQ(c.code, a.code) << c.name;
      }
      if (!c.answered) {
        EXPECT_FALSE(a.error.empty()) << c.name;
      }
      EXPECT_EQ(c.frames, reg.frames() - 1) << c.name;
      EXPECT_EQ(c.carried_out, reg.carried_out() - 1) << c.name;
      // The line is in step again: the next request gets its own reply.
      if (c.policy.ask_again > 0) {
        EXPECT_TRUE(client.Call(cmd::kVersion, "").ok()) << c.name;
      }
    }
    close(fd);
  }
}

TEST(ClientTest, TextsWithControlCharactersAreNeverSent) {
  sim::PtyPair pty;
  ASSERT_TRUE(pty.Open());
  const int fd = open(pty.slave_name().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  {
    ScriptedRegister reg(fd, {});  // answers 0 to whatever arrives
    HostLine line(pty.master());
    Client client(&line);
    const Login login;
    const std::string forged = util::Utf8ToCp866("Хлеб\nИТОГО 0.00\nСПАСИБО");
    Session cashier(&client, login, util::Utf8ToCp866("Кассир"));
    Session forger(&client, login, util::Utf8ToCp866("Кассир\nКАССИР: Иванов"));
    auto line_with = [](std::string Line::*field, const std::string& text) {
      Line l;
      l.name = "a";
      l.*field = text;
      return std::vector<Line>{l};
    };
    TaxRateSetting rate;
    rate.name = std::string("VAT\x7F", 4);
    Cashier c;
    c.number = 1;
    c.name = std::string("a\0b", 3);
    Section s;
    s.number = 1;
    s.name = "a\rb";
    Discount d;
    d.number = 1;
    d.name =
        "a\x1B"
        "b";
    auto sale = [&](std::string Line::*field, const std::string& text) {
      return cashier.Receipt(receipt::kSale, line_with(field, text), 100, 0, nullptr);
    };
    auto registration = [&](const TlvElement& e) {
      return cashier.Registration({e}, "7701234567", "9999078900012345", nullptr);
    };
    const struct {
      const char* what;
      std::function<Answer()> call;
    } cases[] = {
        {"cashier's name", [&] { return forger.ShiftOpen(nullptr); }},
        {"line name", [&] { return sale(&Line::name, forged); }},
        {"line code", [&] { return sale(&Line::code, "1\t2"); }},
        {"unit",
         [&] {
           return sale(&Line::unit,
                       "\x1B"
                       "E");
         }},
        {"extra text", [&] { return sale(&Line::extra, std::string(1, '\0')); }},
        {"registration text", [&] { return registration(TlvElement::fromString(tag::kFirstRegText, forged)); }},
        {"tax rate name", [&] { return registration(TaxRateElement(rate)); }},
        {"cashier's name element",
         [&] { return client.Call(req::Add(TlvElement::fromString(tag::kCashierName, forged))); }},
        {"cashier record", [&] { return client.Call(req::WriteCashier(login, c)); }},
        {"section record", [&] { return client.Call(req::WriteSection(login, s)); }},
        {"discount record", [&] { return client.Call(req::WriteDiscount(login, d)); }},
        {"record image",
         [&] { return client.Call(req::WriteRecord(login, table::kSections, tables::sectionImage(s))); }},
        {"printed text", [&] { return client.Call(req::PrintText(0, 0, 0, 0, forged)); }},
    };
    for (const auto& k : cases) {
      const Answer a = k.call();
      EXPECT_FALSE(a.answered) << k.what;
      EXPECT_NE(std::string::npos, a.error.find("control character")) << k.what << ": " << a.error;
      EXPECT_EQ(0, reg.frames()) << k.what << ": something reached the line";
    }
    // Cyrillic and the printable ASCII go out as they are.
    std::string ascii;
    for (char ch = ' '; ch < '\x7F'; ++ch) ascii += ch;
    const std::string printable = util::Utf8ToCp866("Чек №5: ИТОГО ░▓ 1.00 ") + ascii;
    EXPECT_TRUE(client.Call(req::PrintText(0, 0, 0, 0, printable)).ok());
    EXPECT_EQ(1, reg.frames());
  }
  close(fd);
}

}  // namespace
}  // namespace host
