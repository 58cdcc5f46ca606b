#include "bridge/journal.h"

#include <ctime>

#include <sqlite3.h>

namespace bridge {

namespace {

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
    "key, register, action, hash, done, last_document, close_id, status, response, created";

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
  return e;
}

}  // namespace

Journal::~Journal() { sqlite3_close(db_); }

bool Journal::Open(const std::string& path, std::string* error) {
  std::lock_guard<std::mutex> l(mu_);
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                      nullptr) != SQLITE_OK) {
    *error = path + ": " + (db_ != nullptr ? sqlite3_errmsg(db_) : "cannot open");
    return false;
  }
  sqlite3_busy_timeout(db_, 5000);
  // WAL with FULL synchronous: each commit is fsynced before it returns.
  if (!Exec("PRAGMA journal_mode=WAL") || !Exec("PRAGMA synchronous=FULL") ||
      !Exec("CREATE TABLE IF NOT EXISTS jobs (key TEXT PRIMARY KEY, register TEXT NOT NULL, "
            "action TEXT NOT NULL, hash TEXT NOT NULL, done INTEGER NOT NULL, "
            "last_document INTEGER NOT NULL, close_id INTEGER NOT NULL, status INTEGER NOT NULL, "
            "response TEXT NOT NULL, created INTEGER NOT NULL)")) {
    *error = path + ": " + last_error_;
    return false;
  }
  return true;
}

bool Journal::Exec(const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
    last_error_ = message != nullptr ? message : "failed";
    sqlite3_free(message);
    return false;
  }
  return true;
}

bool Journal::Fail(const char* what) {
  last_error_ = std::string(what) + ": " + sqlite3_errmsg(db_);
  return false;
}

bool Journal::Find(const std::string& key, JournalEntry* out) {
  std::lock_guard<std::mutex> l(mu_);
  Statement s(db_, (std::string("SELECT ") + kColumns + " FROM jobs WHERE key = ?").c_str());
  s.Text(1, key);
  if (s.Step() != SQLITE_ROW) return false;
  *out = Read(&s);
  return true;
}

bool Journal::Begin(const JournalEntry& e) {
  std::lock_guard<std::mutex> l(mu_);
  Statement s(db_, (std::string("INSERT INTO jobs (") + kColumns + ") VALUES (?, ?, ?, ?, 0, ?, ?, 0, '', ?)").c_str());
  s.Text(1, e.key).Text(2, e.register_name).Text(3, e.action).Text(4, e.hash);
  s.Int(5, e.last_document).Int(6, e.close_id).Int(7, static_cast<int64_t>(time(nullptr)));
  return s.Step() == SQLITE_DONE || Fail("begin");
}

bool Journal::SetCloseId(const std::string& key, uint32_t close_id) {
  std::lock_guard<std::mutex> l(mu_);
  Statement s(db_, "UPDATE jobs SET close_id = ? WHERE key = ?");
  s.Int(1, close_id).Text(2, key);
  return s.Step() == SQLITE_DONE || Fail("close id");
}

bool Journal::Finish(const std::string& key, int status, const std::string& response) {
  std::lock_guard<std::mutex> l(mu_);
  Statement s(db_, "UPDATE jobs SET done = 1, status = ?, response = ? WHERE key = ?");
  s.Int(1, status).Text(2, response).Text(3, key);
  return s.Step() == SQLITE_DONE || Fail("finish");
}

bool Journal::Release(const std::string& key) {
  std::lock_guard<std::mutex> l(mu_);
  Statement s(db_, "DELETE FROM jobs WHERE key = ?");
  s.Text(1, key);
  return s.Step() == SQLITE_DONE || Fail("release");
}

std::vector<JournalEntry> Journal::Unfinished() {
  std::lock_guard<std::mutex> l(mu_);
  std::vector<JournalEntry> out;
  Statement s(db_, (std::string("SELECT ") + kColumns + " FROM jobs WHERE done = 0 ORDER BY created").c_str());
  while (s.Step() == SQLITE_ROW) out.push_back(Read(&s));
  return out;
}

}  // namespace bridge
