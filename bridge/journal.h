// The bridge's memory of state-changing requests, on disk (SQLite), so that
// a request repeated with its Idempotency-Key gets the first one's outcome,
// also after the bridge restarted. Every write is synced before it returns:
// an entry is on disk before the first byte of its job goes to the register,
// and an outcome before the POS hears it.
//
// Thread-safe.
#ifndef FR_BRIDGE_JOURNAL_H_
#define FR_BRIDGE_JOURNAL_H_

#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "host/status.h"

struct sqlite3;

namespace bridge {

struct JournalEntry {
  std::string key;
  std::string register_name;
  std::string action;          // "receipt", "cash-in", ...
  std::string hash;            // of the request (method, route, body), keyed
  bool done = false;           // else started and not settled
  uint32_t last_document = 0;  // the register's, before the job
  uint32_t close_id = 0;       // identifier of the frame that closes the document
  int status = 0;              // HTTP status of the outcome
  std::string response;        // its body
  int64_t created = 0;         // seconds since 1970
  // What the request asked, {"path", "body"}, without the cashier's
  // password: a job settled after a restart still knows its document.
  std::string request;
};

// A document the register stored for one of the bridge's jobs, as the
// bridge answered it (JSON), with what a listing filters by.
struct JournalDocument {
  uint32_t number = 0;
  uint32_t time = 0;
  uint32_t shift = 0;  // 0 when the document names none
  std::string body;
};

// Which of a register's documents to list: every bound inclusive but
// `after` and `before`, which name the documents beyond them.
struct DocumentQuery {
  std::string register_name;
  uint32_t from_time = 0, to_time = UINT32_MAX;
  uint32_t shift = 0;  // 0: any
  uint32_t after = 0, before = UINT32_MAX;
  size_t limit = 100;
};

class Journal {
 public:
  Journal() = default;
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;
  ~Journal();

  // Opens or creates the journal file; `vfs` names an SQLite VFS (nullptr:
  // the default). False with *error when it cannot be opened at all. A
  // journal that existed once (PATH.created says so) and is now missing,
  // empty or corrupt opens as lost: nothing is written to it, and lost()
  // says why.
  host::Status Open(const std::string& path, const char* vfs = nullptr);
  // Why the journal cannot be trusted; empty while it can.
  std::string lost();
  // Moves the journal at `path` aside as DIR/journal-discarded-TIME.sqlite
  // and makes a new one. *report says what was discarded.
  static host::Status Reset(const std::string& path, std::string* report);

  // The register `register_name` had this serial number and last document.
  bool See(const std::string& register_name, const std::string& serial, uint32_t last_document);

  // False when there is no entry, or when it cannot be read: then *failed.
  bool Find(const std::string& key, JournalEntry* out, bool* failed);
  // The job is about to start: key, hash and where the register stood.
  bool Begin(const JournalEntry& e);
  // The close's identifier, before the close goes out.
  bool SetCloseId(const std::string& key, uint32_t close_id);
  // The outcome, and the document it stored (may be null), in one commit.
  bool Finish(const std::string& key, int status, const std::string& response,
              const JournalDocument* document = nullptr);
  // A document stored by a job without a key: kept like the others while
  // the outbox is on (for the uplink), else left to the register alone.
  bool Keep(const std::string& register_name, const JournalDocument& document);

  // The outbox: with it on, every document kept from now on also waits
  // there, in the same commit, until Delivered takes it out (the uplink's
  // broker acknowledged it). Outbox lists a register's waiting documents
  // numbered above `after`, oldest first.
  void KeepOutbox(bool on);
  bool Outbox(const std::string& register_name, uint32_t after, size_t limit, std::vector<JournalDocument>* out);
  bool Delivered(const std::string& register_name, uint32_t number);
  // Puts the register's kept documents numbered above `after` back into the
  // outbox (a ledger lost them); *count says how many it holds now.
  bool Resend(const std::string& register_name, uint32_t after, int64_t* count);

  // The uplink's inbox: a back-office request is kept from its arrival
  // until its reply was acknowledged, so that a bridge that died between
  // the two answers it after its restart (by its key: it runs once).
  bool AddRequest(const std::string& register_name, const std::string& id, const std::string& payload);
  bool Requests(const std::string& register_name, size_t limit, std::vector<std::pair<std::string, std::string>>* out);
  bool Answered(const std::string& register_name, const std::string& id);

  // Newest first, at most q.limit + 1 of them: one more than asked tells
  // that the limit cut the list.
  bool Documents(const DocumentQuery& q, std::vector<JournalDocument>* out);
  // False when there is none, or when it cannot be read: then *failed.
  bool Document(const std::string& register_name, uint32_t number, JournalDocument* out, bool* failed);
  // Forgets a job known to have left no trace on the register, so that a
  // retry with its key runs it again.
  bool Release(const std::string& key);
  // Entries started and never settled (the bridge died during their job).
  std::vector<JournalEntry> Unfinished();

  const std::string& last_error() const { return last_error_; }

 private:
  bool Exec(const char* sql);
  bool Fail(const char* what);
  bool Usable();  // REQUIRES: mu_ held
  bool Intact();  // every page reads; else lost_ says what is wrong
  bool HasRequestColumn();
  bool InsertDocument(const std::string& register_name, const JournalDocument& document);  // REQUIRES: mu_ held
  bool Commit(bool ok);  // COMMIT when ok, else ROLLBACK keeping the error; REQUIRES: mu_ held

  std::mutex mu_;
  sqlite3* db_ = nullptr;
  std::string last_error_;
  std::string lost_;
  bool outbox_ = false;
};

}  // namespace bridge

#endif  // FR_BRIDGE_JOURNAL_H_
