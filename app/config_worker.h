// The configuration commands: table records (cashiers, sections,
// discounts), the device clock and the printer setting.
#ifndef FR_APP_CONFIG_WORKER_H_
#define FR_APP_CONFIG_WORKER_H_

#include "app/base_worker.h"
#include "link/transaction.h"
#include "platform/env.h"

class ConfigWorker : public BaseWorker {
 public:
  explicit ConfigWorker(platform::Env* env) : env_(env) {}

  CoreApiResult handle(const CoreTransaction& transaction);

 private:
  int readRecord(const std::string& data, std::string* reply);
  int writeRecord(const std::string& data, std::string* reply);
  int setClock(const std::string& data, std::string* reply);
  int readPrinterSetting(const std::string& data, std::string* reply);
  int writePrinterSetting(const std::string& data);

  platform::Env* const env_;
};

#endif  // FR_APP_CONFIG_WORKER_H_
