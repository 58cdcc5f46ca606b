// Makes a whole sandbox board with a full archive: the identity EEPROM,
// the tables and an archive of N documents, a register's years of work as
// its own command core would have stored them. A shift a day of about 200
// documents: the shift open, a cash float, receipts of one to five lines
// (sales mostly, some returns and purchases; cash with change or cashless),
// now and then a cash out or in, the drawer emptied, the Z report. The
// documents are in the past, so that fr-core can go on working on the board.
//
// The same options give the same board, byte for byte.
#ifndef FR_TOOLS_GEN_ARCHIVE_GEN_H_
#define FR_TOOLS_GEN_ARCHIVE_GEN_H_

#include <cstdint>
#include <functional>
#include <string>

#include "host/status.h"
#include "tools/gen/board_env.h"

namespace gen {

struct BoardOptions {
  // The registration and at least one whole shift: 5 and up. The index
  // holds 250000.
  uint32_t documents = 250000;
  int64_t start = BoardEnv::kDefaultStart;  // the registration's day, 00:00 UTC
  uint32_t seed = 1;
  // Called now and then with the documents stored so far.
  std::function<void(uint32_t)> progress;
};

struct BoardSummary {
  uint32_t documents = 0;
  uint32_t shifts = 0;
  uint32_t receipts = 0;
  uint32_t cash_documents = 0;
  int64_t first_time = 0, last_time = 0;
  uint64_t archive_bytes = 0;
  double seconds = 0;
};

constexpr uint32_t kMinDocuments = 5;

// `dir` must not hold an archive yet.
::host::Status MakeBoard(const std::string& dir, const BoardOptions& options, BoardSummary* summary);

// The archive inside a board directory.
std::string ArchivePath(const std::string& dir);

}  // namespace gen

#endif  // FR_TOOLS_GEN_ARCHIVE_GEN_H_
