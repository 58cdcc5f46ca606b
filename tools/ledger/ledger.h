// The back office's ledger: every fiscal document of every register in one
// PostgreSQL database, one row per document (unique by the register's serial
// number and the document's number) with its lines beside it.
//
// A Ledger holds one connection; not thread-safe.
#ifndef FR_TOOLS_LEDGER_LEDGER_H_
#define FR_TOOLS_LEDGER_LEDGER_H_

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/status.h"

struct pg_conn;

namespace ledger {

// Where a document came from.
struct Origin {
  std::string site;
  std::string register_name;
  std::string serial;
};

// A document on its way in: where it came from, and after StoreAll
// whether it was new.
struct Entry {
  Origin origin;
  nlohmann::json document;
  bool added = false;
};

// A register's newest document held.
struct Held {
  Origin origin;
  uint32_t number = 0;
};

// The numbers missing between a register's first and last document held.
struct Gap {
  std::string serial;
  std::string site;
  std::string register_name;
  uint32_t from = 0, to = 0;  // inclusive
};

class Ledger {
 public:
  Ledger() = default;
  Ledger(const Ledger&) = delete;
  Ledger& operator=(const Ledger&) = delete;
  ~Ledger();

  host::Status Connect(const std::string& conninfo);
  // Creates the schema or brings it to the newest version; each migration
  // runs in one transaction and is recorded in schema_version.
  host::Status Migrate(int* from, int* to);
  // Stores a document (the one document model's JSON) in one transaction
  // with its lines. *added is false when it was there already: a second
  // delivery changes nothing.
  host::Status Store(const Origin& origin, const nlohmann::json& document, bool* added);
  // Stores several documents in one transaction, each with its lines: all
  // or none. kInvalid names a document the database refuses; Store them
  // one by one to keep the others.
  host::Status StoreAll(std::vector<Entry>* entries);
  host::Status Gaps(std::vector<Gap>* out);
  // The serial number the uplink said this register has, when it said so.
  host::Status SerialOf(const std::string& site, const std::string& register_name, std::string* serial);
  // Each register's newest document, under the serial it has now.
  host::Status Latest(std::vector<Held>* out);

 private:
  host::Status Exec(const char* sql);
  pg_conn* db_ = nullptr;
};

// Takes a published document message apart: its topic's site and register
// (fr/v1/{site}/{register}/documents) and the serial it carries.
bool DocumentMessage(const std::string& topic, const std::string& payload, Origin* origin, nlohmann::json* document);

}  // namespace ledger

#endif  // FR_TOOLS_LEDGER_LEDGER_H_
