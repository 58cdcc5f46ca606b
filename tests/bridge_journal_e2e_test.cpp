// The bridge's journal under faults: a bridge killed while a reply was lost,
// a disk that refuses the outcome, a journal lost between two runs, and the
// state directory's modes.
#include <sqlite3.h>
#include <sys/stat.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "bridge/server.h"
#include "bridge/worker.h"
#include "tests/bridge_rig.h"
#include "tests/sqlite_fault_vfs.h"

namespace bridgetest {
namespace {

json Sale() {
  return {{"type", "sale"}, {"cashier", Cashier()}, {"lines", {Line("Сок", 9900, 1, 1)}}, {"payment", {{"cash", 10000}}}};
}

// A day ready for receipts.
void OpenDay(BridgeRig* rig, const std::string& key) {
  ASSERT_NO_FATAL_FAILURE(rig->Start());
  ASSERT_NO_FATAL_FAILURE(Prepare(rig));
  ASSERT_EQ(rig->Post("/shift/open", {{"cashier", Cashier()}}, key).status, 201);
}

// The retry of a receipt whose reply was lost is the stored receipt, fiscal
// sign included, and nothing more was stored.
void ExpectWhole(BridgeRig* rig, const Got& got, size_t documents) {
  const sim::ArchiveCheck archive = rig->Archive();
  ASSERT_TRUE(archive.ok()) << archive.Text();
  ASSERT_EQ(archive.summary.documents.size(), documents);
  const sim::StoredDocument& stored = archive.summary.documents.back();
  ASSERT_EQ(got.status, 201) << got.body.dump();
  EXPECT_EQ(got.body["number"], stored.number);
  EXPECT_EQ(got.body["fiscal_sign"], stored.fiscal_sign) << got.body.dump();
  EXPECT_EQ(got.body["total"], 9900);
  EXPECT_EQ(stored.total, 9900);
}

// The close's reply is lost and the bridge is killed before it asks again:
// the next run asks the register for its last reply before anything else.
TEST(BridgeJournalTest, AReplyLostByAKilledBridgeIsSettledWhole) {
  BridgeRig rig;
  ASSERT_NO_FATAL_FAILURE(OpenDay(&rig, "killed-open"));
  std::ofstream(rig.board() + "/lose-replies") << "next-close";
  ASSERT_TRUE(rig.emu().WaitForStdout("the next close will be lost", 5000)) << rig.emu().Stdout();
  const size_t before = rig.Archive().summary.documents.size();
  Got first;
  std::thread till([&] { first = rig.Post("/receipts", Sale(), "killed-sale"); });
  const bool lost = rig.emu().WaitForStdout("fr-emu: reply ", 20000);
  rig.KillBridge();  // the client asks again only after two seconds
  till.join();
  ASSERT_TRUE(lost) << rig.emu().Stdout();
  EXPECT_EQ(first.status, 0) << first.body.dump();

  ASSERT_NO_FATAL_FAILURE(rig.StartBridge());
  const Got again = rig.Post("/receipts", Sale(), "killed-sale");
  ExpectWhole(&rig, again, before + 1);
  EXPECT_FALSE(again.body.contains("missing")) << "the journal kept what the request said: " << again.body.dump();
  json lines = Sale()["lines"];
  lines[0]["quantity"] = "1";  // answered as a decimal text, as the register keeps it
  EXPECT_EQ(again.body["lines"], lines) << again.body.dump();
  // The document, as the POS may fetch it again, from this run's journal.
  const Got fetched = rig.Call("GET", "/v1/registers/main/documents/" + again.body["number"].dump(), nullptr, {}, kPos);
  EXPECT_EQ(fetched.status, 200);
  EXPECT_EQ(fetched.body, again.body);
}

// The outcome cannot be journaled: the till hears 503, not 201, and the job
// stays in doubt; the next run settles it from the register.
TEST(BridgeJournalTest, AnOutcomeTheJournalRefusesIsSettledByTheNextRun) {
  BridgeRig rig;
  ASSERT_NO_FATAL_FAILURE(OpenDay(&rig, "full-open"));
  rig.KillBridge();
  // A journal of its own for the worker in this process: the earlier pages
  // hold earlier outcomes' signs.
  for (const char* f : {"", "-wal", "-shm", ".created"}) fs::remove(rig.state() + "/journal.sqlite" + f);
  const size_t before = rig.Archive().summary.documents.size();
  faultvfs::Register();
  {
    bridge::Journal journal;
    ASSERT_TRUE(journal.Open(rig.state() + "/journal.sqlite", "fault").ok());
    bridge::Events events;
    bridge::Metrics metrics;
    bridge::Log log(stderr);
    bridge::RegisterConfig rc;
    rc.name = "main";
    rc.device = rig.board() + "/host";
    bridge::Worker worker(rc, &journal, &events, &metrics, &log);
    worker.Start();
    ASSERT_TRUE(Eventually([&] { return worker.online(); }, 10000));

    auto t = std::make_shared<bridge::Ticket>();
    bridge::Problem p;
    const std::string body = Sale().dump();
    ASSERT_TRUE(bridge::DecodeJob(bridge::Action::kReceipt, "", "", body, &t->job, &p));
    t->id = "1";
    t->key = "full-sale";
    t->register_name = "main";
    t->hash = bridge::HmacHex(ReadAll(rig.state() + "/secret"), "POST /v1/registers/main/receipts\n" + body);
    faultvfs::refuse_signs = true;
    ASSERT_EQ(worker.Submit(t), bridge::Worker::Submitted::kQueued);
    bridge::Outcome o;
    ASSERT_TRUE(t->Wait(30000, &o));
    EXPECT_EQ(o.status, 503);
    EXPECT_EQ(json::parse(o.body)["code"], "bridge.journal") << o.body;
    EXPECT_FALSE(o.released);
    EXPECT_EQ(rig.Archive().summary.documents.size(), before + 1) << "the register stored it";
    worker.Stop();
  }
  faultvfs::refuse_signs = false;
  ASSERT_NO_FATAL_FAILURE(rig.StartBridge());
  ExpectWhole(&rig, rig.Post("/receipts", Sale(), "full-sale"), before + 1);
}

// A journal emptied, damaged or removed between two runs: keyed requests are
// refused (a retried key would store its receipt again) and /healthz says
// why, until a person resets it.
TEST(BridgeJournalTest, ALostJournalRefusesKeysUntilItIsReset) {
  BridgeRig rig;
  ASSERT_NO_FATAL_FAILURE(OpenDay(&rig, "lost-open"));
  ASSERT_EQ(rig.Post("/receipts", Sale(), "lost-sale").status, 201);
  const std::string journal = rig.state() + "/journal.sqlite";
  const struct {
    const char* name;
    void (*damage)(const std::string& path);
  } cases[] = {
      {"empty", [](const std::string& p) { fs::resize_file(p, 0); }},
      {"missing", [](const std::string& p) { fs::remove(p); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    rig.KillBridge();
    for (const char* f : {"-wal", "-shm"}) fs::remove(journal + f);
    c.damage(journal);
    const size_t documents = rig.Archive().summary.documents.size();
    ASSERT_NO_FATAL_FAILURE(rig.StartBridge());
    const Got health = rig.Call("GET", "/healthz");
    EXPECT_EQ(health.status, 503);
    EXPECT_EQ(health.body["status"], "degraded");
    EXPECT_NE(health.body["journal"].get<std::string>().find(c.name), std::string::npos) << health.body.dump();
    const Got retry = rig.Post("/receipts", Sale(), "lost-sale");
    EXPECT_EQ(retry.status, 503);
    EXPECT_EQ(retry.body["code"], "bridge.journal-lost") << retry.body.dump();
    EXPECT_EQ(rig.Call("GET", "/v1/registers/main/status").status, 200) << "what changes nothing is served";
    EXPECT_EQ(rig.Archive().summary.documents.size(), documents);
  }

  auto reset = [&](const std::string& logs, int* status) {
    sim::DeviceProcess p;
    ASSERT_TRUE(p.Start(kBin + "/fr-bridge", {"journal", "reset", "--state", rig.state()}, rig.dir(), logs));
    ASSERT_TRUE(p.Wait(10000, status));
  };
  int status = -1;
  ASSERT_NO_FATAL_FAILURE(reset(rig.dir() + "/reset-while-running", &status));
  EXPECT_EQ(status, 2) << "not while the bridge runs";
  rig.KillBridge();
  ASSERT_NO_FATAL_FAILURE(reset(rig.dir() + "/reset", &status));
  EXPECT_EQ(status, 0);
  EXPECT_NE(ReadAll(rig.dir() + "/reset/stdout.log").find("journal-discarded-"), std::string::npos);
  ASSERT_NO_FATAL_FAILURE(rig.StartBridge());
  EXPECT_EQ(rig.Call("GET", "/healthz").body["status"], "ok");
  EXPECT_EQ(rig.Post("/receipts", Sale(), "after-reset").status, 201);
}

// Reports and copies print: their key is kept like a receipt's.
TEST(BridgeJournalTest, AReportOrCopyIsPrintedOncePerKey) {
  BridgeRig rig;
  ASSERT_NO_FATAL_FAILURE(OpenDay(&rig, "print-open"));
  const json c = {{"cashier", Cashier()}};
  const json copy = {{"cashier", Cashier()}, {"number", 1}};
  const size_t jobs = rig.JobLines();
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(rig.Post("/reports/x", c, "x-once").status, 200);
    EXPECT_EQ(rig.Post("/copies", copy, "copy-once").status, 200);
  }
  EXPECT_EQ(rig.JobLines(), jobs + 2) << "the repeats were answered from the journal";
  EXPECT_EQ(rig.Post("/reports/x", {{"cashier", Cashier(31)}}, "x-once").body["code"], "idempotency.conflict");
}

// The state directory and its files are this user's alone; a token file
// others can read is warned about.
TEST(BridgeJournalTest, TheStateIsPrivate) {
  BridgeRig rig;
  const std::string tokens = rig.dir() + "/shared-tokens";
  std::ofstream(tokens) << "admin " << kAdmin << " tests\n";
  fs::permissions(tokens, fs::perms(0644));
  fs::permissions(rig.state(), fs::perms(0755));
  rig.AddBridgeArgs({"--tokens", tokens});
  ASSERT_NO_FATAL_FAILURE(rig.Start());
  ASSERT_NO_FATAL_FAILURE(Prepare(&rig));
  const struct {
    std::string path;
    unsigned mode;
  } files[] = {{rig.state(), 0700}, {rig.state() + "/journal.sqlite", 0600}, {rig.state() + "/secret", 0600}};
  for (const auto& f : files) {
    struct stat st;
    ASSERT_EQ(stat(f.path.c_str(), &st), 0) << f.path;
    EXPECT_EQ(st.st_mode & 0777, f.mode) << f.path;
  }
  EXPECT_NE(rig.bridge().Stderr().find("WARNING: " + tokens + " is open to other users"), std::string::npos)
      << rig.bridge().Stderr();
}

}  // namespace
}  // namespace bridgetest
