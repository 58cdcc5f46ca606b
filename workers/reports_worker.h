// Prints from the archive without changing the fiscal state: the control
// tape of the current shift (58), the reports of command 177 and copies of
// stored documents (178). Built for one command on the main thread.
//
// Requests: cashier number (1) | password (4) | payload
//   58:  nothing, or the document number the tape continues at (4)
//   177: report kind (1); kind 5 adds two times (4 + 4), kind 6 two shift
//        numbers (2 + 2)
//   178: the document number (4)
// The reply carries no data; its code is that of the last print job, or the
// first error. Whatever was printed before an error stays on the paper.
#ifndef FR_WORKERS_REPORTS_WORKER_H_
#define FR_WORKERS_REPORTS_WORKER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "app/base_worker.h"
#include "documents/descriptor_format.h"
#include "link/transaction.h"
#include "platform/env.h"
#include "printer/printer_line.h"
#include "storage/fiscal_archive.h"

class ReportsWorker : public BaseWorker {
 public:
  // `archive` may be null (no card at start-up): the reports then answer 5.
  ReportsWorker(platform::Env* env, FiscalArchive* archive, PrinterLine* printer);

  // Commands 58, 177 and 178; any other code answers 10.
  CoreApiResult handle(const CoreTransaction& transaction);

 private:
  int controlTape(const std::string& payload);
  int report(const std::string& payload);
  int copy(uint32_t number);

  int xReport(bool with_sections);
  int periodReport(uint32_t a, uint32_t b);
  int shiftRangeReport(uint16_t a, uint16_t b);
  // The summed shift-close counters of documents first..last, printed as a
  // gross totals block; 17 when the range holds no shift close.
  int rangeTotals(uint32_t first, uint32_t last);
  // Binary searches of the index between documents lo and hi. They always
  // end: every step narrows the range, and entries past the index fail.
  int shiftSearch(uint16_t shift, uint32_t lo, uint32_t hi, uint32_t* found);
  int timeSearch(uint32_t t, bool upper, uint32_t lo, uint32_t hi, uint32_t* found);
  bool readEntry(uint32_t number, DocDescriptor* d);

  // One print job; an empty text sends nothing and counts as printed.
  int print(const std::string& text);
  int printTitle(const char* utf8);
  int printLine(const std::string& cp866);
  int printRegistrationHeader();
  // Taxpayer lines, then the model and serial number with the cut. The
  // footer's status is the report's.
  int printClosing();
  // Local time as "%d.%m.%Y %H:%M:%S"; empty when the board cannot convert it.
  std::string formatTime(uint32_t t) const;

  platform::Env* const env_;
  FiscalArchive* const archive_;
  PrinterLine* const printer_;
};

// The print jobs of a copy of `document`, as command 178 prints them (an
// empty job prints nothing). `device_key` remakes a registration report's
// check value. kNotFilled when the document is not of its type's class.
int CopyJobs(BaseWorkDocument* document, const std::string& device_key, std::vector<std::string>* jobs);

#endif  // FR_WORKERS_REPORTS_WORKER_H_
