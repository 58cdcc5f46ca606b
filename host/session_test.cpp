// Running a document's plan and settling it, against a scripted register:
// each outcome of the run, each finding of the settlement, and a keeper of
// the job's progress (a journal) that refuses to take it.
#include "host/session.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "app/reply_format.h"
#include "app/status_format.h"
#include "tools/common/pty_pair.h"
#include "tools/sim/scripted_register.h"
#include "util/coding.h"

namespace host {
namespace {

using sim::Act;
using sim::Step;

constexpr uint32_t kLast = 7;  // the register's last document before the receipt

// Reply data of 48: the last document and the open document's type.
std::string Status(uint32_t last_document, uint8_t open_document = 0) {
  std::string d(reply::kDeviceStatusSize, '\0');
  std::string r(d.size() - reply::kDeviceStatusRecordOffset, '\0');
  r[FrStatus::kConstantOffset] = static_cast<char>(FrStatus::kConstant);
  std::string n;
  util::PutFixed32(&n, last_document);
  r.replace(FrStatus::kLastDocumentNumberOffset, 4, n);
  r[FrStatus::kOpenDocumentTypeOffset] = static_cast<char>(open_document);
  return d.replace(reply::kDeviceStatusRecordOffset, r.size(), r);
}

// Reply data of a receipt's close: its number, and receipt 3 of the shift.
std::string Closed(uint32_t number) {
  std::string d(reply::kCloseReceiptSize, '\0');
  std::string n;
  util::PutFixed32(&n, number);
  d.replace(reply::kCloseNumberOffset, 4, n);
  d[reply::kCloseReceiptNumberOffset] = 3;
  return d;
}

// Reply data of 16 with `receipts` in the shift.
std::string Shift(uint16_t receipts) {
  std::string d(reply::kShiftStatusSize, '\0');
  d[reply::kShiftReceiptsOffset] = static_cast<char>(receipts);
  return d;
}

TEST(SessionTest, APlanRunsAndAnOutcomeLostIsSettled) {
  using K = RunResult::Kind;
  using S = Settlement::Kind;
  const Step status{Act::kAnswer, 0, Status(kLast)}, ok{};
  const Step close{Act::kAnswer, 0, Closed(kLast + 1)};
  const Step lost_close{Act::kLose, 0, Closed(kLast + 1)};
  const struct {
    const char* name;
    std::vector<Step> script;  // the run's frames, then the settlement's
    bool begin_ok, moved_ok;
    K run;
    int code;
    bool settle;  // after one more request reached the register (its last reply is that one's)
    S settled;
    std::vector<uint8_t> commands;  // every frame the register read after the first 48
  } cases[] = {
      {"done", {status, ok, ok, close}, true, true, K::kDone, 0, false, S::kUnknown, {21, 7, 22}},
      {"refused at the opening", {status, {Act::kAnswer, 42}}, true, true, K::kRefused, 42, false, S::kUnknown, {21}},
      {"refused at a line",
       {status, ok, {Act::kAnswer, 34}},
       true,
       true,
       K::kRefused,
       34,
       false,
       S::kUnknown,
       {21, 7, 6}},
      {"refused at the close",
       {status, ok, ok, {Act::kAnswer, 47}},
       true,
       true,
       K::kRefused,
       47,
       false,
       S::kUnknown,
       {21, 7, 22, 6}},
      {"the journal refuses to begin: nothing sent", {status}, false, true, K::kNotSent, -1, false, S::kUnknown, {}},
      {"the journal refuses the moved close: cancelled, in doubt",
       {status, {Act::kAnswer, 23}, ok, ok},
       true,
       false,
       K::kInDoubt,
       -1,
       false,
       S::kUnknown,
       {21, 21, 6}},
      {"close lost, its reply asked for: stored whole",
       {status, ok, ok, lost_close},
       true,
       true,
       K::kInDoubt,
       -1,
       false,
       S::kStored,
       {21, 7, 22}},
      {"close lost, another reply last: stored, told by the status",
       {status, ok, ok, lost_close, ok, {Act::kAnswer, 0, Status(kLast + 1)}, {Act::kAnswer, 0, Shift(3)}},
       true,
       true,
       K::kInDoubt,
       -1,
       true,
       S::kStored,
       {21, 7, 22, 51, 48, 16}},
      {"close never arrived: not stored, the open receipt cancelled",
       {status, ok, ok, {Act::kMiss}, ok, {Act::kAnswer, 0, Status(kLast, 3)}, ok},
       true,
       true,
       K::kInDoubt,
       -1,
       true,
       S::kNotStored,
       {21, 7, 22, 51, 48, 6}},
      {"two documents since: unsettled",
       {status, ok, ok, lost_close, ok, {Act::kAnswer, 0, Status(kLast + 2)}},
       true,
       true,
       K::kInDoubt,
       -1,
       true,
       S::kOther,
       {21, 7, 22, 51, 48}},
  };
  for (const auto& c : cases) {
    sim::PtyPair pty;
    ASSERT_TRUE(pty.Open());
    const int fd = open(pty.slave_name().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    {
      std::vector<Step> script = {{Act::kAnswer, 0, Status(kLast)}};  // the client learns a last identifier
      script.insert(script.end(), c.script.begin(), c.script.end());
      sim::ScriptedRegister reg(fd, script);
      HostLine line(pty.master());
      RetryPolicy policy = RetryPolicy::None();  // a lost reply stays lost: the run leaves it in doubt
      policy.wait_ms = 300;
      policy.clock_waits = 1;
      Client client(&line, policy);
      ASSERT_TRUE(client.Call(req::DeviceStatus()).ok()) << c.name;
      Session session(&client, Login(), "Кассир");
      std::vector<Line> lines(1);
      lines[0].name = "a";
      int begun = 0;
      RunHooks hooks;
      hooks.begin = [&](const Doubt& d) {
        EXPECT_EQ(d.last_document, kLast) << c.name;
        ++begun;
        return c.begin_ok;
      };
      hooks.moved = [&](const Doubt&) { return c.moved_ok; };
      const RunResult r = session.Run(session.ReceiptPlan(receipt::kSale, lines, 100, 0), hooks);
      EXPECT_EQ(begun, 1) << c.name;
      EXPECT_EQ(static_cast<int>(r.kind), static_cast<int>(c.run)) << c.name << ": " << r.error;
      if (c.run == K::kRefused) EXPECT_EQ(r.code, c.code) << c.name;
      if (c.run == K::kDone) EXPECT_EQ(r.close.number, kLast + 1) << c.name;
      EXPECT_EQ(r.hook_refused, !c.begin_ok || !c.moved_ok) << c.name;
      if (c.run == K::kInDoubt && c.moved_ok) {
        if (c.settle) client.Call(req::Version());  // the register's last reply is this one's now
        const Settlement s = session.Settle(r.doubt, true);
        EXPECT_EQ(static_cast<int>(s.kind), static_cast<int>(c.settled)) << c.name;
        EXPECT_EQ(s.whole, !c.settle && c.settled == S::kStored) << c.name;
        if (s.kind == S::kStored) {
          EXPECT_EQ(s.whole ? s.close.number : s.status.last_document, kLast + 1) << c.name;
          if (!s.whole) EXPECT_EQ(s.receipts, 3) << c.name;
        }
      }
      std::vector<uint8_t> commands = reg.commands();
      commands.erase(commands.begin(), commands.begin() + 2);  // the client's first 48 and the run's
      EXPECT_EQ(commands, c.commands) << c.name;
    }
    ::close(fd);
  }
}

}  // namespace
}  // namespace host
