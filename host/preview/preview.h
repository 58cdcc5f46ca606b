// A receipt computed before it is sent, by the register's own document code:
// each line's cost, discount, amount and tax, the taxes by rate, the total
// and the change, or the refusal the register would answer. The register
// rounds and books taxes by its own rules and applies discount records a
// till may not read, so a host that wants the total before the close asks
// this code, never a copy of its arithmetic.
//
// Thread-safe: the document code keeps its tables in process-wide state, so
// previews run one at a time.
#ifndef FR_HOST_PREVIEW_PREVIEW_H_
#define FR_HOST_PREVIEW_PREVIEW_H_

#include <cstdint>
#include <string>
#include <vector>

#include "host/client.h"
#include "host/protocol.h"

namespace host {

// What of a register a receipt's arithmetic depends on.
struct ReceiptSetup {
  std::vector<std::string> tax_rates;  // 5 images as the registration keeps them; "" for an unused rate
  std::vector<Section> sections;       // the section table, records 1 to 20
  std::vector<Discount> discounts;     // the discount table
};

// Reads the setup with `login` (the tables need a cashier with access to
// them): 68 for each tax rate, 1 for each record.
Status ReadReceiptSetup(Client* client, const Login& login, ReceiptSetup* out);

struct PreviewLine {
  int64_t cost = 0, discount = 0, amount = 0, tax = 0;  // kopecks
};
struct PreviewTax {
  uint8_t number = 0;  // 1 to 5
  std::string name;    // CP866
  int64_t amount = 0;
};
struct ReceiptPreview {
  int code = 0;                    // what the register would answer: 0 when it would store the receipt
  int line = -1;                   // the refused line's index, when a line was refused
  std::vector<PreviewLine> lines;  // the lines taken, up to the refused one
  std::vector<PreviewTax> taxes;   // by rate number
  int64_t total = 0, change = 0;
};

// `dir`: a directory of the caller's own for the tables' files; `drawer`:
// the cash in the drawer now, which a purchase pays out of.
Status PreviewReceipt(const std::string& dir, const ReceiptSetup& setup, int64_t drawer, uint8_t receipt_type,
                      const std::vector<Line>& lines, int64_t cash, int64_t cashless, ReceiptPreview* out);

}  // namespace host

#endif  // FR_HOST_PREVIEW_PREVIEW_H_
