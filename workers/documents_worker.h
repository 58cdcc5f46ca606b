// Opens, fills, closes, cancels and reports on the device's one current
// document: shift open and close, receipts, cash in and out, registration
// and archive close. Built for one command on the main thread.
//
// Lock order: the current-document mutex may be held while the status
// mutex is taken, never the reverse.
#ifndef FR_WORKERS_DOCUMENTS_WORKER_H_
#define FR_WORKERS_DOCUMENTS_WORKER_H_

#include <memory>

#include "app/base_worker.h"
#include "documents/base_document.h"
#include "link/transaction.h"
#include "platform/env.h"
#include "printer/printer_line.h"
#include "storage/fiscal_archive.h"

class DocumentsWorker : public BaseWorker {
 public:
  // `archive` may be null (no card at start-up).
  DocumentsWorker(platform::Env* env, FiscalArchive* archive, PrinterLine* printer);

  CoreApiResult handle(const CoreTransaction& transaction);

  // The document type a command opens or closes; 0 for any other command.
  static uint8_t typeOfCommand(uint8_t command);

  // The current document (shared with the reports); empty when none.
  static std::shared_ptr<BaseWorkDocument> currentDocument();

 private:
  int open(uint8_t type, const std::string& data);
  int add(const std::string& data);
  int close(uint8_t type, const std::string& data, std::string* reply);
  int cancel();
  int state(std::string* reply);
  void afterClose(const BaseWorkDocument& document);
  int print(const std::string& text);

  platform::Env* const env_;
  FiscalArchive* const archive_;
  PrinterLine* const printer_;
};

#endif  // FR_WORKERS_DOCUMENTS_WORKER_H_
