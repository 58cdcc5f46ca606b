// The bridge's answers as JSON: documents, status, table and totals records,
// problems. Amounts go out as integer kopecks with a decimal string beside
// them ("total" and "total_decimal"), times as RFC 3339 in UTC.
#ifndef FR_BRIDGE_ANSWER_H_
#define FR_BRIDGE_ANSWER_H_

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "bridge/request.h"
#include "host/protocol.h"

namespace bridge {

using nlohmann::json;

// Sets j[name] and j[name + "_decimal"].
void PutAmount(json* j, const std::string& name, int64_t kopecks);

// A document the register closed and answered.
json DocumentJson(const std::string& register_name, const Job& job, const host::CloseReply& c);

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
// What differs between two snapshots, by name: "shift", "drawer", "paper",
// "printer", "open_document", "last_document".
std::vector<std::string> StatusChanges(const StatusSnapshot& before, const StatusSnapshot& after);

// The reply data of a table read, or of a totals record, as JSON; false
// when the data does not decode.
bool TableRecordJson(uint8_t table, const std::string& data, json* out);
bool TotalsJson(const std::string& record, const std::string& data, json* out);

json ProblemJson(const Problem& p);

// JSON text for the wire; bytes that are not UTF-8 (a register's text read
// wrongly) become U+FFFD instead of an exception.
std::string Dump(const json& j);

}  // namespace bridge

#endif  // FR_BRIDGE_ANSWER_H_
