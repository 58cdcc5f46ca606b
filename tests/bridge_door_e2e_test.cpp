// fr-bridge as an attacker meets it: what a client without a token can cost
// it (memory, threads, connections), the names and origins it answers to,
// TLS, and what many keyed jobs or a stream resumed too late do to it.
#include <signal.h>

#include <atomic>
#include <map>
#include <mutex>
#include <fstream>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "tests/bridge_rig.h"
#include "tools/sim/raw_client.h"

namespace {

using namespace bridgetest;

using Raw = sim::RawClient;
using sim::HttpStatus;

long RssKib(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);) {
    if (line.compare(0, 6, "VmRSS:") == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

// A bridge started with the limits given as its configuration.
void StartWithLimits(BridgeRig* rig, const json& limits) {
  const std::string config = rig->dir() + "/limits.json";
  std::ofstream(config) << json({{"limits", limits}}).dump();
  rig->AddBridgeArgs({"--config", config});
  rig->Start();
}

std::string Head(const BridgeRig& rig, const std::string& line, const std::string& more = "") {
  return line + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(rig.port()) + "\r\n" + more;
}

TEST(BridgeDoorTest, AClientWithoutATokenCostsLittle) {
  BridgeRig rig;
  ASSERT_NO_FATAL_FAILURE(StartWithLimits(&rig, {{"head_ms", 1500}, {"per_address", 8}}));
  const pid_t pid = rig.bridge().pid();
  const std::string bearer = std::string("Authorization: Bearer ") + kAdmin + "\r\n";
  const std::string chunk = "10000\r\n" + std::string(0x10000, 'x') + "\r\n";
  struct Attack {
    const char* what;
    std::string head;
    size_t repeat;       // times `more` is sent after the head
    std::string more;
    int status;
  } attacks[] = {
      {"endless headers", Head(rig, "GET /v1/registers"), 200000, "X-Filler: 0123456789\r\n", 431},
      {"a huge chunked body without a token",
       Head(rig, "POST /v1/registers/main/receipts", "Transfer-Encoding: chunked\r\n\r\n"), 4800, chunk, 401},
      {"a chunked body past the limit with a token",
       Head(rig, "POST /v1/registers/main/receipts", bearer + "Idempotency-Key: big\r\nTransfer-Encoding: chunked\r\n\r\n"),
       64, chunk, 413},
      {"a compressed body", Head(rig, "POST /v1/registers/main/receipts",
                                 bearer + "Idempotency-Key: gz\r\nContent-Encoding: gzip\r\nContent-Length: 4\r\n\r\n"),
       1, "\x1f\x8b\x08\x00", 415},
  };
  for (const Attack& a : attacks) {
    SCOPED_TRACE(a.what);
    const long before = RssKib(pid);
    Raw c(rig.port());
    ASSERT_TRUE(c.connected());
    std::string sent = a.head;
    for (size_t i = 0; i < a.repeat; ++i) {
      sent += a.more;
      if (sent.size() >= 256 * 1024 || i + 1 == a.repeat) {
        if (c.Answered() || !c.Send(sent)) break;  // the bridge gave up on it
        sent.clear();
      }
    }
    bool closed = false;
    const std::string answer = c.Read(5000, &closed);
    EXPECT_EQ(HttpStatus(answer), a.status) << answer.substr(0, 300);
    EXPECT_TRUE(closed) << "the connection ends with the refusal";
    // Before: 200 000 header lines took it from 75 to 467 MB, a chunked body
    // of 300 MiB from 12 to 316 MB.
    EXPECT_LT(RssKib(pid) - before, 16 * 1024) << "KiB grown";
  }

  // Slow heads from one place and too many connections from another hold
  // no thread: the open routes and the tills are served meanwhile.
  std::vector<std::unique_ptr<Raw>> slow;
  for (int i = 0; i < 70; ++i) {
    slow.push_back(std::make_unique<Raw>(rig.port(), "127.0.0." + std::to_string(2 + i / 8)));
    slow.back()->Send(Head(rig, "GET /healthz"));
  }
  std::vector<std::unique_ptr<Raw>> crowd;
  for (int i = 0; i < 9; ++i) crowd.push_back(std::make_unique<Raw>(rig.port(), "127.0.0.20"));
  const std::string refused = crowd.back()->Read(2000);
  EXPECT_EQ(HttpStatus(refused), 503) << refused;
  EXPECT_NE(refused.find("Retry-After: 1"), std::string::npos);
  for (int round = 0; round < 3; ++round) {
    for (auto& s : slow) s->Send("X-Slow: 1\r\n");
    EXPECT_EQ(rig.Call("GET", "/healthz", nullptr, {}, nullptr, 5).status, 200);
    EXPECT_EQ(rig.Call("GET", "/v1/registers", nullptr, {}, kPos, 5).status, 200);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  // The head's time ran out for every slow one.
  for (auto& s : slow) EXPECT_EQ(HttpStatus(s->Read(3000)), 408);
}

TEST(BridgeDoorTest, AnswersOnlyToItsOwnNamesAndSaysSoWithoutCaching) {
  BridgeRig rig;
  rig.AddBridgeArgs({"--allow-host", "till.local"});
  ASSERT_NO_FATAL_FAILURE(rig.Start());
  const std::string port = ":" + std::to_string(rig.port());
  const struct {
    std::string host, origin;
    int status;
  } cases[] = {
      {"127.0.0.1" + port, "", 200},
      {"localhost" + port, "", 200},
      {"till.local" + port, "http://till.local" + port, 200},
      {"rebound.example" + port, "", 403},
      // Same-origin by the old rule: the page's origin matched its Host.
      {"rebound.example" + port, "http://rebound.example" + port, 403},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.host);
    httplib::Headers h = {{"Host", c.host}};
    if (!c.origin.empty()) h.emplace("Origin", c.origin);
    const Got g = rig.Call("GET", "/v1/registers", nullptr, h, kPos);
    EXPECT_EQ(g.status, c.status) << g.body.dump();
    if (c.status == 403) {
      EXPECT_EQ(g.body["code"], "auth.host");
    }
    const Got health = rig.Call("GET", "/healthz", nullptr, {{"Host", c.host}}, nullptr);
    EXPECT_EQ(health.status, c.status);
  }
  for (const char* path : {"/v1/registers", "/v1/nowhere", "/v1/tasks/00"}) {
    const Got g = rig.Call("GET", path, nullptr, {}, kPos);
    auto header = [&](const char* name) { return g.headers.count(name) != 0 ? g.headers.find(name)->second : ""; };
    EXPECT_EQ(header("Cache-Control"), "no-store") << path;
    EXPECT_EQ(header("X-Content-Type-Options"), "nosniff") << path;
  }

  // A request httplib cannot read is logged as itself, with no other's task.
  ASSERT_EQ(rig.Post("/cancel", json::object(), "logged-key").status, 200);
  Raw bad(rig.port());
  bad.Send("NOT A REQUEST\r\nHost: 127.0.0.1" + port + "\r\n\r\n");
  EXPECT_EQ(HttpStatus(bad.Read(3000)), 400);
  ASSERT_TRUE(Eventually([&] { return ReadAll(rig.log()).find("\"status\":400") != std::string::npos; }, 3000));
  std::istringstream log(ReadAll(rig.log()));
  for (std::string line; std::getline(log, line);) {
    const json j = json::parse(line, nullptr, false);
    if (j.value("status", 0) != 400) continue;
    EXPECT_EQ(j["route"], "invalid") << line;
    EXPECT_FALSE(j.contains("task")) << line;
  }
}

TEST(BridgeDoorTest, ServesHttpsWithTheCertificateItIsGiven) {
  BridgeRig rig;
  const std::string key = rig.dir() + "/key.pem", cert = rig.dir() + "/cert.pem";
  const std::string make = "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=localhost -keyout " + key +
                           " -out " + cert + " 2>/dev/null";
  ASSERT_EQ(std::system(make.c_str()), 0);
  rig.UseTls(cert, key);
  ASSERT_NO_FATAL_FAILURE(rig.Start());
  EXPECT_EQ(rig.Call("GET", "/v1/registers", nullptr, {}, kPos).status, 200);
  EXPECT_EQ(rig.Post("/cancel", json::object(), "over-tls", kPos).status, 200);
  Raw plain(rig.port());
  plain.Send(Head(rig, "GET /healthz", "\r\n"));
  EXPECT_EQ(HttpStatus(plain.Read(3000)), 0) << "no plain HTTP on a TLS port";
}

TEST(BridgeDoorTest, ManyKeyedJobsAfterTheKeptTasksNeverCrashIt) {
  BridgeRig rig;
  ASSERT_NO_FATAL_FAILURE(StartWithLimits(&rig, {{"kept_tasks", 20}}));
  // Asynchronous jobs past the tasks kept, then keyed requests from many
  // threads: keys pruned while their requests still waited crashed it.
  for (int i = 0; i < 40; ++i) {
    const Got g = rig.Call("POST", "/v1/registers/main/cancel", json::object(),
                           {{"Idempotency-Key", "async-" + std::to_string(i)}, {"Prefer", "respond-async"}}, kPos);
    ASSERT_EQ(g.status, 202) << g.body.dump();
  }
  std::mutex mu;
  std::map<int, int> statuses;
  std::vector<std::thread> tills;
  for (int t = 0; t < 32; ++t) {
    tills.emplace_back([&, t] {
      for (int i = 0; i < 5; ++i) {
        const Got g = rig.Post("/cancel", json::object(), "sync-" + std::to_string(t) + "-" + std::to_string(i), kPos);
        std::lock_guard<std::mutex> l(mu);
        ++statuses[g.status];
        if (g.status != 200) ADD_FAILURE() << g.status << " " << g.error << " " << g.body.dump();
      }
    });
  }
  for (auto& t : tills) t.join();
  EXPECT_EQ(statuses[200], 160);
  EXPECT_EQ(rig.Call("GET", "/healthz").status, 200);
  EXPECT_EQ(kill(rig.bridge().pid(), 0), 0) << rig.bridge().Stderr();
}

TEST(BridgeDoorTest, AStreamResumedPastTheKeptEventsResetsOnce) {
  BridgeRig rig;
  ASSERT_NO_FATAL_FAILURE(StartWithLimits(&rig, {{"kept_events", 5}}));
  for (int i = 0; i < 5; ++i) ASSERT_EQ(rig.Post("/cancel", json::object()).status, 200);
  Raw stream(rig.port());
  stream.Send(Head(rig, "GET /v1/events", std::string("Authorization: Bearer ") + kPos + "\r\nLast-Event-ID: 1\r\n\r\n"));
  const std::string got = stream.Read(1500);
  size_t resets = 0;
  for (size_t at = got.find("event: reset"); at != std::string::npos; at = got.find("event: reset", at + 1)) ++resets;
  EXPECT_EQ(resets, 1u) << got.size() << " bytes";
  // It goes on from the newest event: the next one comes through.
  ASSERT_EQ(rig.Post("/cancel", json::object()).status, 200);
  EXPECT_NE(stream.Read(1500).find("event: task"), std::string::npos);
}

TEST(BridgeDoorTest, AFullRegisterQueueIsRefusedWithRetryAfter) {
  BridgeRig rig;
  ASSERT_NO_FATAL_FAILURE(StartWithLimits(&rig, {{"register_queue", 2}}));
  // Reports print for a while: the first runs, two wait, the rest are turned away.
  std::map<int, int> statuses;
  for (int i = 0; i < 8; ++i) {
    const Got g = rig.Call("POST", "/v1/registers/main/reports/x", {{"cashier", Cashier()}},
                           {{"Prefer", "respond-async"}}, kPos);
    ++statuses[g.status];
    if (g.status == 503) {
      EXPECT_EQ(g.body["code"], "bridge.busy");
      EXPECT_EQ(g.headers.count("Retry-After"), 1u);
    }
  }
  EXPECT_GE(statuses[202], 1);
  EXPECT_LE(statuses[202], 3);
  EXPECT_EQ(statuses[202] + statuses[503], 8);
}

}  // namespace
