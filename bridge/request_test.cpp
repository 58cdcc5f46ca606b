#include "bridge/request.h"

#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "bridge/answer.h"
#include "bridge/journal.h"
#include "tests/sqlite_fault_vfs.h"
#include "tools/common/sandbox.h"
#include "util/cp866.h"

namespace bridge {
namespace {

const std::string kCashier = R"("cashier": {"number": 1, "password": 1111})";

std::string Receipt(const std::string& lines, const std::string& extra = "") {
  return R"({"type": "sale", )" + kCashier + R"(, "lines": )" + lines + R"(, "payment": {"cash": 100})" + extra + "}";
}

TEST(RequestTest, BadBodiesAreRefusedWithThePointerOfTheField) {
  std::string many = "[";
  for (size_t i = 0; i <= kMaxLines; ++i)
    many += std::string(i ? "," : "") + R"({"name":"a","price":1,"quantity":1,"tax":1})";
  many += "]";
  const struct {
    Action action;
    std::string segment, body;
    int status;
    std::string code, pointer;
  } cases[] = {
      {Action::kReceipt, "", "{", 400, "request.invalid-json", ""},
      {Action::kReceipt, "", "[1]", 400, "request.invalid", ""},
      {Action::kReceipt, "", std::string(20, '[') + std::string(20, ']'), 400, "request.invalid-json", ""},
      {Action::kReceipt, "", std::string(kMaxBodyBytes + 1, ' '), 400, "request.too-large", ""},
      {Action::kReceipt, "", R"({"type": "sale", "lines": []})", 400, "request.invalid", "/cashier"},
      {Action::kReceipt, "", R"({"type": "gift", )" + kCashier + "}", 400, "request.invalid", "/type"},
      {Action::kReceipt, "", Receipt("[]"), 400, "request.invalid", "/lines"},
      {Action::kReceipt, "", Receipt(many), 400, "request.invalid", "/lines"},
      {Action::kReceipt, "", Receipt("[1]"), 400, "request.invalid", "/lines/0"},
      {Action::kReceipt, "", Receipt(R"([{"name":"a","price":"1","quantity":1,"tax":1}])"), 400, "request.invalid",
       "/lines/0/price"},
      {Action::kReceipt, "", Receipt(R"([{"name":"a","price":-1,"quantity":1,"tax":1}])"), 400, "request.invalid",
       "/lines/0/price"},
      {Action::kReceipt, "", Receipt(R"([{"name":"a","price":100000000001,"quantity":1,"tax":1}])"), 400,
       "request.invalid", "/lines/0/price"},
      {Action::kReceipt, "", Receipt(R"([{"name":"a","price":1000000,"quantity":"1000000","tax":1}])"), 400,
       "request.invalid", "/lines/0/quantity"},
      {Action::kReceipt, "", Receipt(R"([{"name":"a","price":1,"quantity":"1.1234567890","tax":1}])"), 400,
       "request.invalid", "/lines/0/quantity"},
      {Action::kReceipt, "", Receipt(R"([{"name":"a","price":1,"quantity":-1,"tax":1}])"), 400, "request.invalid",
       "/lines/0/quantity"},
      {Action::kReceipt, "", Receipt(R"([{"name":"a","price":1,"quantity":1,"tax":6}])"), 400, "request.invalid",
       "/lines/0/tax"},
      {Action::kReceipt, "", Receipt(R"([{"name":"a","price":1,"quantity":1,"tax":0}])"), 400, "request.invalid",
       "/lines/0/tax"},
      {Action::kReceipt, "", Receipt(R"([{"name":"","price":1,"quantity":1,"tax":1}])"), 400, "request.invalid",
       "/lines/0/name"},
      {Action::kReceipt, "", Receipt(R"([{"name":"a","price":1,"quantity":1,"tax":1,"colour":1}])"), 400,
       "request.invalid", "/lines/0/colour"},
      {Action::kReceipt, "",
       Receipt(R"([{"name":"a","price":1,"quantity":1,"tax":1,"discount":1,"discount_amount":5}])"), 400,
       "request.invalid", "/lines/0/discount_amount"},
      {Action::kReceipt, "", Receipt(R"([{"name":"a","price":1,"quantity":1,"tax":1,"unit":"0123456789abcdef"}])"), 400,
       "request.invalid", "/lines/0/unit"},
      {Action::kReceipt, "", Receipt(R"([{"name":"a","price":1,"quantity":1,"tax":1,"unit":"k\ng"}])"), 400,
       "request.invalid", "/lines/0/unit"},
      {Action::kReceipt, "", Receipt(R"([{"name":"a","price":1,"quantity":1,"tax":1}])", R"(, "tip": 1)"), 400,
       "request.invalid", "/tip"},
      {Action::kCashIn, "", "{" + kCashier + R"(, "amount": 100000000001})", 400, "request.invalid", "/amount"},
      {Action::kCashIn, "", "{" + kCashier + R"(, "amount": 1.5})", 400, "request.invalid", "/amount"},
      {Action::kCashIn, "", "{" + kCashier + R"(, "amount": 0})", 400, "request.invalid", "/amount"},
      {Action::kShiftOpen, "", R"({"cashier": {"number": 21, "password": 1}})", 400, "request.invalid",
       "/cashier/number"},
      {Action::kReport, "z", "{" + kCashier + "}", 404, "route.not-found", ""},
      {Action::kReport, "period", "{" + kCashier + R"(, "from": "yesterday", "to": "2035-01-01T00:00:00Z"})", 400,
       "request.invalid", "/from"},
      {Action::kSetSerial, "", R"({"serial": "12345"})", 400, "request.invalid", "/serial"},
      {Action::kRegistration, "", R"({"inn": "77", "fn": "99", "tax_rates": [{"number": 6}]})", 400, "request.invalid",
       "/tax_rates/0/number"},
  };
  for (const auto& c : cases) {
    Job job;
    Problem p;
    EXPECT_FALSE(DecodeJob(c.action, c.segment, "", c.body, &job, &p)) << c.body.substr(0, 200);
    EXPECT_EQ(p.status, c.status) << c.body.substr(0, 200);
    EXPECT_EQ(p.code, c.code) << c.body.substr(0, 200);
    EXPECT_EQ(p.pointer, c.pointer) << c.body.substr(0, 200) << ": " << p.detail;
  }
}

// Every text the bridge takes, in a body that is good otherwise; TEXT stands
// for the text under test.
TEST(RequestTest, TextsWithControlCharactersAreRefusedInEveryField) {
  const std::string line = R"([{"name":"a","price":1,"quantity":1,"tax":1}])";
  const std::string registration = R"({"inn": "7701234567", "fn": "9999078900012345", )";
  const struct {
    Action action;
    std::string segment, body, pointer;
  } fields[] = {
      {Action::kReceipt, "", Receipt(R"([{"name":TEXT,"price":1,"quantity":1,"tax":1}])"), "/lines/0/name"},
      {Action::kReceipt, "", Receipt(R"([{"name":"a","code":TEXT,"price":1,"quantity":1,"tax":1}])"), "/lines/0/code"},
      {Action::kReceipt, "", Receipt(R"([{"name":"a","extra_text":TEXT,"price":1,"quantity":1,"tax":1}])"),
       "/lines/0/extra_text"},
      {Action::kReceipt, "",
       R"({"type": "sale", "cashier": {"number": 1, "password": 1111, "name": TEXT}, "lines": )" + line +
           R"(, "payment": {"cash": 100}})",
       "/cashier/name"},
      {Action::kWriteTable, "cashiers", R"({"name": TEXT, "password": 1, "rights": 1})", "/name"},
      {Action::kWriteTable, "sections", R"({"name": TEXT})", "/name"},
      {Action::kWriteTable, "discounts", R"({"type": "percent", "value": 500, "name": TEXT})", "/name"},
      {Action::kRegistration, "", registration + R"("texts": ["ООО Ромашка", TEXT]})", "/texts/1"},
      {Action::kRegistration, "",
       registration + R"("tax_rates": [{"number": 1, "type": 1, "rate": 2000, "name": TEXT}]})", "/tax_rates/0/name"},
  };
  // A forged total on a line of its own, and each kind of control character.
  const std::string bad[] = {"Хлеб\nИТОГО 0.00\nСПАСИБО", "a\rb", "a\tb", std::string("a\0b", 3), "a\x1B@", "a\x7F"};
  std::string ascii;
  for (char c = ' '; c < '\x7F'; ++c) ascii += c;
  const std::string good[] = {"Хлеб «Дарницкий» №5, 0.5 кг", ascii.substr(0, 30), ascii.substr(30, 30),
                              ascii.substr(60, 30), ascii.substr(90)};
  auto body_with = [](std::string body, const std::string& text) {
    return body.replace(body.find("TEXT"), 4, nlohmann::json(text).dump());
  };
  for (const auto& f : fields) {
    const std::string record = f.action == Action::kWriteTable ? "1" : "";
    for (const std::string& text : bad) {
      Job job;
      Problem p;
      const std::string body = body_with(f.body, text);
      EXPECT_FALSE(DecodeJob(f.action, f.segment, record, body, &job, &p)) << body;
      EXPECT_EQ(400, p.status) << body;
      EXPECT_EQ("request.invalid", p.code) << body;
      EXPECT_EQ(f.pointer, p.pointer) << body << ": " << p.detail;
    }
    for (const std::string& text : good) {
      Job job;
      Problem p;
      const std::string body = body_with(f.body, text);
      EXPECT_TRUE(DecodeJob(f.action, f.segment, record, body, &job, &p)) << body << ": " << p.detail;
    }
  }
}

TEST(RequestTest, AReceiptBecomesItsFrames) {
  Job job;
  Problem p;
  ASSERT_TRUE(DecodeJob(Action::kReceipt, "", "",
                        Receipt(R"([{"name":"Чай","price":12990,"quantity":"1.500","tax":5,"section":3,"discount":2},
                                    {"name":"b","price":1,"quantity":2,"tax":1,"code":"4601234567890",
                                     "unit":"шт","extra_text":"Акция","discount_amount":150}])"),
                        &job, &p))
      << p.detail;
  ASSERT_EQ(job.lines.size(), 2u);
  EXPECT_EQ(job.lines[0].quantity, 1500);
  EXPECT_EQ(job.lines[0].places, 3);
  EXPECT_EQ(job.lines[0].tax, 5);
  EXPECT_EQ(job.lines[0].section, 3);
  EXPECT_EQ(job.lines[0].discount, 2);
  EXPECT_EQ(job.lines[1].section, 1) << "section 1 unless given";
  EXPECT_EQ(job.lines[1].code, "4601234567890");
  EXPECT_EQ(job.lines[1].unit, util::Utf8ToCp866("шт"));
  EXPECT_EQ(job.lines[1].extra, util::Utf8ToCp866("Акция"));
  EXPECT_EQ(job.lines[1].discount_amount, 150);
  const host::Plan plan = DocumentPlan(job, host::Session(nullptr, job.login, job.cashier_name));
  EXPECT_EQ(plan.open.command, cmd::kOpenReceipt);
  ASSERT_EQ(plan.steps.size(), 3u);
  EXPECT_EQ(plan.steps.back().command, cmd::kCloseReceipt);
}

TEST(RequestTest, TimesAndAmounts) {
  const struct {
    const char* text;
    bool ok;
    uint32_t t;
  } times[] = {
      {"2035-01-02T10:00:00Z", true, 2051344800}, {"2035-01-02T13:00:00.250+03:00", true, 2051344800},
      {"2035-01-02 10:00:00Z", false, 0},         {"2035-13-02T10:00:00Z", false, 0},
      {"2035-01-02T10:00:00", false, 0},          {"1969-12-31T23:59:59Z", false, 0},
  };
  for (const auto& c : times) {
    uint32_t t = 0;
    EXPECT_EQ(ParseTime(c.text, &t), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(t, c.t) << c.text;
      EXPECT_EQ(FormatTime(t), "2035-01-02T10:00:00Z");
    }
  }
  EXPECT_EQ(Decimal2(12990), "129.90");
  EXPECT_EQ(Decimal2(-5), "-0.05");
  EXPECT_EQ(Decimal2(INT64_MIN), "-92233720368547758.08");
}

TEST(JournalTest, OutcomesOutliveTheProcessAndReleasedKeysAreGone) {
  sim::Sandbox tmp = sim::Sandbox::Temp();
  const std::string path = tmp.dir() + "/journal.sqlite";
  {
    Journal j;
    ASSERT_TRUE(j.Open(path).ok());
    JournalEntry e;
    e.key = "a";
    e.register_name = "main";
    e.action = "receipt";
    e.hash = "H";
    e.last_document = 7;
    e.close_id = 99;
    ASSERT_TRUE(j.Begin(e));
    EXPECT_FALSE(j.Begin(e)) << "a key is begun once";
    e.key = "b";
    e.request = R"({"path": "/v1/registers/main/receipts", "body": {}})";
    ASSERT_TRUE(j.Begin(e));
    e.key = "c";
    ASSERT_TRUE(j.Begin(e));
    ASSERT_TRUE(j.Finish("a", 201, R"({"number": 8})"));
    ASSERT_TRUE(j.Release("c"));
  }
  Journal j;
  ASSERT_TRUE(j.Open(path).ok());
  JournalEntry e;
  bool failed = true;
  ASSERT_TRUE(j.Find("a", &e, &failed));
  EXPECT_TRUE(e.done);
  EXPECT_EQ(e.status, 201);
  EXPECT_EQ(e.response, R"({"number": 8})");
  EXPECT_FALSE(j.Find("c", &e, &failed));
  EXPECT_FALSE(failed);
  const std::vector<JournalEntry> open = j.Unfinished();
  ASSERT_EQ(open.size(), 1u);
  EXPECT_EQ(open[0].key, "b");
  EXPECT_EQ(open[0].last_document, 7u);
  EXPECT_EQ(open[0].close_id, 99u);
  EXPECT_EQ(open[0].request, R"({"path": "/v1/registers/main/receipts", "body": {}})");
}

// A write is on disk before it returns: an outcome the POS was told, or a
// job begun before its first frame went, outlives a power cut.
TEST(JournalTest, EveryWriteIsSyncedBeforeItReturns) {
  faultvfs::Register();
  sim::Sandbox tmp = sim::Sandbox::Temp();
  Journal j;
  ASSERT_TRUE(j.Open(tmp.dir() + "/journal.sqlite", "fault").ok());
  JournalEntry e;
  e.key = "k";
  e.register_name = "main";
  e.action = "receipt";
  const JournalDocument d{8, 1000, 1, "{}"};
  const struct {
    const char* what;
    std::function<bool()> write;
  } writes[] = {
      {"begin", [&] { return j.Begin(e); }},
      {"close id", [&] { return j.SetCloseId("k", 9); }},
      {"finish with its document", [&] { return j.Finish("k", 201, "{}", &d); }},
      {"release", [&] { return j.Release("k"); }},
      {"seen", [&] { return j.See("main", "4200012345", 8); }},
  };
  for (const auto& w : writes) {
    const int before = faultvfs::syncs;
    ASSERT_TRUE(w.write()) << w.what << ": " << j.last_error();
    EXPECT_GT(faultvfs::syncs, before) << w.what;
  }
}

TEST(JournalTest, StoredDocumentsAreListedNewestFirstByTheirFilters) {
  sim::Sandbox tmp = sim::Sandbox::Temp();
  const std::string path = tmp.dir() + "/journal.sqlite";
  {
    // A journal from before requests were kept takes them now.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "CREATE TABLE jobs (key TEXT PRIMARY KEY, register TEXT NOT NULL, action TEXT NOT NULL, "
                           "hash TEXT NOT NULL, done INTEGER NOT NULL, last_document INTEGER NOT NULL, "
                           "close_id INTEGER NOT NULL, status INTEGER NOT NULL, response TEXT NOT NULL, "
                           "created INTEGER NOT NULL)",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
  }
  Journal j;
  ASSERT_TRUE(j.Open(path).ok());
  // Documents 2 to 8 but 5 (another program's), shift 1 up to 4; a refusal
  // keeps none.
  for (uint32_t n : {2u, 3u, 4u, 6u, 7u, 8u, 9u}) {
    JournalEntry e;
    e.key = "k" + std::to_string(n);
    e.register_name = "main";
    e.action = "receipt";
    e.request = "{}";
    ASSERT_TRUE(j.Begin(e)) << j.last_error();
    const JournalDocument d{n, 1000 + n, n < 5 ? 1u : 2u, "{\"number\":" + std::to_string(n) + "}"};
    ASSERT_TRUE(j.Finish(e.key, n == 9 ? 422 : 201, d.body, n == 9 ? nullptr : &d)) << j.last_error();
  }
  auto numbers = [&](DocumentQuery q) {
    q.register_name = q.register_name.empty() ? "main" : q.register_name;
    std::vector<JournalDocument> docs;
    EXPECT_TRUE(j.Documents(q, &docs)) << j.last_error();
    std::vector<uint32_t> out;
    for (const JournalDocument& d : docs) out.push_back(d.number);
    return out;
  };
  using V = std::vector<uint32_t>;
  EXPECT_EQ(numbers({}), V({8, 7, 6, 4, 3, 2}));
  EXPECT_EQ(numbers({"main", 0, UINT32_MAX, 1}), V({4, 3, 2}));
  EXPECT_EQ(numbers({"main", 1003, 1006}), V({6, 4, 3}));
  EXPECT_EQ(numbers({"main", 0, UINT32_MAX, 0, 4}), V({8, 7, 6}));
  EXPECT_EQ(numbers({"main", 0, UINT32_MAX, 0, 0, 7, 2}), V({6, 4, 3}))
      << "one more than the limit tells there are more";
  EXPECT_EQ(numbers({"other"}), V());
  JournalDocument d;
  bool failed = true;
  ASSERT_TRUE(j.Document("main", 6, &d, &failed));
  EXPECT_EQ(d.body, R"({"number":6})");
  EXPECT_EQ(d.shift, 2u);
  EXPECT_FALSE(j.Document("main", 5, &d, &failed));
  EXPECT_FALSE(failed);
}

TEST(AnswerTest, AListingNamesTheNumbersItLacks) {
  using V = std::vector<uint32_t>;
  const struct {
    V numbers;
    uint32_t after, last;
    bool complete;
    json gaps;
  } cases[] = {
      {{5, 4, 2}, 0, 7, true, {{6, 7}, {3, 3}, {1, 1}}},
      {{3, 2, 1}, 0, 3, true, json::array()},
      {{}, 0, 3, true, {{1, 3}}},
      {{}, 4, 3, true, json::array()},
      {{10, 8}, 5, 0, false, {{9, 9}}},
      {{10, 8}, 5, 0, true, {{9, 9}, {6, 7}}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ListingGaps(c.numbers, c.after, c.last, c.complete), c.gaps) << c.gaps.dump();
  }
}

// A journal that existed and is gone, emptied or damaged is never taken for
// a new one; a reset sets it aside and starts afresh.
TEST(JournalTest, ALostJournalIsNoNewOneUntilReset) {
  const struct {
    const char* name;
    void (*damage)(const std::string& path);
    const char* why;
  } cases[] = {
      {"missing", [](const std::string& p) { std::remove(p.c_str()); }, "is missing"},
      {"empty", [](const std::string& p) { std::ofstream(p, std::ios::trunc).flush(); }, "is empty"},
      {"header",
       [](const std::string& p) {
         std::fstream(p, std::ios::in | std::ios::out | std::ios::binary).write("garbage!", 8);
       },
       "corrupt"},
      {"page",
       [](const std::string& p) {
         std::fstream f(p, std::ios::in | std::ios::out | std::ios::binary);
         f.seekp(4096);  // the jobs table's root page
         f.write(std::string(4096, '\xA5').data(), 4096);
       },
       "corrupt"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Sandbox tmp = sim::Sandbox::Temp();
    const std::string path = tmp.dir() + "/journal.sqlite";
    {
      Journal j;
      ASSERT_TRUE(j.Open(path).ok());
      JournalEntry e;
      e.register_name = "main";
      e.action = "receipt";
      for (int i = 0; i < 40; ++i) {
        e.key = "key-" + std::to_string(i);
        ASSERT_TRUE(j.Begin(e));
        ASSERT_TRUE(j.Finish(e.key, 201, std::string(200, 'x')));
      }
      ASSERT_TRUE(j.See("main", "4200012345", 61));
      EXPECT_EQ(j.lost(), "");
    }
    std::remove((path + "-wal").c_str());  // closed cleanly: everything is in the file
    c.damage(path);
    Journal j;
    ASSERT_TRUE(j.Open(path).ok());
    EXPECT_NE(j.lost().find(c.why), std::string::npos) << j.lost();
    JournalEntry e;
    e.key = "key-1";
    bool failed = false;
    EXPECT_FALSE(j.Find("key-1", &e, &failed));
    EXPECT_TRUE(failed);
    EXPECT_FALSE(j.Begin(e)) << "nothing is written to a lost journal";

    std::string report;
    ASSERT_TRUE(Journal::Reset(path, &report).ok());
    EXPECT_NE(report.find("journal-discarded-"), std::string::npos) << report;
    if (std::string(c.name) == "missing") {
      EXPECT_NE(report.find("no journal was there"), std::string::npos) << report;
    }
    Journal fresh;
    ASSERT_TRUE(fresh.Open(path).ok());
    EXPECT_EQ(fresh.lost(), "");
    EXPECT_TRUE(fresh.Begin(e));
  }
  // A sound journal's reset says what it held.
  sim::Sandbox tmp = sim::Sandbox::Temp();
  const std::string path = tmp.dir() + "/journal.sqlite";
  std::string report;
  {
    Journal j;
    ASSERT_TRUE(j.Open(path).ok());
    JournalEntry e;
    e.key = "a";
    ASSERT_TRUE(j.Begin(e));
    ASSERT_TRUE(j.See("main", "4200012345", 61));
  }
  ASSERT_TRUE(Journal::Reset(path, &report).ok());
  EXPECT_NE(report.find("1 keys, 1 of them not settled; register main (serial 4200012345) seen up to document 61"),
            std::string::npos)
      << report;
}

}  // namespace
}  // namespace bridge
