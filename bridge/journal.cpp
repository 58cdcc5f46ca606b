#include "bridge/journal.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>

#include <sqlite3.h>

#include "bridge/files.h"
#include "host/clock.h"

namespace bridge {

namespace {

namespace fs = std::filesystem;

// A prepared statement, finalised on every path.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &st_, nullptr); }
  ~Statement() { sqlite3_finalize(st_); }
  bool ok() const { return st_ != nullptr; }
  Statement& Text(int i, const std::string& v) {
    sqlite3_bind_text(st_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Statement& Int(int i, int64_t v) {
    sqlite3_bind_int64(st_, i, v);
    return *this;
  }
  int Step() { return st_ != nullptr ? sqlite3_step(st_) : SQLITE_ERROR; }
  std::string Column(int i) {
    const unsigned char* p = sqlite3_column_text(st_, i);
    return p != nullptr ? std::string(reinterpret_cast<const char*>(p), sqlite3_column_bytes(st_, i)) : "";
  }
  int64_t IntColumn(int i) { return sqlite3_column_int64(st_, i); }

 private:
  sqlite3_stmt* st_ = nullptr;
};

constexpr const char* kColumns =
    "key, register, action, hash, done, last_document, close_id, status, response, created, request";

JournalEntry Read(Statement* s) {
  JournalEntry e;
  e.key = s->Column(0);
  e.register_name = s->Column(1);
  e.action = s->Column(2);
  e.hash = s->Column(3);
  e.done = s->IntColumn(4) != 0;
  e.last_document = static_cast<uint32_t>(s->IntColumn(5));
  e.close_id = static_cast<uint32_t>(s->IntColumn(6));
  e.status = static_cast<int>(s->IntColumn(7));
  e.response = s->Column(8);
  e.created = s->IntColumn(9);
  e.request = s->Column(10);
  return e;
}

}  // namespace

Journal::~Journal() { sqlite3_close(db_); }

host::Status Journal::Open(const std::string& path, const char* vfs) {
  std::lock_guard<std::mutex> l(mu_);
  const bool file = path != ":memory:";
  // The journal existed once: gone or emptied, it is not a new journal, and
  // keys it held must not run again unnoticed.
  const std::string marker = path + ".created";
  std::error_code ec;
  if (file && fs::exists(marker, ec)) {
    if (!fs::exists(path, ec)) {
      lost_ = "the journal " + path + " is missing";
      return host::Status::OK();
    }
    if (fs::is_regular_file(path, ec) && fs::file_size(path, ec) == 0) {
      lost_ = "the journal " + path + " is empty";
      return host::Status::OK();
    }
  }
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, vfs) !=
      SQLITE_OK) {
    return host::Status::IoError(path + ": " + (db_ != nullptr ? sqlite3_errmsg(db_) : "cannot open"));
  }
  sqlite3_busy_timeout(db_, 5000);
  // WAL with FULL synchronous: each commit is fsynced before it returns.
  const bool ok = Exec("PRAGMA journal_mode=WAL") && Exec("PRAGMA synchronous=FULL") &&
                  // The inbox holds requests with cashiers' passwords until answered.
                  Exec("PRAGMA secure_delete=ON") && Intact() &&
                  Exec(
                      "CREATE TABLE IF NOT EXISTS jobs (key TEXT PRIMARY KEY, register TEXT NOT NULL, "
                      "action TEXT NOT NULL, hash TEXT NOT NULL, done INTEGER NOT NULL, "
                      "last_document INTEGER NOT NULL, close_id INTEGER NOT NULL, status INTEGER NOT NULL, "
                      "response TEXT NOT NULL, created INTEGER NOT NULL, request TEXT NOT NULL DEFAULT '')") &&
                  HasRequestColumn() &&
                  Exec(
                      "CREATE TABLE IF NOT EXISTS seen (register TEXT PRIMARY KEY, serial TEXT NOT NULL, "
                      "last_document INTEGER NOT NULL)") &&
                  Exec(
                      "CREATE TABLE IF NOT EXISTS documents (register TEXT NOT NULL, number INTEGER NOT NULL, "
                      "time INTEGER NOT NULL, shift INTEGER NOT NULL, body TEXT NOT NULL, "
                      "PRIMARY KEY (register, number)) WITHOUT ROWID") &&
                  // Documents the uplink has not yet seen acknowledged.
                  Exec(
                      "CREATE TABLE IF NOT EXISTS outbox (register TEXT NOT NULL, number INTEGER NOT NULL, "
                      "PRIMARY KEY (register, number)) WITHOUT ROWID") &&
                  // The back office's requests, kept until their reply was acknowledged.
                  Exec(
                      "CREATE TABLE IF NOT EXISTS inbox (register TEXT NOT NULL, id TEXT NOT NULL, "
                      "payload BLOB NOT NULL, UNIQUE (register, id))");
  if (!ok && lost_.empty()) {
    return host::Status::IoError(path + ": " + last_error_);
  }
  if (!lost_.empty()) {
    lost_ = "the journal " + path + " is corrupt (" + lost_ + ")";
    return host::Status::OK();
  }
  if (file && !fs::exists(marker, ec) &&
      !WriteSynced(marker, "the journal was made here; a missing journal is a lost one\n")) {
    return host::Status::IoError("cannot write " + marker);
  }
  return host::Status::OK();
}

bool Journal::HasRequestColumn() {
  // A journal from before requests were kept gains the column.
  Statement probe(db_, "SELECT request FROM jobs LIMIT 0");
  return probe.ok() || Exec("ALTER TABLE jobs ADD COLUMN request TEXT NOT NULL DEFAULT ''");
}

bool Journal::Intact() {
  Statement s(db_, "PRAGMA quick_check");
  const int rc = s.Step();
  if (rc == SQLITE_ROW && s.Column(0) == "ok") return true;
  lost_ = rc == SQLITE_ROW ? s.Column(0) : sqlite3_errmsg(db_);
  return false;
}

std::string Journal::lost() {
  std::lock_guard<std::mutex> l(mu_);
  return lost_;
}

bool Journal::Usable() {
  if (lost_.empty() && db_ != nullptr) return true;
  last_error_ = lost_.empty() ? "not open" : lost_;
  return false;
}

host::Status Journal::Reset(const std::string& path, std::string* report) {
  std::string what;
  {
    Journal old;
    host::Status opened;
    std::error_code ec;
    if (!fs::exists(path, ec)) {
      what = "no journal was there";
    } else if (!(opened = old.Open(path)).ok()) {
      what = "it could not be read: " + opened.ToString();
    } else if (!old.lost_.empty()) {
      what = old.lost_;
    } else {
      Statement all(old.db_, "SELECT count(*), coalesce(sum(done = 0), 0) FROM jobs");
      if (all.Step() == SQLITE_ROW) {
        what = std::to_string(all.IntColumn(0)) + " keys, " + std::to_string(all.IntColumn(1)) + " of them not settled";
      }
      Statement seen(old.db_, "SELECT register, serial, last_document FROM seen ORDER BY register");
      while (seen.Step() == SQLITE_ROW) {
        what += "; register " + seen.Column(0) + " (serial " + seen.Column(1) + ") seen up to document " +
                std::to_string(seen.IntColumn(2));
      }
    }
  }
  char stamp[32];
  const std::tm tm = host::UtcOf(time(nullptr));
  strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%S", &tm);
  const size_t slash = path.rfind('/');
  const std::string aside = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) +
                            "journal-discarded-" + stamp + ".sqlite";
  // The file with its write-ahead log, so that the copy set aside stays whole.
  for (const char* suffix : {"", "-wal", "-shm"}) {
    const std::string from = path + suffix;
    std::error_code ec;
    if (fs::exists(from, ec) && std::rename(from.c_str(), (aside + suffix).c_str()) != 0) {
      return host::Status::IoError("cannot move " + from + " aside");
    }
  }
  std::remove((path + ".created").c_str());
  Journal fresh;
  const host::Status made = fresh.Open(path);
  if (!made.ok()) return made;
  *report = "discarded the journal " + path + " (" + what + "): it is kept as " + aside +
            "; a key it held runs again as a new request";
  return host::Status::OK();
}
bool Journal::Exec(const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
    last_error_ = message != nullptr ? message : "failed";
    sqlite3_free(message);
    const int code = sqlite3_errcode(db_) & 0xff;
    if (code == SQLITE_CORRUPT || code == SQLITE_NOTADB) lost_ = last_error_;
    return false;
  }
  return true;
}

bool Journal::Fail(const char* what) {
  last_error_ = std::string(what) + ": " + sqlite3_errmsg(db_);
  const int code = sqlite3_errcode(db_) & 0xff;
  if (code == SQLITE_CORRUPT || code == SQLITE_NOTADB) lost_ = "the journal is corrupt (" + last_error_ + ")";
  return false;
}

bool Journal::Find(const std::string& key, JournalEntry* out, bool* failed) {
  std::lock_guard<std::mutex> l(mu_);
  *failed = !Usable();
  if (*failed) return false;
  Statement s(db_, (std::string("SELECT ") + kColumns + " FROM jobs WHERE key = ?").c_str());
  s.Text(1, key);
  const int rc = s.Step();
  if (rc != SQLITE_ROW) {
    *failed = rc != SQLITE_DONE;
    return *failed && Fail("find");
  }
  *out = Read(&s);
  return true;
}

bool Journal::Begin(const JournalEntry& e) {
  std::lock_guard<std::mutex> l(mu_);
  if (!Usable()) return false;
  Statement s(db_,
              (std::string("INSERT INTO jobs (") + kColumns + ") VALUES (?, ?, ?, ?, 0, ?, ?, 0, '', ?, ?)").c_str());
  s.Text(1, e.key).Text(2, e.register_name).Text(3, e.action).Text(4, e.hash);
  s.Int(5, e.last_document).Int(6, e.close_id).Int(7, static_cast<int64_t>(time(nullptr))).Text(8, e.request);
  return s.Step() == SQLITE_DONE || Fail("begin");
}

bool Journal::SetCloseId(const std::string& key, uint32_t close_id) {
  std::lock_guard<std::mutex> l(mu_);
  if (!Usable()) return false;
  Statement s(db_, "UPDATE jobs SET close_id = ? WHERE key = ?");
  s.Int(1, close_id).Text(2, key);
  return s.Step() == SQLITE_DONE || Fail("close id");
}

bool Journal::Finish(const std::string& key, int status, const std::string& response, const JournalDocument* document) {
  std::lock_guard<std::mutex> l(mu_);
  if (!Usable() || !Exec("BEGIN IMMEDIATE")) return false;
  Statement s(db_, "UPDATE jobs SET done = 1, status = ?, response = ? WHERE key = ?");
  s.Int(1, status).Text(2, response).Text(3, key);
  bool ok = s.Step() == SQLITE_DONE || Fail("finish");
  if (ok && document != nullptr) {
    Statement r(db_, "SELECT register FROM jobs WHERE key = ?");
    r.Text(1, key);
    ok = (r.Step() == SQLITE_ROW || Fail("finish")) && InsertDocument(r.Column(0), *document);
  }
  return Commit(ok);
}

bool Journal::Keep(const std::string& register_name, const JournalDocument& document) {
  std::lock_guard<std::mutex> l(mu_);
  if (!outbox_) return true;
  if (!Usable() || !Exec("BEGIN IMMEDIATE")) return false;
  return Commit(InsertDocument(register_name, document));
}

bool Journal::InsertDocument(const std::string& register_name, const JournalDocument& document) {
  Statement d(db_, "INSERT OR REPLACE INTO documents (register, number, time, shift, body) VALUES (?, ?, ?, ?, ?)");
  d.Text(1, register_name).Int(2, document.number).Int(3, document.time).Int(4, document.shift).Text(5, document.body);
  if (d.Step() != SQLITE_DONE) return Fail("document");
  // Reports that store no document (number 0) are not the ledger's.
  if (!outbox_ || document.number == 0) return true;
  Statement o(db_, "INSERT OR IGNORE INTO outbox (register, number) VALUES (?, ?)");
  o.Text(1, register_name).Int(2, document.number);
  return o.Step() == SQLITE_DONE || Fail("outbox");
}

bool Journal::Commit(bool ok) {
  if (ok && Exec("COMMIT")) return true;
  const std::string error = last_error_;
  Exec("ROLLBACK");
  last_error_ = error;
  return false;
}

void Journal::KeepOutbox(bool on) {
  std::lock_guard<std::mutex> l(mu_);
  outbox_ = on;
}

bool Journal::Outbox(const std::string& register_name, uint32_t after, size_t limit,
                     std::vector<JournalDocument>* out) {
  std::lock_guard<std::mutex> l(mu_);
  if (!Usable()) return false;
  Statement s(db_,
              "SELECT d.number, d.time, d.shift, d.body FROM outbox o JOIN documents d "
              "ON d.register = o.register AND d.number = o.number WHERE o.register = ? AND o.number > ? "
              "ORDER BY o.number LIMIT ?");
  s.Text(1, register_name).Int(2, after).Int(3, static_cast<int64_t>(limit));
  int rc;
  while ((rc = s.Step()) == SQLITE_ROW) {
    out->push_back(JournalDocument{static_cast<uint32_t>(s.IntColumn(0)), static_cast<uint32_t>(s.IntColumn(1)),
                                   static_cast<uint32_t>(s.IntColumn(2)), s.Column(3)});
  }
  return rc == SQLITE_DONE || Fail("outbox");
}

bool Journal::AddRequest(const std::string& register_name, const std::string& id, const std::string& payload) {
  std::lock_guard<std::mutex> l(mu_);
  if (!Usable()) return false;
  Statement s(db_, "INSERT OR IGNORE INTO inbox (register, id, payload) VALUES (?, ?, ?)");
  s.Text(1, register_name).Text(2, id).Text(3, payload);
  return s.Step() == SQLITE_DONE || Fail("inbox");
}

bool Journal::Requests(const std::string& register_name, size_t limit,
                       std::vector<std::pair<std::string, std::string>>* out) {
  std::lock_guard<std::mutex> l(mu_);
  if (!Usable()) return false;
  Statement s(db_, "SELECT id, payload FROM inbox WHERE register = ? ORDER BY rowid LIMIT ?");
  s.Text(1, register_name).Int(2, static_cast<int64_t>(limit));
  int rc;
  while ((rc = s.Step()) == SQLITE_ROW) out->emplace_back(s.Column(0), s.Column(1));
  return rc == SQLITE_DONE || Fail("inbox");
}

bool Journal::Answered(const std::string& register_name, const std::string& id) {
  std::lock_guard<std::mutex> l(mu_);
  if (!Usable()) return false;
  Statement s(db_, "DELETE FROM inbox WHERE register = ? AND id = ?");
  s.Text(1, register_name).Text(2, id);
  return s.Step() == SQLITE_DONE || Fail("answered");
}

bool Journal::Delivered(const std::string& register_name, uint32_t number) {
  std::lock_guard<std::mutex> l(mu_);
  if (!Usable()) return false;
  Statement s(db_, "DELETE FROM outbox WHERE register = ? AND number = ?");
  s.Text(1, register_name).Int(2, number);
  return s.Step() == SQLITE_DONE || Fail("delivered");
}

bool Journal::Resend(const std::string& register_name, uint32_t after, int64_t* count) {
  std::lock_guard<std::mutex> l(mu_);
  if (!Usable()) return false;
  Statement s(db_,
              "INSERT OR IGNORE INTO outbox (register, number) SELECT register, number FROM documents "
              "WHERE register = ? AND number > ?");
  s.Text(1, register_name).Int(2, after);
  if (s.Step() != SQLITE_DONE) return Fail("resend");
  Statement c(db_, "SELECT count(*) FROM outbox WHERE register = ?");
  c.Text(1, register_name);
  if (c.Step() != SQLITE_ROW) return Fail("resend");
  *count = c.IntColumn(0);
  return true;
}

bool Journal::Documents(const DocumentQuery& q, std::vector<JournalDocument>* out) {
  std::lock_guard<std::mutex> l(mu_);
  if (!Usable()) return false;
  Statement s(db_,
              "SELECT number, time, shift, body FROM documents WHERE register = ? AND time >= ? AND time <= ? "
              "AND (? = 0 OR shift = ?) AND number > ? AND number < ? ORDER BY number DESC LIMIT ?");
  s.Text(1, q.register_name).Int(2, q.from_time).Int(3, q.to_time).Int(4, q.shift).Int(5, q.shift);
  s.Int(6, q.after).Int(7, q.before).Int(8, static_cast<int64_t>(q.limit) + 1);
  int rc;
  while ((rc = s.Step()) == SQLITE_ROW) {
    out->push_back(JournalDocument{static_cast<uint32_t>(s.IntColumn(0)), static_cast<uint32_t>(s.IntColumn(1)),
                                   static_cast<uint32_t>(s.IntColumn(2)), s.Column(3)});
  }
  return rc == SQLITE_DONE || Fail("documents");
}

bool Journal::Document(const std::string& register_name, uint32_t number, JournalDocument* out, bool* failed) {
  std::lock_guard<std::mutex> l(mu_);
  *failed = !Usable();
  if (*failed) return false;
  Statement s(db_, "SELECT number, time, shift, body FROM documents WHERE register = ? AND number = ?");
  s.Text(1, register_name).Int(2, number);
  const int rc = s.Step();
  if (rc != SQLITE_ROW) {
    *failed = rc != SQLITE_DONE;
    return *failed && Fail("document");
  }
  *out = JournalDocument{static_cast<uint32_t>(s.IntColumn(0)), static_cast<uint32_t>(s.IntColumn(1)),
                         static_cast<uint32_t>(s.IntColumn(2)), s.Column(3)};
  return true;
}

bool Journal::Release(const std::string& key) {
  std::lock_guard<std::mutex> l(mu_);
  if (!Usable()) return false;
  Statement s(db_, "DELETE FROM jobs WHERE key = ?");
  s.Text(1, key);
  return s.Step() == SQLITE_DONE || Fail("release");
}

std::vector<JournalEntry> Journal::Unfinished() {
  std::lock_guard<std::mutex> l(mu_);
  std::vector<JournalEntry> out;
  if (!Usable()) return out;
  Statement s(db_, (std::string("SELECT ") + kColumns + " FROM jobs WHERE done = 0 ORDER BY created").c_str());
  while (s.Step() == SQLITE_ROW) out.push_back(Read(&s));
  return out;
}

bool Journal::See(const std::string& register_name, const std::string& serial, uint32_t last_document) {
  std::lock_guard<std::mutex> l(mu_);
  if (!Usable()) return false;
  Statement s(db_, "INSERT OR REPLACE INTO seen (register, serial, last_document) VALUES (?, ?, ?)");
  s.Text(1, register_name).Text(2, serial).Int(3, last_document);
  return s.Step() == SQLITE_DONE || Fail("seen");
}

}  // namespace bridge
