// The uplink against a real Mosquitto on loopback: every document the
// register stored through the bridge reaches the broker once acknowledged,
// in number order, across a broker restart and a bridge killed outright;
// the status is retained and the last will reads offline.
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "tests/fleet_rig.h"

namespace bridgetest {
namespace {

json Sale(int64_t price) {
  return {
      {"type", "sale"}, {"cashier", Cashier()}, {"lines", {Line("Сок", price, 1, 1)}}, {"payment", {{"cash", price}}}};
}

TEST(BridgeUplinkTest, EveryDocumentReachesTheBrokerOnceAcknowledgedInOrder) {
  BridgeRig rig;
  Broker broker(rig.dir() + "/broker");
  // The bridge comes up before the broker: it keeps trying.
  rig.AddBridgeArgs({"--uplink", "mqtt://127.0.0.1:" + std::to_string(broker.port()), "--site", "shop1"});
  ASSERT_NO_FATAL_FAILURE(rig.Start());
  ASSERT_NO_FATAL_FAILURE(Prepare(&rig));
  ASSERT_TRUE(broker.Start());
  Office office(broker.port(), "fr/v1/shop1/main");
  ASSERT_EQ(rig.Post("/shift/open", {{"cashier", Cashier()}}, "open").status, 201);
  ASSERT_EQ(rig.Post("/receipts", Sale(100), "a").status, 201);
  ASSERT_EQ(rig.Post("/receipts", Sale(200), "b").status, 201);
  // Without a key: whatever it stored is published all the same.
  ASSERT_EQ(rig.Call("POST", "/v1/registers/main/reports/x", {{"cashier", Cashier()}}).status, 200);
  ASSERT_TRUE(Eventually([&] { return office.LastStatus().value("online", false); }, 10000));

  // The back office's requests: carried out once, answered as HTTP would;
  // bad ones answered without reaching the register.
  const json receipt = {{"action", "receipt"}, {"body", Sale(500)}};
  office.Request("office-1", receipt);
  ASSERT_TRUE(Eventually([&] { return !office.Replies("office-1").empty(); }, 30000));
  office.Request("office-1", receipt);  // again: the answer it had
  ASSERT_TRUE(Eventually([&] { return office.Replies("office-1").size() >= 2; }, 30000));
  EXPECT_EQ(office.Replies("office-1")[0]["status"], 201) << office.Replies("office-1")[0].dump();
  EXPECT_EQ(office.Replies("office-1")[1]["body"], office.Replies("office-1")[0]["body"]);
  const size_t stored_before = rig.Archive().summary.documents.size();
  const std::pair<const char*, std::string> bad[] = {
      {"not-json", "{\"action\": "},
      {"unknown", R"({"action": "refund", "body": {}})"},
      {"would-be-400", json{{"action", "receipt"}, {"body", {{"type", "sale"}}}}.dump()},
      {"expired", json{{"action", "receipt"}, {"body", Sale(600)}, {"not_after", "2020-01-01T00:00:00Z"}}.dump()},
      {"too-large", std::string(2 * 1024 * 1024, ' ')},
  };
  for (const auto& [id, payload] : bad) office.Publish(std::string("fr/v1/shop1/main/requests/") + id, payload);
  for (const auto& [id, payload] : bad) {
    ASSERT_TRUE(Eventually([&, id = id] { return !office.Replies(id).empty(); }, 10000)) << id;
    const json reply = office.Replies(id)[0];
    EXPECT_GE(reply["status"].get<int>(), 400) << id << ": " << reply.dump();
    EXPECT_TRUE(reply["body"].contains("type")) << id << " is answered with a problem: " << reply.dump();
  }
  EXPECT_EQ(rig.Archive().summary.documents.size(), stored_before);

  // The broker away: the till is served, the documents wait in the outbox.
  broker.Stop();
  ASSERT_EQ(rig.Post("/receipts", Sale(300), "c").status, 201);
  ASSERT_TRUE(broker.Start());

  // A bridge killed outright: its will says the register went offline.
  const auto all_published = [&] {
    const std::vector<uint32_t> got = office.Documents();
    return std::set<uint32_t>(got.begin(), got.end()).size() == rig.Archive().summary.documents.size();
  };
  ASSERT_TRUE(Eventually(all_published, 30000)) << ::testing::PrintToString(office.Documents());
  rig.KillBridge();
  ASSERT_TRUE(Eventually(
      [&] {
        return office.LastStatus() == json{{"register", "main"}, {"site", "shop1"}, {"online", false}};
      },
      60000))
      << office.LastStatus().dump();
  // A request that came while the bridge was away runs once it is back; so
  // does a ledger's resend.
  office.Request("office-2", {{"action", "receipt"}, {"body", Sale(700)}});
  const auto times_seen = [&](uint32_t n) {
    const std::vector<uint32_t> got = office.Documents();
    return std::count(got.begin(), got.end(), n);
  };
  const uint32_t last = rig.Archive().summary.documents.back().number;
  const auto seen_before = times_seen(last);
  office.Publish("fr/v1/shop1/main/resend", json{{"serial", "4200012345"}, {"after", last - 1}}.dump());
  ASSERT_NO_FATAL_FAILURE(rig.StartBridge());
  EXPECT_TRUE(Eventually([&] { return times_seen(last) > seen_before; }, 30000))
      << ::testing::PrintToString(office.Documents());
  ASSERT_EQ(rig.Post("/receipts", Sale(400), "d").status, 201);
  ASSERT_TRUE(Eventually([&] { return !office.Replies("office-2").empty(); }, 30000));
  EXPECT_EQ(office.Replies("office-2")[0]["status"], 201) << office.Replies("office-2")[0].dump();
  ASSERT_TRUE(Eventually(all_published, 30000)) << ::testing::PrintToString(office.Documents());

  // Each stored document came, first seen in number order, with the body the
  // bridge answered.
  std::vector<uint32_t> first_seen;
  std::set<uint32_t> seen;
  for (uint32_t n : office.Documents()) {
    if (seen.insert(n).second) first_seen.push_back(n);
  }
  std::vector<uint32_t> stored;
  for (const sim::StoredDocument& d : rig.Archive().summary.documents) stored.push_back(d.number);
  EXPECT_EQ(first_seen, stored);
  const Got fetched = rig.Call("GET", "/v1/registers/main/documents/" + std::to_string(stored.back()));
  for (const auto& [topic, payload] : office.Got()) {
    if (topic == "fr/v1/shop1/main/documents" && json::parse(payload)["number"] == stored.back()) {
      json published = json::parse(payload);
      EXPECT_EQ(published["serial"], "4200012345");
      published.erase("serial");
      EXPECT_EQ(published, fetched.body);
    }
  }
  EXPECT_TRUE(office.LastStatus().value("online", false)) << office.LastStatus().dump();
  EXPECT_TRUE(Eventually([&] { return Waiting(rig.state() + "/journal.sqlite") == 0; }, 10000)) << Waiting(rig.state() + "/journal.sqlite");

  // A ledger that lost documents asks for them again: those after the
  // number it names come again, in order; a request naming another
  // register's serial, or none, sends nothing.
  const size_t published = office.Documents().size();
  office.Publish("fr/v1/shop1/main/resend", json{{"serial", "4200099999"}, {"after", 0}}.dump());
  office.Publish("fr/v1/shop1/main/resend", "{\"after\": 0}");
  office.Publish("fr/v1/shop1/main/resend", json{{"serial", "4200012345"}, {"after", stored.back() - 2}}.dump());
  ASSERT_TRUE(Eventually([&] { return office.Documents().size() >= published + 2; }, 10000));
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const std::vector<uint32_t> all = office.Documents();
  const std::vector<uint32_t> again(all.begin() + static_cast<std::ptrdiff_t>(published), all.end());
  EXPECT_EQ(again, (std::vector<uint32_t>{stored.back() - 1, stored.back()}));
  EXPECT_TRUE(Eventually([&] { return Waiting(rig.state() + "/journal.sqlite") == 0; }, 10000)) << Waiting(rig.state() + "/journal.sqlite");
}

// The broker's ACL of docs/fleet.md: a site's account reaches its own topics
// only; the back office's requests and the bridge's own credentials work.
TEST(BridgeUplinkTest, TheAclKeepsEachSiteToItsOwnTopics) {
  BridgeRig rig;
  Broker broker(rig.dir() + "/broker");
  broker.Secure({{"shop1", "pw-shop1"}, {"shop2", "pw-shop2"}, {"office", "pw-office"}},
                "pattern readwrite fr/v1/%u/#\n"
                "user office\ntopic write fr/v1/+/+/requests/#\ntopic read fr/v1/+/+/replies/#\n"
                "topic read fr/v1/+/+/status\n");
  ASSERT_TRUE(broker.Start());
  const std::string credentials = rig.dir() + "/credentials";
  std::ofstream(credentials) << "shop2 pw-shop2\n";
  chmod(credentials.c_str(), 0600);
  rig.AddBridgeArgs({"--uplink", "mqtt://127.0.0.1:" + std::to_string(broker.port()), "--site", "shop2",
                     "--uplink-credentials", credentials});
  ASSERT_NO_FATAL_FAILURE(rig.Start());
  ASSERT_NO_FATAL_FAILURE(Prepare(&rig));
  Office office(broker.port(), "fr/v1/shop2/main", "office", "pw-office");
  Office intruder(broker.port(), "fr/v1/shop2/main", "shop1", "pw-shop1");
  ASSERT_TRUE(Eventually([&] { return office.LastStatus().value("online", false); }, 10000));
  const size_t stored = rig.Archive().summary.documents.size();

  intruder.Request("intruder", {{"action", "shift-open"}, {"body", {{"cashier", Cashier()}}}});
  office.Request("office", {{"action", "shift-open"}, {"body", {{"cashier", Cashier()}}}});
  ASSERT_TRUE(Eventually([&] { return !office.Replies("office").empty(); }, 30000));
  EXPECT_EQ(office.Replies("office")[0]["status"], 201) << office.Replies("office")[0].dump();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  EXPECT_TRUE(office.Replies("intruder").empty()) << office.Replies("intruder")[0].dump();
  EXPECT_TRUE(intruder.Got().empty()) << "shop1 read shop2's topics";
  EXPECT_EQ(rig.Archive().summary.documents.size(), stored + 1);
  EXPECT_EQ(ReadAll(rig.log()).find("pw-shop2"), std::string::npos) << "the password is in the log";
}

}  // namespace
}  // namespace bridgetest
