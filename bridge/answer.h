// The bridge's answers as JSON: documents, status, table and totals records,
// problems. Amounts go out as integer kopecks with a decimal string beside
// them ("total" and "total_decimal"), times as RFC 3339 in UTC.
#ifndef FR_BRIDGE_ANSWER_H_
#define FR_BRIDGE_ANSWER_H_

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "bridge/request.h"
#include "host/model/document.h"
#include "host/preview/preview.h"
#include "host/protocol.h"

namespace bridge {

using nlohmann::json;

using host::PutAmount;

// What the request told of its document: its type, its cashier, a receipt's
// type, lines and cashless part, a cash document's amount. `service` is the
// login of a job that names no cashier: its number only, as the register
// keeps its own name for it.
host::Document RequestedDocument(const Job& job, const host::Login& service);
// A document the register closed and answered, in the one document form,
// with the register's name.
json DocumentJson(const std::string& register_name, const Job& job, const host::Login& service,
                  const host::CloseReply& c);

// A receipt's preview: the lines' figures in the request's order, the taxes,
// the total and change, and "refusal", the problem the register would
// answer (null when it would store the receipt).
json PreviewJson(const std::string& register_name, const Job& job, const host::ReceiptPreview& p);
// The usable ones of the register's tax rate images (as the preview's setup
// keeps them), by number.
json TaxRatesJson(const std::string& register_name, const std::vector<std::string>& images);

// What the status poll keeps of a register.
struct StatusSnapshot {
  bool valid = false;  // the register answered 48 and 16 with their data
  int refused = 0;     // else the result code it answered
  host::DeviceStatus device;
  host::ShiftStatus shift;
  int64_t taken_ms = 0;  // steady clock of the poll
};
const char* PaperState(const StatusSnapshot& s);    // "ready", "near-end", "out", "unknown"
const char* PrinterState(const StatusSnapshot& s);  // "ready", "silent", "unknown"
json StatusJson(const std::string& register_name, bool online, const StatusSnapshot& s, int64_t now_ms);
// What a document's close reply tells of the register, into the snapshot at
// once: the last document, the shift and its receipts, the drawer. The
// next poll confirms it.
void ApplyClose(Action action, const host::CloseReply& c, StatusSnapshot* s);
// What differs between two snapshots, by name: "shift", "drawer", "paper",
// "printer", "open_document", "last_document".
std::vector<std::string> StatusChanges(const StatusSnapshot& before, const StatusSnapshot& after);

// The reply data of a table read, or of a totals record, as JSON; false
// when the data does not decode.
bool TableRecordJson(uint8_t table, const std::string& data, json* out);
// `record` is the command that read it (54 to 57).
bool TotalsJson(uint8_t record, const std::string& data, json* out);

// The numbers a listing of documents (`numbers`, newest first) lacks, as
// [from, to] pairs: between two listed ones; above the newest up to the
// register's `last` (0: not asked); below the oldest down to after + 1 when
// the listing is `complete` there.
json ListingGaps(const std::vector<uint32_t>& numbers, uint32_t after, uint32_t last, bool complete);

json ProblemJson(const Problem& p);

// JSON text for the wire; bytes that are not UTF-8 (a register's text read
// wrongly) become U+FFFD instead of an exception.
std::string Dump(const json& j);

}  // namespace bridge

#endif  // FR_BRIDGE_ANSWER_H_
