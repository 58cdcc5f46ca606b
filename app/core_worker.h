// The main thread's command processor: takes one transaction at a time from
// the queue, dispatches it by command code and stores the result. Everything
// that touches the printer or the archive runs here, one command at a time.
#ifndef FR_APP_CORE_WORKER_H_
#define FR_APP_CORE_WORKER_H_

#include <memory>

#include "app/base_worker.h"
#include "link/processing_queue.h"
#include "link/transaction.h"
#include "platform/env.h"
#include "printer/printer_line.h"
#include "storage/fiscal_archive.h"

class CoreWorker : public BaseWorker {
 public:
  // REQUIRES: env outlives the worker.
  explicit CoreWorker(platform::Env* env);
  ~CoreWorker() override;

  CoreWorker(const CoreWorker&) = delete;
  CoreWorker& operator=(const CoreWorker&) = delete;

  // Brings up the register's state. Never fails: what is missing shows in
  // the status records and in later result codes.
  void initialise();
  [[noreturn]] void loop();
  // One pass of the loop without its pause: false when the queue was empty.
  bool processOne();
  CoreApiResult dispatch(const CoreTransaction& transaction);

 private:
  int setSerialNumber(const std::string& data);
  int printText(const std::string& data);
  void openArchive();
  CoreApiResult readTotals(const CoreTransaction& transaction);
  void printBanner();

  platform::Env* const env_;
  std::unique_ptr<CoreQueue> queue_;
  std::unique_ptr<PrinterLine> printer_;
  std::unique_ptr<FiscalArchive> archive_;  // only when the card was ready at start-up
};

#endif  // FR_APP_CORE_WORKER_H_
