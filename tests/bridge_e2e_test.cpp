// fr-bridge as a POS sees it: a day over HTTP against fr-emu and the real
// fr-core, checked against the archive; its door (tokens, origins, keys);
// and exactly-once receipts while replies are lost and the bridge and the
// register are killed.
//
// FR_BRIDGE_CLIENTS and FR_BRIDGE_RECEIPTS size the exactly-once run (3
// clients of 5 receipts unless set). FR_BRIDGE_RECORD names a file where
// every answer is kept (one JSON line each) for the interface document's
// check.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include "app/codes.h"
#include "platform/env.h"
#include "tools/common/archive_check.h"
#include "tools/common/device_process.h"
#include "tools/common/sandbox.h"
#include "tools/sim/test_util.h"
#include "tests/bridge_rig.h"

namespace {

using namespace bridgetest;

TEST(BridgeTest, ADayOverHttpIsWhatTheRegisterStored) {
  BridgeRig rig;
  ASSERT_NO_FATAL_FAILURE(rig.Start());
  ASSERT_NO_FATAL_FAILURE(Prepare(&rig));

  // Events from the start, read alongside.
  std::mutex mu;
  std::vector<std::string> events;
  std::atomic<bool> stop{false};
  struct Stop {
    std::atomic<bool>* flag;
    ~Stop() { *flag = true; }
  };
  struct Joined : std::thread {
    using std::thread::thread;
    ~Joined() {
      if (joinable()) join();
    }
  };
  Joined reader([&] {
    httplib::Client c("127.0.0.1", rig.port());
    c.set_read_timeout(30, 0);
    c.Get("/v1/events", {{"Authorization", std::string("Bearer ") + kPos}},
          [&](const char* data, size_t n) {
            std::lock_guard<std::mutex> l(mu);
            events.emplace_back(data, n);
            return !stop;
          });
  });
  const Stop stopper{&stop};  // before the reader is joined, whatever fails

  std::vector<Got> docs;
  docs.push_back(rig.Post("/shift/open", {{"cashier", Cashier()}}, "day-open"));
  const json sale = {{"type", "sale"},
                     {"cashier", Cashier()},
                     {"lines", {Line("Чай", 12990, "1.5", 1, 1), Line("Хлеб", 4550, 2, 2)}},
                     {"payment", {{"cash", 30000}, {"cashless", 0}}}};
  docs.push_back(rig.Post("/receipts", sale, "day-sale"));
  const Got again = rig.Post("/receipts", sale, "day-sale");
  docs.push_back(rig.Post("/receipts",
                          {{"type", "return-sale"}, {"cashier", Cashier()}, {"lines", {Line("Хлеб", 4550, 1, 2)}},
                           {"payment", {{"cash", 4550}}}},
                          "day-return"));
  // The cached status knows at once what the closes told.
  const Got cached = rig.Call("GET", "/v1/registers/main/status", nullptr, {}, kPos);
  EXPECT_EQ(cached.body["shift"]["receipts"], docs.back().body["receipt_number"]) << cached.body.dump();
  EXPECT_EQ(cached.body["last_document"]["number"], docs.back().body["number"]) << cached.body.dump();
  EXPECT_TRUE(cached.body.contains("age_ms"));
  docs.push_back(rig.Post("/cash-in", {{"cashier", Cashier()}, {"amount", 50000}}, "day-in"));
  ASSERT_EQ(docs.back().status, 201) << docs.back().body.dump();
  // A return of sale brings cash in, as a sale does; the shift closes on an
  // empty drawer.
  EXPECT_EQ(docs.back().body["drawer"], 27611 + 4550 + 50000);
  docs.push_back(rig.Post("/cash-out", {{"cashier", Cashier()}, {"amount", docs.back().body["drawer"]}}, "day-out"));
  for (const Got& d : docs) ASSERT_EQ(d.status, 201) << d.body.dump();
  EXPECT_EQ(docs.back().body["drawer"], 0);

  // The sale: 1.5 × 129.90 less 5 % and 2 × 45.50; the change from 300.00.
  const json& s = docs[1].body;
  EXPECT_EQ(s["receipt_type"], "sale");
  EXPECT_EQ(s["total"], 27611);
  EXPECT_EQ(s["total_decimal"], "276.11");
  EXPECT_EQ(s["change"], 30000 - 27611);
  EXPECT_EQ(again.status, 201);
  EXPECT_EQ(again.body, s) << "a repeat answers the first outcome";
  EXPECT_EQ(again.headers.count("Idempotent-Replayed"), 1u);

  // An X report as a task; the Z report waited for.
  const Got task = rig.Call("POST", "/v1/registers/main/reports/x", {{"cashier", Cashier()}}, {{"Prefer", "respond-async"}});
  ASSERT_EQ(task.status, 202) << task.body.dump();
  const std::string location = task.headers.find("Location")->second;
  Got done;
  ASSERT_TRUE(Eventually([&] { return (done = rig.Call("GET", location)).body["state"] == "done"; }, 20000));
  EXPECT_EQ(done.body["status"], 200);
  EXPECT_EQ(done.body["result"]["printed"], true);
  const Got z = rig.Post("/shift/close", {{"cashier", Cashier()}}, "day-z");
  ASSERT_EQ(z.status, 201) << z.body.dump();
  docs.push_back(z);

  // What the register stored is what the POS was told.
  const sim::ArchiveCheck archive = rig.Archive();
  ASSERT_TRUE(archive.ok()) << archive.Text();
  const auto& stored = archive.summary.documents;
  ASSERT_EQ(stored.size(), 7u);  // registration, then the day's six
  for (const Got& d : docs) {
    const sim::StoredDocument& a = stored.at(d.body["number"].get<size_t>() - 1);
    EXPECT_EQ(d.body["fiscal_sign"], a.fiscal_sign) << d.body.dump();
    if (d.body["document"] == "receipt") {
      EXPECT_EQ(d.body["total"], a.total) << d.body.dump();
    }
  }
  const Got status = rig.Call("GET", "/v1/registers/main/status?fresh=1");
  ASSERT_EQ(status.status, 200);
  EXPECT_EQ(status.body["shift"]["open"], false);
  EXPECT_EQ(status.body["last_document"]["number"], 7);
  EXPECT_TRUE(status.body["open_document"].is_null());
  // The console's first look: the documents newest first, and the receipt's
  // paper under its number.
  const Got recent = rig.Call("GET", "/v1/registers/main/documents", nullptr, {}, kPos);
  ASSERT_EQ(recent.status, 200);
  const json& listed = recent.body["documents"];
  ASSERT_GE(listed.size(), docs.size());
  EXPECT_EQ(listed[0], z.body);
  for (size_t i = 0; i < docs.size(); ++i) EXPECT_EQ(listed[i], docs[docs.size() - 1 - i].body) << i;
  EXPECT_EQ(recent.body["gaps"], json::array()) << "every document went through this bridge";
  // Each again by its number, lines included, and a page at a time.
  const Got one = rig.Call("GET", "/v1/registers/main/documents/" + s["number"].dump(), nullptr, {}, kPos);
  EXPECT_EQ(one.body, s);
  EXPECT_EQ(one.body["lines"][0]["quantity"], "1.5");
  const Got none = rig.Call("GET", "/v1/registers/main/documents/999", nullptr, {}, kPos);
  EXPECT_EQ(none.status, 404);
  EXPECT_EQ(none.body["code"], "document.not-found");
  const Got page = rig.Call("GET", "/v1/registers/main/documents?limit=2", nullptr, {}, kPos);
  ASSERT_EQ(page.body["documents"].size(), 2u);
  EXPECT_EQ(page.body["more"], true);
  const Got rest = rig.Call("GET", "/v1/registers/main/documents?before=" + page.body["documents"][1]["number"].dump(),
                            nullptr, {}, kPos);
  EXPECT_EQ(page.body["documents"].size() + rest.body["documents"].size(), listed.size());
  EXPECT_EQ(rest.body["more"], false);
  const Got shift = rig.Call("GET", "/v1/registers/main/documents?shift=1&after=1", nullptr, {}, kPos);
  EXPECT_EQ(shift.body["documents"].size(), docs.size()) << "the day's documents, the registration before them";
  EXPECT_EQ(rig.Call("GET", "/v1/registers/main/documents?limit=501", nullptr, {}, kPos).status, 400);
  Got paper;
  ASSERT_TRUE(Eventually([&] {
    paper = rig.Call("GET", "/v1/registers/main/paper", nullptr, {}, kPos);
    for (const json& sheet : paper.body["sheets"]) {
      if (sheet["document"] == s["number"]) return true;
    }
    return false;
  }, 10000)) << paper.body.dump();
  EXPECT_EQ(paper.body["virtual"], true);
  std::string sale_sheet;
  for (const json& sheet : paper.body["sheets"]) {
    if (sheet["document"] == s["number"]) sale_sheet = sheet["sheet"];
  }
  httplib::Client c("127.0.0.1", rig.port());
  const auto png = c.Get(("/v1/registers/main/paper/" + sale_sheet + ".png").c_str(),
                         {{"Authorization", std::string("Bearer ") + kPos}});
  ASSERT_TRUE(png);
  EXPECT_EQ(png->status, 200);
  EXPECT_EQ(png->body.compare(0, 4, "\x89PNG"), 0);
  EXPECT_EQ(rig.Call("GET", "/v1/registers/main/paper/" + sale_sheet + ".exe", nullptr, {}, kPos).status, 404);

  const Got totals = rig.Call("GET", "/v1/registers/main/totals/gross");
  ASSERT_EQ(totals.status, 200);
  EXPECT_EQ(totals.body["operations"]["sale"]["total"], archive.summary.gross.block(0).total());

  // The stream told of the documents, the shift and the paper as they came.
  std::ofstream(rig.board() + "/printer-state") << "near-end";
  ASSERT_TRUE(Eventually([&] {
    std::lock_guard<std::mutex> l(mu);
    std::string all;
    for (const std::string& e : events) all += e;
    return all.find("\"document\":\"shift-close\"") != std::string::npos &&
           all.find("\"paper\":\"near-end\"") != std::string::npos;
  }, 10000));
  stop = true;
  std::ofstream(rig.board() + "/printer-state") << "ready";  // one more event ends the reader
  reader.join();
  std::string all;
  for (const std::string& e : events) all += e;
  EXPECT_NE(all.find("event: document\n"), std::string::npos);
  EXPECT_NE(all.find("\"changed\":[\"shift\""), std::string::npos) << all.substr(0, 2000);
  EXPECT_NE(all.find("\nid: "), std::string::npos);

  // An id from an earlier run of the bridge (beyond any this run gave)
  // starts the stream afresh.
  std::string first;
  httplib::Client c2("127.0.0.1", rig.port());
  c2.Get("/v1/events", {{"Authorization", std::string("Bearer ") + kPos}, {"Last-Event-ID", "99999999"}},
         [&](const char* data, size_t n) {
           first.append(data, n);
           return false;
         });
  EXPECT_EQ(first.rfind("event: reset\n", 0), 0u) << first;
}

}  // namespace

namespace {

TEST(BridgeTest, KeepsItsDoor) {
  BridgeRig rig;
  ASSERT_NO_FATAL_FAILURE(rig.Start());
  ASSERT_NO_FATAL_FAILURE(Prepare(&rig));
  // A cashier whose password must stay out of the log and the journal.
  ASSERT_EQ(rig.Call("PUT", "/v1/registers/main/tables/cashiers/3",
                     {{"name", "Петрова"}, {"password", kSecretPassword}, {"rights", 0x1FF}})
                .status,
            200);
  const json cashier = {{"number", 3}, {"password", kSecretPassword}};
  ASSERT_EQ(rig.Post("/shift/open", {{"cashier", cashier}}, "door-open", kPos).status, 201);
  const json sale = {{"type", "sale"}, {"cashier", cashier}, {"lines", {Line("Вода", 5000, 1, 1)}},
                     {"payment", {{"cash", 5000}}}};
  const size_t jobs = rig.JobLines();

  const struct {
    const char* what;
    std::string method, path;
    json body;
    httplib::Headers headers;
    const char* token;
    int status;
    const char* code;
  } cases[] = {
      {"no token", "GET", "/v1/registers", nullptr, {}, nullptr, 401, "auth.token-required"},
      {"an unknown token", "GET", "/v1/registers", nullptr, {}, "not-a-token-at-all-0000", 401, "auth.token-required"},
      {"pos on an admin route", "PUT", "/v1/registers/main/clock", {{"time", "2035-01-01T00:00:00Z"}}, {}, kPos, 403,
       "auth.forbidden"},
      {"a receipt without a key", "POST", "/v1/registers/main/receipts", sale, {}, kPos, 400,
       "request.idempotency-key-required"},
      {"an unknown register", "GET", "/v1/registers/other/status", nullptr, {}, kPos, 404, "route.unknown-register"},
      {"an unknown route", "GET", "/v1/nothing", nullptr, {}, kPos, 404, "route.not-found"},
      {"another origin", "GET", "/v1/registers", nullptr, {{"Origin", "http://evil.example"}}, kPos, 403,
       "auth.origin"},
      {"a body that is not JSON", "POST", "/v1/registers/main/cash-in", nullptr, {{"Idempotency-Key", "k-json"}},
       kPos, 400, "request.invalid-json"},
  };
  for (const auto& c : cases) {
    const Got g = rig.Call(c.method, c.path, c.body, c.headers, c.token);
    EXPECT_EQ(g.status, c.status) << c.what << ": " << g.body.dump();
    EXPECT_EQ(g.body.value("code", ""), c.code) << c.what;
  }
  // The same key with another body; the first is answered again as it was.
  ASSERT_EQ(rig.Post("/receipts", sale, "door-sale", kPos).status, 201);
  json other = sale;
  other["lines"][0]["price"] = 5001;
  other["payment"]["cash"] = 5001;
  const Got conflict = rig.Post("/receipts", other, "door-sale", kPos);
  EXPECT_EQ(conflict.status, 409);
  EXPECT_EQ(conflict.body["code"], "idempotency.conflict");
  EXPECT_EQ(rig.JobLines(), jobs + 1) << "only the sale reached the register";
  // A refusal is an outcome too, replayed with its status.
  const json over = {{"cashier", cashier}, {"amount", 99999999}};
  const Got refused = rig.Post("/cash-out", over, "door-out", kPos);
  EXPECT_EQ(refused.status, 422);
  EXPECT_EQ(refused.body["result_code"], rc::kNoCash);
  EXPECT_EQ(refused.body["retry"], "new-key");
  const Got replayed = rig.Post("/cash-out", over, "door-out", kPos);
  EXPECT_EQ(replayed.status, 422);
  EXPECT_EQ(replayed.body["result_code"], rc::kNoCash);
  EXPECT_EQ(replayed.body["retry"], "new-key");
  EXPECT_NE(replayed.body.value("detail", "").find("nothing was stored"), std::string::npos) << replayed.body.dump();
  // The same request written otherwise (key order, spacing) is the same request.
  const std::string reordered = "{\n  \"payment\": " + sale["payment"].dump(2) + " ,\"lines\":" + sale["lines"].dump() +
                                ", \"type\": \"sale\", \"cashier\": " + cashier.dump(1) + "}";
  httplib::Client raw("127.0.0.1", rig.port());
  const auto same = raw.Post("/v1/registers/main/receipts",
                             {{"Authorization", std::string("Bearer ") + kPos}, {"Idempotency-Key", "door-sale"}},
                             reordered, "application/json");
  ASSERT_TRUE(same);
  EXPECT_EQ(same->status, 201) << same->body;
  EXPECT_EQ(same->get_header_value("Idempotent-Replayed"), "true");
  EXPECT_EQ(rig.JobLines(), jobs + 2) << "the sale and the refused cash-out reached the register, nothing else";

  // Browsers: a pre-flight from the allowed origin, also for a private network.
  const Got pre = rig.Call("OPTIONS", "/v1/registers/main/receipts", nullptr,
                           {{"Origin", "http://till.example"}, {"Access-Control-Request-Method", "POST"},
                            {"Access-Control-Request-Headers", "authorization, idempotency-key"},
                            {"Access-Control-Request-Private-Network", "true"}},
                           nullptr);
  EXPECT_EQ(pre.status, 204);
  auto header = [&](const Got& g, const char* name) {
    auto it = g.headers.find(name);
    return it == g.headers.end() ? std::string() : it->second;
  };
  EXPECT_EQ(header(pre, "Access-Control-Allow-Origin"), "http://till.example");
  EXPECT_EQ(header(pre, "Access-Control-Allow-Private-Network"), "true");
  EXPECT_NE(header(pre, "Access-Control-Allow-Headers").find("Idempotency-Key"), std::string::npos);
  const Got bad_pre = rig.Call("OPTIONS", "/v1/registers", nullptr,
                               {{"Origin", "http://evil.example"}, {"Access-Control-Request-Method", "GET"}}, nullptr);
  EXPECT_EQ(bad_pre.status, 403);
  EXPECT_EQ(header(bad_pre, "Access-Control-Allow-Origin"), "");

  // The password went by in several requests: neither the log nor the
  // journal has it.
  const std::string secret = std::to_string(kSecretPassword);
  EXPECT_EQ(ReadAll(rig.log()).find(secret), std::string::npos);
  for (const auto& f : fs::directory_iterator(rig.state())) {
    EXPECT_EQ(ReadAll(f.path().string()).find(secret), std::string::npos) << f.path();
  }
  EXPECT_NE(ReadAll(rig.log()).find("door-sale"), std::string::npos) << "the log names keys";
}

// A supervisor waits for /healthz: it says "starting" while a register has
// never answered.
TEST(BridgeTest, IsStartingUntilEveryRegisterAnswered) {
  BridgeRig rig;
  rig.AddBridgeArgs({"--register", "far=" + rig.dir() + "/no-such-line"});
  ASSERT_NO_FATAL_FAILURE(rig.Start());
  const Got health = rig.Call("GET", "/healthz", nullptr, {}, nullptr);
  EXPECT_EQ(health.status, 503);
  EXPECT_EQ(health.body["status"], "starting");
  EXPECT_EQ(health.body["registers"]["main"], "online");
  EXPECT_EQ(health.body["registers"]["far"], "offline");
}

}  // namespace

namespace {

// Several tills send receipts, each with its own keys, and retry every
// unanswered one with the same key, while replies are lost, the bridge is
// killed and started again, and so is fr-core. In the end each key is one
// document, with the total its till sent.
TEST(BridgeExactlyOnceTest, EveryKeyIsOneDocumentThroughFaults) {
  const int clients = EnvInt("FR_BRIDGE_CLIENTS", 3);
  const int receipts = EnvInt("FR_BRIDGE_RECEIPTS", 5);
  BridgeRig rig;
  ASSERT_NO_FATAL_FAILURE(rig.Start());
  ASSERT_NO_FATAL_FAILURE(Prepare(&rig));
  ASSERT_EQ(rig.Post("/shift/open", {{"cashier", Cashier()}}, "faults-open").status, 201);
  const uint32_t first = rig.Archive().summary.last_number + 1;

  struct Sent {
    int64_t total = 0;
    int status = 0;
    json body;
    int tries = 0;
  };
  std::mutex mu;
  std::map<std::string, Sent> sent;
  std::atomic<int> running{clients};
  std::vector<std::thread> tills;
  for (int c = 0; c < clients; ++c) {
    tills.emplace_back([&, c] {
      std::mt19937 rnd(static_cast<uint32_t>(c + 1));
      for (int i = 0; i < receipts; ++i) {
        const std::string key = "till" + std::to_string(c) + "-" + std::to_string(i);
        json lines = json::array();
        int64_t total = 0;
        for (int n = 1 + static_cast<int>(rnd() % 3); n > 0; --n) {
          const int64_t price = 100 + rnd() % 10000, quantity = 1 + rnd() % 3;
          lines.push_back(Line("Товар", price, quantity, 1));
          total += price * quantity;
        }
        const json body = {{"type", "sale"}, {"cashier", Cashier()}, {"lines", lines}, {"payment", {{"cash", total}}}};
        Sent s;
        s.total = total;
        // Retried with the same key until an answer that is not "try again".
        for (;;) {
          ++s.tries;
          const Got g = rig.Post("/receipts", body, key);
          if (g.status != 0 && g.status != 503 && g.status != 504) {
            s.status = g.status;
            s.body = g.body;
            break;
          }
          std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        std::lock_guard<std::mutex> l(mu);
        sent[key] = s;
      }
      --running;
    });
  }
  // The faults, one after another while the tills work.
  std::mt19937 rnd(42);
  int bridge_kills = 0, core_kills = 0;
  std::ofstream(rig.board() + "/lose-replies") << "share 0.03 7";
  while (running > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(700 + rnd() % 1500));
    if (running == 0) break;
    if (rnd() % 2 == 0) {
      rig.KillBridge();
      ++bridge_kills;
      std::this_thread::sleep_for(std::chrono::milliseconds(rnd() % 500));
      ASSERT_NO_FATAL_FAILURE(rig.StartBridge());
    } else {
      std::ofstream(rig.board() + "/restart") << "";
      ++core_kills;
    }
  }
  for (auto& t : tills) t.join();
  std::ofstream(rig.board() + "/lose-replies") << "";

  // Every key answered "stored" is exactly one receipt with its total, and
  // every receipt after the shift's opening has a key.
  const sim::ArchiveCheck archive = rig.Archive();
  ASSERT_TRUE(archive.ok()) << archive.Text();
  std::set<uint32_t> numbers;
  int settled = 0, tries = 0;
  for (const auto& [key, s] : sent) {
    tries += s.tries;
    ASSERT_EQ(s.status, 201) << key << ": " << s.body.dump();
    const uint32_t n = s.body["number"];
    EXPECT_TRUE(numbers.insert(n).second) << key << " shares document " << n;
    ASSERT_GE(n, first);
    ASSERT_LE(n, archive.summary.documents.size());
    const sim::StoredDocument& d = archive.summary.documents[n - 1];
    EXPECT_EQ(d.total, s.total) << key;
    if (s.body.contains("total")) {
      EXPECT_EQ(s.body["total"], s.total) << key;
    }
    settled += s.body.value("settled", false);
  }
  EXPECT_EQ(archive.summary.documents.size() - (first - 1), sent.size()) << "a receipt without a key";
  EXPECT_EQ(sent.size(), static_cast<size_t>(clients * receipts));
  const Got status = rig.Call("GET", "/v1/registers/main/status?fresh=1");
  EXPECT_TRUE(status.body["open_document"].is_null()) << status.body.dump();
  std::printf("exactly once: %d clients x %d receipts, %d tries, %d settled after a lost reply, "
              "bridge killed %d times, fr-core %d times\n",
              clients, receipts, tries, settled, bridge_kills, core_kills);
}

}  // namespace

namespace {

// The close's reply is lost and the register restarts before it can be asked
// again: the bridge learns from the register's status that the receipt was
// stored, and says which fields it could not learn again.
TEST(BridgeTest, ALostCloseReplyIsSettledFromTheRegistersState) {
  BridgeRig rig;
  ASSERT_NO_FATAL_FAILURE(rig.Start());
  ASSERT_NO_FATAL_FAILURE(Prepare(&rig));
  ASSERT_EQ(rig.Post("/shift/open", {{"cashier", Cashier()}}, "lost-open").status, 201);
  std::ofstream(rig.board() + "/lose-replies") << "next-close";
  ASSERT_TRUE(rig.emu().WaitForStdout("the next close will be lost", 5000)) << rig.emu().Stdout();
  const json sale = {{"type", "sale"}, {"cashier", Cashier()}, {"lines", {Line("Сок", 9900, 1, 1)}},
                     {"payment", {{"cash", 10000}}}};
  Got got;
  std::thread till([&] { got = rig.Post("/receipts", sale, "lost-sale"); });
  const bool lost = rig.emu().WaitForStdout("fr-emu: reply ", 20000);
  std::ofstream(rig.board() + "/restart") << "";
  till.join();
  ASSERT_TRUE(lost) << rig.emu().Stdout();

  ASSERT_EQ(got.status, 201) << got.body.dump();
  const sim::ArchiveCheck archive = rig.Archive();
  ASSERT_TRUE(archive.ok()) << archive.Text();
  const sim::StoredDocument& stored = archive.summary.documents.back();
  EXPECT_EQ(got.body["number"], stored.number);
  EXPECT_EQ(got.body["settled"], true);
  EXPECT_FALSE(got.body.contains("fiscal_sign")) << "never guessed";
  EXPECT_EQ(got.body["missing"], json({"fiscal_sign", "total", "change", "payment"}));
  EXPECT_EQ(got.body["receipt_number"], stored.receipt_number);
  EXPECT_EQ(stored.total, 9900);
  const Got again = rig.Post("/receipts", sale, "lost-sale");
  EXPECT_EQ(again.body, got.body);
  EXPECT_EQ(rig.Archive().summary.documents.size(), archive.summary.documents.size());
}

}  // namespace
