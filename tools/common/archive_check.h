// An independent reading of an archive file (layout in
// storage/archive_format.h): is every document where its descriptor says it
// is, whole and in number order, and do the running totals the archive keeps
// equal what its documents add up to? The tests run it after power cuts and
// long runs; a fault in the writer shows up here as a problem line.
//
// The totals are recomputed by the archive's own booking rules: a receipt
// adds to its type's block, its cash in or out of the drawer (a receipt or
// cash out never takes the drawer below zero, and the clamped cash out
// amount is what the next record books); a shift open starts the shift
// record and the section totals from zero; a fiscalisation starts the record
// since registration from zero.
#ifndef FR_TOOLS_COMMON_ARCHIVE_CHECK_H_
#define FR_TOOLS_COMMON_ARCHIVE_CHECK_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/env.h"
#include "workers/counters.h"

namespace sim {

constexpr const char* kArchivePath = "/mnt/sd/V0XD24TX";

// One stored document as the archive holds it.
struct StoredDocument {
  uint32_t number = 0;
  uint8_t type = 0;  // doc::k*
  uint32_t time = 0;
  uint16_t shift = 0;
  uint32_t fiscal_sign = 0;
  uint8_t cashier = 0;
  std::string cashier_name;  // CP866
  // Receipts (type 3).
  uint8_t receipt_type = 0;
  uint16_t receipt_number = 0;
  int64_t total = 0;
  int64_t cash = 0;  // kept: handed over less the change
  int64_t cashless = 0;
  size_t lines = 0;
  std::vector<int64_t> line_amounts;  // each line's amount as stored (after its discount)
  // Cash in and cash out (types 5 and 6): the amount on the document.
  int64_t amount = 0;
};

struct ArchiveSummary {
  uint32_t last_number = 0;  // from the last-document slot
  // documents[n - 1] is document n, for as many as could be read.
  std::vector<StoredDocument> documents;
  // What the documents add up to.
  ShiftCounters shift;
  ShiftCounters since_registration;
  GrossCounters gross;
  SectionTotals sections;
  uint16_t shift_number = 0;  // the last shift opened
  bool shift_open = false;
  uint32_t shift_open_document = 0;
};

struct ArchiveCheck {
  // One line per problem; empty when the archive is consistent.
  std::vector<std::string> problems;
  ArchiveSummary summary;
  bool ok() const { return problems.empty(); }
  // The problems, one a line, for test messages.
  std::string Text() const;
};

// Reads the archive at the device path `path` through `env` (read only).
ArchiveCheck CheckArchive(platform::Env* env, const std::string& path = kArchivePath);

}  // namespace sim

#endif  // FR_TOOLS_COMMON_ARCHIVE_CHECK_H_
