// One document, four readers: what the bridge answered, what it serves from
// its journal (also after it was killed), what fr-archive reads off the card
// and what fr-host prints agree on every field they share, by name.
#include <cstdio>
#include <map>
#include <set>

#include "tests/bridge_rig.h"

namespace bridgetest {
namespace {

std::string Output(const std::string& command) {
  std::string out;
  FILE* p = popen((command + " 2>/dev/null").c_str(), "r");
  if (p == nullptr) return out;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  pclose(p);
  return out;
}

// Every field both hold, inside objects and arrays of them too; the number
// of leaves compared goes to *shared.
void ExpectAgree(const json& a, const json& b, const std::string& where, int* shared) {
  if (a.is_object() && b.is_object()) {
    for (auto it = a.begin(); it != a.end(); ++it) {
      if (b.contains(it.key())) ExpectAgree(it.value(), b.at(it.key()), where + "/" + it.key(), shared);
    }
  } else if (a.is_array() && b.is_array() && !a.empty() && a[0].is_object()) {
    ASSERT_EQ(a.size(), b.size()) << where;
    for (size_t i = 0; i < a.size(); ++i) ExpectAgree(a[i], b[i], where + "/" + std::to_string(i), shared);
  } else {
    EXPECT_EQ(a, b) << where;
    ++*shared;
  }
}

TEST(DocumentReadersTest, TheBridgeTheJournalTheCardAndFrHostTellOneDocumentAlike) {
  BridgeRig rig;
  ASSERT_NO_FATAL_FAILURE(rig.Start());
  ASSERT_NO_FATAL_FAILURE(Prepare(&rig));
  std::map<uint32_t, json> told;  // by number: the bridge's answers, then fr-host's
  auto keep = [&](const Got& g) {
    ASSERT_EQ(g.status, 201) << g.body.dump();
    told[g.body["number"].get<uint32_t>()] = g.body;
  };
  // The sale's cashier is not the service cashier and gives no name: the
  // bridge names it.
  ASSERT_EQ(rig.Call("PUT", "/v1/registers/main/tables/cashiers/3",
                     {{"name", "Петрова"}, {"password", 33}, {"rights", 0x1FF}})
                .status,
            200);
  const json seller = {{"number", 3}, {"password", 33}};
  keep(rig.Post("/shift/open", {{"cashier", Cashier()}}, "day-open"));
  keep(rig.Post("/cash-in", {{"cashier", Cashier()}, {"amount", 50000}}, "day-in"));
  json tea = Line("Чай", 12990, "1.500", 1, 1);
  tea["code"] = "4601234567890";
  tea["unit"] = "кг";
  tea["extra_text"] = "Сорт высший";
  json bread = Line("Хлеб", 4550, 2, 2);
  bread["discount_amount"] = 100;
  keep(rig.Post("/receipts",
                {{"type", "sale"}, {"cashier", seller}, {"lines", {tea, bread}}, {"payment", {{"cash", 50000}}}},
                "day-sale"));
  keep(rig.Post("/receipts",
                {{"type", "return-sale"},
                 {"cashier", Cashier()},
                 {"lines", {Line("Хлеб", 4550, 1, 2)}},
                 {"payment", {{"cash", 0}, {"cashless", 4550}}}},
                "day-return"));
  keep(rig.Post("/cash-out", {{"cashier", Cashier()}, {"amount", 1000}}, "day-out"));
  const std::set<uint32_t> bridged = [&] {
    std::set<uint32_t> n;
    for (const auto& [number, doc] : told) n.insert(number);
    return n;
  }();

  // The bridge dies; fr-host takes the line for two documents of its own.
  rig.KillBridge();
  const std::string host = kBin + "/fr-host --port " + rig.board() + "/host --json ";
  for (const std::string& args : {std::string("sale --line 'Сок;9900;2;1;1' --cash 30000"), std::string("cash-out 500")}) {
    std::istringstream lines(Output(host + args));
    bool closed = false;
    for (std::string line; std::getline(lines, line);) {
      const json j = json::parse(line, nullptr, false);
      if (!j.is_object() || !j.contains("document")) continue;
      ASSERT_EQ(j["code"], 0) << line;
      told[j["number"].get<uint32_t>()] = j;
      closed = true;
    }
    ASSERT_TRUE(closed) << args;
  }

  ASSERT_NO_FATAL_FAILURE(rig.StartBridge());
  const std::string card = rig.board() + "/mnt/sd/V0XD24TX";
  const json exported = json::parse(Output(kBin + "/fr-archive export " + card + " --format json"), nullptr, false);
  ASSERT_TRUE(exported.is_array());
  // The registration named no cashier: the service cashier's number, with
  // the name only the register knows.
  const Got registration = rig.Call("GET", "/v1/registers/main/documents/1");
  ASSERT_EQ(registration.status, 200);
  ASSERT_FALSE(exported.empty());
  EXPECT_EQ(registration.body.value("cashier", 0), exported[0].value("cashier", -1));
  EXPECT_FALSE(registration.body.contains("cashier_name"));
  for (const auto& [number, doc] : told) {
    const std::string what = "document " + std::to_string(number);
    const Got kept = rig.Call("GET", "/v1/registers/main/documents/" + std::to_string(number));
    if (bridged.count(number) != 0) {
      EXPECT_EQ(kept.status, 200) << what;
      EXPECT_EQ(kept.body, doc) << what << ": the journal keeps the answer";
    } else {
      EXPECT_EQ(kept.status, 404) << what << ": the bridge never stored it";
    }
    ASSERT_LE(number, exported.size());
    if (bridged.count(number) != 0) {
      // Compared with the card's below, as shared fields.
      const bool sale = doc.value("receipt_type", "") == "sale";
      EXPECT_EQ(doc.value("cashier", 0), sale ? 3 : 20) << what;
      EXPECT_EQ(doc.value("cashier_name", ""), sale ? "Кассир 3" : "Иванова") << what;
      EXPECT_TRUE(exported[number - 1].contains("cashier") && exported[number - 1].contains("cashier_name")) << what;
    }
    int shared = 0;
    ExpectAgree(doc, exported[number - 1], what + " (export)", &shared);
    // Document, number, time, fiscal sign and shift at least; more for
    // receipts (type, number, total and its decimal, payment) and cash
    // documents (amount and its decimal).
    const bool cash = doc["document"] == "cash-in" || doc["document"] == "cash-out";
    EXPECT_GE(shared, doc["document"] == "receipt" ? 13 : cash ? 7 : 5) << what;
    if (doc["document"] == "receipt") {
      const json shown = json::parse(Output(kBin + "/fr-archive show " + card + " " + std::to_string(number) + " --json"),
                                     nullptr, false);
      shared = 0;
      ExpectAgree(doc, shown, what + " (show)", &shared);
      EXPECT_GE(shared, 13 + 5 * static_cast<int>(doc["lines"].size())) << what << ": lines compared";
    }
  }
  EXPECT_EQ(told.size(), 7u);
}

}  // namespace
}  // namespace bridgetest
