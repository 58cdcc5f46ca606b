#ifndef FR_HOST_MODEL_DOCUMENT_H_
#define FR_HOST_MODEL_DOCUMENT_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/protocol.h"

namespace host {

// A stored fiscal document as a host sees it: what the bridge answers and
// keeps, what fr-archive reads off a card and what fr-host prints. Each
// reader fills what it knows; the JSON form leaves the rest out, so that
// whatever two readers both say has one name and one value.
struct Document {
  uint32_t number = 0;
  uint8_t type = 0;  // doc::k*
  uint32_t time = 0;
  bool has_shift = false;
  uint16_t shift = 0;
  uint32_t fiscal_sign = 0;
  // Who made it: the cashier's number (0 when not known) and name as the
  // document keeps it (CP866; empty when not known). Never the password.
  uint8_t cashier = 0;
  std::string cashier_name;

  // Receipts.
  uint8_t receipt_type = 0;
  uint16_t receipt_number = 0;
  int64_t total = 0;
  bool has_lines = false;
  std::vector<Line> lines;
  std::vector<int64_t> line_amounts;  // each line's amount, when known
  // As the register books the payment: the cash kept (what was handed over
  // less the change) and the cashless part.
  bool has_payment = false;
  int64_t cash = 0;
  int64_t cashless = 0;
  bool has_change = false;
  int64_t change = 0;
  std::vector<std::pair<uint8_t, int64_t>> taxes;  // rate number, amount; when known

  // Cash in and cash out.
  int64_t amount = 0;
  // Cash documents: the drawer after them, when the reader saw it.
  bool has_drawer = false;
  int64_t drawer = 0;

  bool is_receipt() const;
  bool is_cash() const;
};

// The document a close answered: `request` tells what was asked (its type;
// a receipt's type, lines and cashless part; a cash document's amount), the
// reply the rest, the receipt's payment as the register books it.
Document DocumentOfClose(const Document& request, const CloseReply& close);

// The one JSON form of a document; amounts in kopecks with a "_decimal"
// string beside each.
nlohmann::json DocumentJson(const Document& doc);
nlohmann::json LineJson(const Line& line);
// The name tables for programs that cannot link them (the console's page):
// {"document_types": [...], "receipt_types": [...], "report_kinds": [...],
// "totals_records": [...]}, each in its table's order.
nlohmann::json NamesJson();
// j[name] = kopecks and j[name + "_decimal"] = "129.90".
void PutAmount(nlohmann::json* j, const std::string& name, int64_t kopecks);

}  // namespace host

#endif  // FR_HOST_MODEL_DOCUMENT_H_
