// Shops, a broker and the back office's ledger: bridges with virtual
// registers publish through a real Mosquitto into fr-ledger and a real
// PostgreSQL while the ledger is away (killed between messages), the broker
// restarts and a bridge is killed; at the end the ledger holds exactly each
// register's archive, once.
// FR_FLEET_BRIDGES (default 2) sets how many shops.
#include "tests/fleet_rig.h"

namespace bridgetest {
namespace {

json Sale(int64_t price) {
  return {
      {"type", "sale"}, {"cashier", Cashier()}, {"lines", {Line("Чай", price, 1, 1)}}, {"payment", {{"cash", price}}}};
}

std::vector<std::string> Numbers(const sim::ArchiveCheck& archive) {
  std::vector<std::string> out;
  for (const sim::StoredDocument& d : archive.summary.documents) out.push_back(std::to_string(d.number));
  return out;
}

std::string LedgerPath() { return kBin + "/fr-ledger"; }

int RunLedger(const std::vector<std::string>& args, const std::string& log_dir, std::string* out = nullptr) {
  sim::DeviceProcess p;
  int status = -1;
  if (!p.Start(LedgerPath(), args, log_dir, log_dir) || !p.Wait(60000, &status)) return -1;
  if (out != nullptr) *out = p.Stdout() + p.Stderr();
  return status;
}

TEST(FleetTest, EveryRegistersArchiveReachesTheLedgerOnce) {
  const int bridges = EnvInt("FR_FLEET_BRIDGES", 2);
  sim::Sandbox tmp = sim::Sandbox::Temp();
  Postgres db;
  ASSERT_TRUE(db.Start());
  Broker broker(tmp.dir() + "/broker");
  ASSERT_TRUE(broker.Start());
  const std::string mqtt = "mqtt://127.0.0.1:" + std::to_string(broker.port());
  std::string said;
  ASSERT_EQ(RunLedger({"migrate", "--db", db.conninfo()}, tmp.dir() + "/migrate", &said), 0) << said;
  ASSERT_EQ(RunLedger({"migrate", "--db", db.conninfo()}, tmp.dir() + "/migrate", &said), 0) << said;
  EXPECT_NE(said.find("schema version 1, as it was"), std::string::npos) << said;

  sim::DeviceProcess ledger;
  const std::vector<std::string> ledger_args = {"run", "--mqtt", mqtt, "--db", db.conninfo()};
  ASSERT_TRUE(ledger.Start(LedgerPath(), ledger_args, tmp.dir(), tmp.dir() + "/ledger"));

  std::vector<std::unique_ptr<BridgeRig>> rigs;
  std::vector<std::unique_ptr<Office>> offices;
  for (int i = 0; i < bridges; ++i) {
    rigs.push_back(std::make_unique<BridgeRig>());
    BridgeRig& rig = *rigs.back();
    const std::string site = "shop" + std::to_string(i + 1);
    rig.AddBridgeArgs({"--uplink", mqtt, "--site", site});
    ASSERT_NO_FATAL_FAILURE(rig.Start());
    ASSERT_NO_FATAL_FAILURE(Prepare(&rig, "42000" + std::to_string(10000 + i)));
    offices.push_back(std::make_unique<Office>(broker.port(), "fr/v1/" + site + "/main"));
    ASSERT_EQ(rig.Post("/shift/open", {{"cashier", Cashier()}}, "open").status, 201);
  }
  // Receipts at the tills and from the back office, through the faults.
  auto day = [&](const std::string& round) {
    for (size_t i = 0; i < rigs.size(); ++i) {
      ASSERT_EQ(rigs[i]->Post("/receipts", Sale(1000 + 10 * i), round + "-till").status, 201);
      offices[i]->Request(round + "-office", {{"action", "receipt"}, {"body", Sale(2000)}});
    }
  };
  ASSERT_NO_FATAL_FAILURE(day("a"));
  // Killed between messages: what comes while it is away waits in its
  // session. (A ledger killed in the middle of a message can lose it: the
  // client library acknowledged it on arrival; gaps and import mend that.)
  for (size_t i = 0; i < rigs.size(); ++i) {
    ASSERT_TRUE(Eventually([&] { return !offices[i]->Replies("a-office").empty(); }, 60000));
    const std::string serial = "42000" + std::to_string(10000 + i);
    const size_t stored = rigs[i]->Archive().summary.documents.size();
    ASSERT_TRUE(Eventually(
        [&] { return db.Rows("SELECT number FROM documents WHERE serial = '" + serial + "'").size() == stored; },
        60000));
  }
  ledger.Kill(SIGKILL);
  ASSERT_NO_FATAL_FAILURE(day("b"));
  ASSERT_TRUE(ledger.Start(LedgerPath(), ledger_args, tmp.dir(), tmp.dir() + "/ledger"));
  broker.Stop();
  ASSERT_NO_FATAL_FAILURE(day("c"));
  ASSERT_TRUE(broker.Start());
  rigs[0]->KillBridge();
  ASSERT_NO_FATAL_FAILURE(rigs[0]->StartBridge());
  ASSERT_NO_FATAL_FAILURE(day("d"));

  for (size_t i = 0; i < rigs.size(); ++i) {
    for (const char* round : {"a-office", "b-office", "c-office", "d-office"}) {
      ASSERT_TRUE(Eventually([&] { return !offices[i]->Replies(round).empty(); }, 60000)) << i << " " << round << "\n"
                                                                                          << ReadAll(rigs[i]->log());
      EXPECT_EQ(offices[i]->Replies(round).front()["status"], 201) << offices[i]->Replies(round).front().dump();
    }
    const std::string serial = "42000" + std::to_string(10000 + i);
    const std::vector<std::string> stored = Numbers(rigs[i]->Archive());
    const std::string query = "SELECT number FROM documents WHERE serial = '" + serial + "' ORDER BY number";
    EXPECT_TRUE(Eventually([&] { return db.Rows(query) == stored; }, 60000))
        << "shop " << i + 1 << ": " << ::testing::PrintToString(db.Rows(query)) << " vs "
        << ::testing::PrintToString(stored) << "\nledger: " << ledger.Stderr() << "\nbroker: " << broker.log();
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
  sim::DeviceProcess exporter;
  int status = -1;
  ASSERT_TRUE(exporter.Start(kBin + "/fr-archive",
                             {"export", rigs[0]->board() + "/mnt/sd/V0XD24TX", "--format", "json"}, tmp.dir(),
                             tmp.dir() + "/export"));
  ASSERT_TRUE(exporter.Wait(60000, &status) && status == 0) << exporter.Stderr();
  std::ofstream(export_file) << exporter.Stdout();
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
