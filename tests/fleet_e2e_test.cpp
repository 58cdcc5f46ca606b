// Shops, a broker and the back office's ledger: bridges with two virtual
// registers each publish through a real Mosquitto into fr-ledger and a real
// PostgreSQL while the ledger is killed in the middle of the traffic, the
// broker is away for a while, and a bridge is killed; at the end the ledger
// holds exactly each register's archive, once.
// FR_FLEET_BRIDGES (default 3) sets how many shops, FR_FLEET_ROUNDS
// (default 1) how many receipts each register takes at the till and from the
// back office at each step, FR_FLEET_BROKER_DOWN (default 30) how many
// seconds the broker stays away.
#include <thread>

#include "tests/fleet_rig.h"

namespace bridgetest {
namespace {

json Sale(int64_t price) {
  return {
      {"type", "sale"}, {"cashier", Cashier()}, {"lines", {Line("Чай", price, 1, 1)}}, {"payment", {{"cash", price}}}};
}

// What fr-archive export says of a register's card.
std::string Export(const std::string& board, const std::string& log_dir) {
  sim::DeviceProcess exporter;
  int status = -1;
  if (!exporter.Start(kBin + "/fr-archive", {"export", board + "/mnt/sd/V0XD24TX", "--format", "json"}, log_dir,
                      log_dir) ||
      !exporter.Wait(60000, &status) || status != 0) {
    ADD_FAILURE() << "fr-archive export: " << exporter.Stderr();
  }
  return exporter.Stdout();
}

// Each document as the ledger's rows show it: number|type|fiscal sign|time.
std::vector<std::string> Rows(const json& exported) {
  std::vector<std::string> out;
  for (const json& d : exported) {
    out.push_back(d["number"].dump() + "|" + d["document"].get<std::string>() + "|" + d["fiscal_sign"].dump() + "|" +
                  d["time"].get<std::string>());
  }
  return out;
}

std::string LedgerPath() { return kBin + "/fr-ledger"; }


// A register of a shop, and the back office's session on its topics.
struct Till {
  BridgeRig* rig;
  std::string site, name, serial;
  std::unique_ptr<Office> office;
};

TEST(FleetTest, EveryRegistersArchiveReachesTheLedgerOnce) {
  const int bridges = EnvInt("FR_FLEET_BRIDGES", 3);
  const int rounds = EnvInt("FR_FLEET_ROUNDS", 1);
  const int broker_down_s = EnvInt("FR_FLEET_BROKER_DOWN", 30);
  sim::Sandbox tmp = sim::Sandbox::Temp();
  Postgres db;
  ASSERT_TRUE(db.Start());
  Broker broker(tmp.dir() + "/broker");
  ASSERT_TRUE(broker.Start());
  const std::string mqtt = "mqtt://127.0.0.1:" + std::to_string(broker.port());
  std::string said;
  ASSERT_EQ(RunLedger({"migrate", "--db", db.conninfo()}, tmp.dir() + "/migrate", &said), 0) << said;
  ASSERT_EQ(RunLedger({"migrate", "--db", db.conninfo()}, tmp.dir() + "/migrate", &said), 0) << said;
  EXPECT_NE(said.find(", as it was"), std::string::npos) << said;

  sim::DeviceProcess ledger;
  const std::vector<std::string> ledger_args = {"run", "--mqtt", mqtt, "--db", db.conninfo()};
  ASSERT_TRUE(ledger.Start(LedgerPath(), ledger_args, tmp.dir(), tmp.dir() + "/ledger"));

  std::vector<std::unique_ptr<BridgeRig>> rigs;
  std::vector<Till> tills;
  for (int i = 0; i < bridges; ++i) {
    rigs.push_back(std::make_unique<BridgeRig>(2));
    BridgeRig& rig = *rigs.back();
    const std::string site = "shop" + std::to_string(i + 1);
    rig.AddBridgeArgs({"--uplink", mqtt, "--site", site});
    ASSERT_NO_FATAL_FAILURE(rig.Start());
    for (const std::string& name : rig.registers()) {
      const std::string serial = "42000" + std::to_string(10000 + tills.size());
      ASSERT_NO_FATAL_FAILURE(Prepare(&rig, serial, name));
      ASSERT_EQ(rig.PostTo(name, "/shift/open", {{"cashier", Cashier()}}, "open-" + name).status, 201);
      tills.push_back({&rig, site, name, serial,
                       std::make_unique<Office>(broker.port(), "fr/v1/" + site + "/" + name)});
    }
  }
  // Receipts at the tills and from the back office.
  std::vector<std::string> requests;
  auto day = [&](const std::string& step) {
    for (int r = 0; r < rounds; ++r) {
      // Keys are one bridge's: each register's its own.
      const std::string round = step + std::to_string(r);
      requests.push_back(round + "-office");
      for (size_t i = 0; i < tills.size(); ++i) {
        const Till& t = tills[i];
        EXPECT_EQ(t.rig->PostTo(t.name, "/receipts", Sale(1000 + 10 * i), round + "-till-" + t.name).status, 201);
        t.office->Request(round + "-office-" + t.name, {{"action", "receipt"}, {"body", Sale(2000)}});
      }
    }
  };
  ASSERT_NO_FATAL_FAILURE(day("a"));
  // The ledger killed in the middle of the traffic, whatever it was doing.
  std::thread traffic([&] { day("b"); });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  ledger.Kill(SIGKILL);
  traffic.join();
  ASSERT_TRUE(ledger.Start(LedgerPath(), ledger_args, tmp.dir(), tmp.dir() + "/ledger"));
  // The broker away for a while: the tills go on, the back office's
  // requests wait in its client.
  broker.Stop();
  const auto stopped = std::chrono::steady_clock::now();
  ASSERT_NO_FATAL_FAILURE(day("c"));
  std::this_thread::sleep_until(stopped + std::chrono::seconds(broker_down_s));
  ASSERT_TRUE(broker.Start());
  // A shop's bridge killed: its registers read offline until it is back.
  ASSERT_TRUE(Eventually([&] { return tills[0].office->LastStatus().value("online", false); }, 60000));
  rigs[0]->KillBridge();
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_TRUE(Eventually([&] { return tills[i].office->LastStatus().value("online", true) == false; }, 20000))
        << tills[i].office->LastStatus().dump();
  }
  ASSERT_NO_FATAL_FAILURE(rigs[0]->StartBridge());
  ASSERT_NO_FATAL_FAILURE(day("d"));

  for (const Till& t : tills) {
    // Each request answered (a reply the broker had not acknowledged comes
    // again, the same), and one receipt on the register for each.
    for (const std::string& request : requests) {
      const std::string id = request + "-" + t.name;
      ASSERT_TRUE(Eventually([&] { return !t.office->Replies(id).empty(); }, 60000))
          << t.site << "/" << t.name << " " << id << "\n"
          << ReadAll(t.rig->log());
      for (const json& reply : t.office->Replies(id)) {
        EXPECT_EQ(reply, t.office->Replies(id).front());
        EXPECT_EQ(reply["status"], 201) << reply.dump();
      }
    }
    const json exported = json::parse(Export(t.rig->board(t.name), tmp.dir() + "/export-" + t.serial));
    EXPECT_EQ(std::count_if(exported.begin(), exported.end(), [](const json& d) { return d["document"] == "receipt"; }),
              static_cast<std::ptrdiff_t>(2 * requests.size()))
        << t.site << "/" << t.name;
    // Exactly the card's documents, each once.
    const std::string query =
        "SELECT number, document, fiscal_sign, to_char(time AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"') "
        "FROM documents WHERE serial = '" + t.serial + "' ORDER BY number";
    EXPECT_TRUE(Eventually([&] { return db.Rows(query) == Rows(exported); }, 60000))
        << t.site << "/" << t.name << ": " << ::testing::PrintToString(db.Rows(query)) << " vs "
        << ::testing::PrintToString(Rows(exported)) << "\nledger: " << ledger.Stderr() << "\nbroker: " << broker.log();
  }
  ASSERT_EQ(RunLedger({"gaps", "--db", db.conninfo()}, tmp.dir() + "/gaps", &said), 0) << said;
  // Sales by site and day add up the receipts held.
  EXPECT_EQ(db.Rows("SELECT sum(receipts) FROM sales_by_site_day"),
            db.Rows("SELECT count(*) FROM documents WHERE document = 'receipt'"));

  // Documents the ledger missed (other programs made them) show as gaps, and
  // an import of the card's export fills them, once.
  db.Rows("DELETE FROM lines WHERE serial = '4200010000' AND number IN (3, 4)");
  db.Rows("DELETE FROM documents WHERE serial = '4200010000' AND number IN (3, 4) RETURNING number");
  ASSERT_EQ(RunLedger({"gaps", "--db", db.conninfo()}, tmp.dir() + "/gaps", &said), 3) << said;
  EXPECT_NE(said.find("shop1/main (serial 4200010000): 3-4"), std::string::npos) << said;
  const std::string export_file = tmp.dir() + "/shop1.json";
  std::ofstream(export_file) << Export(rigs[0]->board(), tmp.dir());
  const std::vector<std::string> import = {"import", "--db",       db.conninfo(), "--site",
                                           "shop1",  "--register", "main",        export_file};
  ASSERT_EQ(RunLedger(import, tmp.dir() + "/import", &said), 0) << said;
  EXPECT_NE(said.find("2 documents added"), std::string::npos) << said;
  ASSERT_EQ(RunLedger(import, tmp.dir() + "/import2", &said), 0) << said;
  EXPECT_NE(said.find("0 documents added"), std::string::npos) << said;
  EXPECT_EQ(RunLedger({"gaps", "--db", db.conninfo()}, tmp.dir() + "/gaps", &said), 0) << said;
}

}  // namespace
}  // namespace bridgetest
