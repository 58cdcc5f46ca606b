#include "tools/ledger/ledger.h"

#include <libpq-fe.h>

#include <memory>
#include <set>
#include <utility>

namespace ledger {

namespace {

using json = nlohmann::json;

// The schema's versions, oldest first: a database at version N runs the
// migrations after N. Never edit one that has shipped; add the next.
const char* const kMigrations[] = {
    // 1: documents with their lines, what the uplink learned of registers,
    // and the back office's views.
    R"sql(
CREATE TABLE registers (
  site text NOT NULL,
  register text NOT NULL,
  serial text NOT NULL,
  PRIMARY KEY (site, register)
);
CREATE TABLE documents (
  site text NOT NULL,
  register text NOT NULL,
  serial text NOT NULL,
  number bigint NOT NULL CHECK (number > 0),
  document text NOT NULL,
  fiscal_sign bigint NOT NULL,
  time timestamptz NOT NULL,
  shift integer,
  receipt_type text,
  total bigint,
  body jsonb NOT NULL,
  received timestamptz NOT NULL DEFAULT now(),
  PRIMARY KEY (serial, number)
);
CREATE INDEX documents_site_time ON documents (site, time);
CREATE TABLE lines (
  serial text NOT NULL,
  number bigint NOT NULL,
  line integer NOT NULL,
  name text NOT NULL,
  price bigint NOT NULL,
  quantity numeric NOT NULL,
  tax integer NOT NULL,
  section integer,
  amount bigint,
  PRIMARY KEY (serial, number, line),
  FOREIGN KEY (serial, number) REFERENCES documents (serial, number)
);
-- Amounts are kopecks, days are UTC.
CREATE VIEW sales_by_site_day AS
  SELECT site, (time AT TIME ZONE 'UTC')::date AS day, receipt_type, count(*) AS receipts, sum(total) AS total
  FROM documents WHERE document = 'receipt'
  GROUP BY site, day, receipt_type;
CREATE VIEW sales_by_tax_rate AS
  SELECT d.site, (d.time AT TIME ZONE 'UTC')::date AS day, d.receipt_type, (t->>'number')::integer AS tax,
         sum((t->>'amount')::bigint) AS amount
  FROM documents d, jsonb_array_elements(d.body->'taxes') AS t
  WHERE d.document = 'receipt'
  GROUP BY d.site, day, d.receipt_type, tax;
CREATE VIEW shifts AS
  SELECT site, register, serial, shift,
         min(time) FILTER (WHERE document = 'shift-open') AS opened,
         max(time) FILTER (WHERE document = 'shift-close') AS closed,
         max(number) FILTER (WHERE document = 'shift-close') AS z_report,
         count(*) FILTER (WHERE document = 'receipt') AS receipts,
         coalesce(sum(total) FILTER (WHERE receipt_type = 'sale'), 0) AS sales,
         coalesce(sum(total) FILTER (WHERE receipt_type = 'return-sale'), 0) AS sale_returns,
         coalesce(sum(total) FILTER (WHERE document = 'cash-in'), 0) AS cash_in,
         coalesce(sum(total) FILTER (WHERE document = 'cash-out'), 0) AS cash_out
  FROM (SELECT site, register, serial, shift, time, number, document, receipt_type,
               coalesce(total, (body->>'amount')::bigint) AS total
        FROM documents WHERE shift IS NOT NULL) AS d
  GROUP BY site, register, serial, shift;
)sql",
    // 2: sales per cashier, and each shift's totals by receipt type with the
    // sales' cash and cashless parts. The cashier is read from the body
    // rather than a column: no backfill, and Store keeps taking the document
    // as it comes. A cashier is a number at a register; the names its
    // receipts carry that day are listed, so that two spellings of one
    // person stay one row.
    R"sql(
CREATE VIEW sales_by_cashier AS
  SELECT site, register, serial, (time AT TIME ZONE 'UTC')::date AS day, (body->>'cashier')::integer AS cashier,
         string_agg(DISTINCT body->>'cashier_name', ', ' ORDER BY body->>'cashier_name') AS cashier_name,
         receipt_type, count(*) AS receipts, sum(total) AS total
  FROM documents WHERE document = 'receipt'
  GROUP BY site, register, serial, day, cashier, receipt_type;
-- A view only grows at its end: version 1's columns first, unchanged.
CREATE OR REPLACE VIEW shifts AS
  SELECT site, register, serial, shift,
         min(time) FILTER (WHERE document = 'shift-open') AS opened,
         max(time) FILTER (WHERE document = 'shift-close') AS closed,
         max(number) FILTER (WHERE document = 'shift-close') AS z_report,
         count(*) FILTER (WHERE document = 'receipt') AS receipts,
         coalesce(sum(total) FILTER (WHERE receipt_type = 'sale'), 0) AS sales,
         coalesce(sum(total) FILTER (WHERE receipt_type = 'return-sale'), 0) AS sale_returns,
         coalesce(sum(total) FILTER (WHERE document = 'cash-in'), 0) AS cash_in,
         coalesce(sum(total) FILTER (WHERE document = 'cash-out'), 0) AS cash_out,
         coalesce(sum(total) FILTER (WHERE receipt_type = 'purchase'), 0) AS purchases,
         coalesce(sum(total) FILTER (WHERE receipt_type = 'return-purchase'), 0) AS purchase_returns,
         coalesce(sum(cash) FILTER (WHERE receipt_type = 'sale'), 0) AS sales_cash,
         coalesce(sum(cashless) FILTER (WHERE receipt_type = 'sale'), 0) AS sales_cashless
  FROM (SELECT site, register, serial, shift, time, number, document, receipt_type,
               coalesce(total, (body->>'amount')::bigint) AS total,
               (body->'payment'->>'cash')::bigint AS cash, (body->'payment'->>'cashless')::bigint AS cashless
        FROM documents WHERE shift IS NOT NULL) AS d
  GROUP BY site, register, serial, shift;
)sql",
};
constexpr int kNewest = sizeof kMigrations / sizeof *kMigrations;

struct ResultDeleter {
  void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

bool Ok(const Result& r) {
  const ExecStatusType s = PQresultStatus(r.get());
  return s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK;
}

Result Run(pg_conn* db, const char* sql, const std::vector<std::string>& params) {
  std::vector<const char*> values;
  for (const std::string& p : params) values.push_back(p.c_str());
  return Result(PQexecParams(db, sql, static_cast<int>(values.size()), nullptr, values.data(), nullptr, nullptr, 0));
}

}  // namespace

Ledger::~Ledger() {
  if (db_ != nullptr) PQfinish(db_);
}

host::Status Ledger::Connect(const std::string& conninfo) {
  if (db_ != nullptr) PQfinish(db_);
  db_ = PQconnectdb(conninfo.c_str());
  if (PQstatus(db_) != CONNECTION_OK) return host::Status::IoError(std::string("the database: ") + PQerrorMessage(db_));
  return Exec("SET client_min_messages = warning");
}

host::Status Ledger::Exec(const char* sql) {
  Result r(PQexec(db_, sql));
  return Ok(r) ? host::Status::OK() : host::Status::IoError(PQerrorMessage(db_));
}

host::Status Ledger::Migrate(int* from, int* to) {
  host::Status s = Exec("CREATE TABLE IF NOT EXISTS schema_version (version integer NOT NULL)");
  if (!s.ok()) return s;
  // One migrator at a time: the lock lasts until this session ends.
  if (!(s = Exec("SELECT pg_advisory_lock(727001)")).ok()) return s;
  Result r(PQexec(db_, "SELECT coalesce(max(version), 0) FROM schema_version"));
  if (!Ok(r)) return host::Status::IoError(PQerrorMessage(db_));
  *from = std::atoi(PQgetvalue(r.get(), 0, 0));
  if (*from > kNewest) {
    return host::Status::Invalid("the database's schema is version " + std::to_string(*from) +
                                 ", newer than this fr-ledger knows (" + std::to_string(kNewest) + ")");
  }
  for (int v = *from + 1; v <= kNewest; ++v) {
    const std::string mark = "INSERT INTO schema_version VALUES (" + std::to_string(v) + ")";
    if (!(s = Exec("BEGIN")).ok()) return s;
    if (!(s = Exec(kMigrations[v - 1])).ok() || !(s = Exec(mark.c_str())).ok()) {
      Exec("ROLLBACK");
      return host::Status::IoError("migration " + std::to_string(v) + ": " + s.ToString());
    }
    if (!(s = Exec("COMMIT")).ok()) return s;
  }
  *to = kNewest;
  return Exec("SELECT pg_advisory_unlock(727001)");
}

host::Status Ledger::Store(const Origin& origin, const json& document, bool* added) {
  std::vector<Entry> one = {Entry{origin, document}};
  const host::Status s = StoreAll(&one);
  *added = one[0].added;
  return s;
}

host::Status Ledger::StoreAll(std::vector<Entry>* entries) {
  json batch = json::array();
  for (Entry& e : *entries) {
    e.added = false;
    const json& d = e.document;
    if (!d.is_object() || !d.contains("number") || !d["number"].is_number_unsigned() || !d.contains("document") ||
        !d.contains("time") || !d.contains("fiscal_sign")) {
      return host::Status::Invalid("document " + d.value("number", json()).dump() + " is not a document");
    }
    batch.push_back(
        {{"site", e.origin.site}, {"register", e.origin.register_name}, {"serial", e.origin.serial}, {"body", d}});
  }
  // One statement, so one transaction, for the whole batch: the statements
  // of each document one by one would bound the ledger by the database's
  // work per statement. A document held already, or twice in the batch,
  // adds nothing; only the added ones get their lines.
  Result r =
      Run(db_,
          "WITH input AS ("
          "  SELECT e->>'site' AS site, e->>'register' AS register, e->>'serial' AS serial, e->'body' AS body, n "
          "  FROM jsonb_array_elements($1::jsonb) WITH ORDINALITY AS i(e, n)), "
          // A register's serial is updated only when it changed: a
          // row rewritten for every document would only churn.
          "known AS ("
          "  INSERT INTO registers (site, register, serial) "
          "  SELECT DISTINCT ON (site, register) site, register, serial FROM input ORDER BY site, register, n DESC "
          "  ON CONFLICT (site, register) DO UPDATE SET serial = excluded.serial "
          "  WHERE registers.serial <> excluded.serial), "
          "added AS ("
          "  INSERT INTO documents (site, register, serial, number, document, fiscal_sign, time, shift, "
          "    receipt_type, total, body) "
          "  SELECT site, register, serial, (body->>'number')::bigint, body->>'document', "
          "    (body->>'fiscal_sign')::bigint, (body->>'time')::timestamptz, (body->>'shift')::integer, "
          "    body->>'receipt_type', (body->>'total')::bigint, body FROM input ORDER BY n "
          "  ON CONFLICT (serial, number) DO NOTHING RETURNING serial, number, body), "
          "lines_added AS ("
          "  INSERT INTO lines (serial, number, line, name, price, quantity, tax, section, amount) "
          "  SELECT a.serial, a.number, l.n - 1, l.v->>'name', (l.v->>'price')::bigint, "
          "    (l.v->>'quantity')::numeric, (l.v->>'tax')::integer, (l.v->>'section')::integer, "
          "    (l.v->>'amount')::bigint "
          "  FROM added a, jsonb_array_elements(coalesce(a.body->'lines', '[]')) WITH ORDINALITY AS l(v, n)) "
          "SELECT serial, number FROM added",
          {batch.dump()});
  if (!Ok(r)) {
    // Refused while the database stays reachable: a document's fault,
    // which taking it again would not mend.
    const std::string message = std::string("documents: ") + PQerrorMessage(db_);
    return PQstatus(db_) == CONNECTION_OK ? host::Status::Invalid(message) : host::Status::IoError(message);
  }
  std::set<std::pair<std::string, uint64_t>> added;
  for (int i = 0; i < PQntuples(r.get()); ++i) {
    added.emplace(PQgetvalue(r.get(), i, 0), std::stoull(PQgetvalue(r.get(), i, 1)));
  }
  for (Entry& e : *entries) {
    // The first of two alike in one batch is the one added.
    e.added = added.erase({e.origin.serial, e.document["number"].get<uint64_t>()}) == 1;
  }
  return host::Status::OK();
}

host::Status Ledger::Gaps(std::vector<Gap>* out) {
  Result r(PQexec(db_,
                  "SELECT serial, site, register, prev + 1, number - 1 FROM ("
                  "  SELECT serial, site, register, number, lag(number) OVER (PARTITION BY serial ORDER BY number) "
                  "  AS prev FROM documents) AS d "
                  "WHERE number - prev > 1 ORDER BY serial, number"));
  if (!Ok(r)) return host::Status::IoError(PQerrorMessage(db_));
  for (int i = 0; i < PQntuples(r.get()); ++i) {
    out->push_back(Gap{PQgetvalue(r.get(), i, 0), PQgetvalue(r.get(), i, 1), PQgetvalue(r.get(), i, 2),
                       static_cast<uint32_t>(std::stoul(PQgetvalue(r.get(), i, 3))),
                       static_cast<uint32_t>(std::stoul(PQgetvalue(r.get(), i, 4)))});
  }
  return host::Status::OK();
}

host::Status Ledger::SerialOf(const std::string& site, const std::string& register_name, std::string* serial) {
  Result r = Run(db_, "SELECT serial FROM registers WHERE site = $1 AND register = $2", {site, register_name});
  if (!Ok(r)) return host::Status::IoError(PQerrorMessage(db_));
  if (PQntuples(r.get()) == 0)
    return host::Status::NotFound("no serial number known for " + site + "/" + register_name);
  *serial = PQgetvalue(r.get(), 0, 0);
  return host::Status::OK();
}

host::Status Ledger::Latest(std::vector<Held>* out) {
  Result r(PQexec(db_,
                  "SELECT r.site, r.register, r.serial, max(d.number) FROM registers r "
                  "JOIN documents d ON d.serial = r.serial GROUP BY r.site, r.register, r.serial"));
  if (!Ok(r)) return host::Status::IoError(PQerrorMessage(db_));
  for (int i = 0; i < PQntuples(r.get()); ++i) {
    out->push_back(Held{Origin{PQgetvalue(r.get(), i, 0), PQgetvalue(r.get(), i, 1), PQgetvalue(r.get(), i, 2)},
                        static_cast<uint32_t>(std::stoul(PQgetvalue(r.get(), i, 3)))});
  }
  return host::Status::OK();
}

bool DocumentMessage(const std::string& topic, const std::string& payload, Origin* origin, json* document) {
  // fr/v1/{site}/{register}/documents
  static const std::string kPrefix = "fr/v1/", kLeaf = "/documents";
  if (topic.size() <= kPrefix.size() + kLeaf.size() || topic.compare(0, kPrefix.size(), kPrefix) != 0 ||
      topic.compare(topic.size() - kLeaf.size(), kLeaf.size(), kLeaf) != 0) {
    return false;
  }
  const std::string middle = topic.substr(kPrefix.size(), topic.size() - kPrefix.size() - kLeaf.size());
  const size_t slash = middle.find('/');
  if (slash == std::string::npos || slash == 0 || slash + 1 == middle.size() ||
      middle.find('/', slash + 1) != std::string::npos) {
    return false;
  }
  *document = json::parse(payload, nullptr, false);
  if (!document->is_object() || !document->contains("serial") || !(*document)["serial"].is_string()) return false;
  origin->site = middle.substr(0, slash);
  origin->register_name = middle.substr(slash + 1);
  origin->serial = (*document)["serial"].get<std::string>();
  document->erase("serial");
  return !origin->serial.empty();
}

}  // namespace ledger
