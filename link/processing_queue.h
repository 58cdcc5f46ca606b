// The transaction queue between the host-link thread (submitter) and the main
// thread (consumer). Every queue object is a handle on one process-wide store:
// a FIFO of transactions, finished results and callbacks keyed by identifier.
//
// Lock order: queue lock before results lock, never the reverse. No user
// callback runs under a lock except a notification callback, which therefore
// must not call back into the queue.
#ifndef FR_LINK_PROCESSING_QUEUE_H_
#define FR_LINK_PROCESSING_QUEUE_H_

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "link/transaction.h"

using CompletionCallback = std::function<void()>;
using NotificationCallback = std::function<void(const CoreApiNotification&)>;

class IProcessingQueue {
 public:
  virtual ~IProcessingQueue() = default;

  // Submits and blocks until the consumer has stored the result.
  virtual bool exec(const CoreTransaction& transaction, CoreApiResult* result) = 0;
  virtual bool exec(const CoreTransaction& transaction, CoreApiResult* result,
                    NotificationCallback notification) = 0;
  virtual bool push(const CoreTransaction& transaction, CompletionCallback completion,
                    NotificationCallback notification) = 0;
  virtual bool pop(CoreTransaction* transaction) = 0;
  virtual CoreTransaction pop(bool* taken = nullptr) = 0;
  virtual bool pushResult(const CoreApiResult& result) = 0;
  virtual bool hasResult(uint32_t id) = 0;
  virtual CoreApiResult takeResult(uint32_t id, bool* found = nullptr) = 0;
  virtual size_t size() = 0;
  virtual bool notify(const CoreApiNotification& notification) = 0;
};

// What every handle of one queue shares.
struct TransactionStore {
  std::mutex queue_mu;
  std::deque<CoreTransaction> fifo;  // guarded by queue_mu

  std::mutex results_mu;
  std::map<uint32_t, CoreApiResult> results;               // guarded by results_mu
  std::map<uint32_t, CompletionCallback> completions;      // guarded by results_mu
  std::map<uint32_t, NotificationCallback> notifications;  // guarded by results_mu
};

// Implementation over the store selected by N: every ProcessingQueue<N>
// object in the process shares the store of its N.
template <int N>
class ProcessingQueue : public IProcessingQueue {
 public:
  ProcessingQueue() : store_(SharedStore()) {}
  ~ProcessingQueue() override;

  ProcessingQueue(const ProcessingQueue&) = delete;
  ProcessingQueue& operator=(const ProcessingQueue&) = delete;

  bool exec(const CoreTransaction& transaction, CoreApiResult* result) override {
    return exec(transaction, result, NotificationCallback());
  }
  bool exec(const CoreTransaction& transaction, CoreApiResult* result,
            NotificationCallback notification) override;
  bool push(const CoreTransaction& transaction, CompletionCallback completion,
            NotificationCallback notification) override;
  bool pop(CoreTransaction* transaction) override;
  CoreTransaction pop(bool* taken = nullptr) override;
  bool pushResult(const CoreApiResult& result) override;
  bool hasResult(uint32_t id) override;
  CoreApiResult takeResult(uint32_t id, bool* found = nullptr) override;
  size_t size() override;
  bool notify(const CoreApiNotification& notification) override;

  static const std::shared_ptr<TransactionStore>& SharedStore() {
    static const std::shared_ptr<TransactionStore> store = std::make_shared<TransactionStore>();
    return store;
  }

 private:
  std::shared_ptr<TransactionStore> store_;
  std::set<uint32_t> own_ids_;  // identifiers this handle registered callbacks for
};

// The register's one queue.
class CoreQueue : public ProcessingQueue<1> {
 public:
  ~CoreQueue() override = default;
};

#include "link/processing_queue_impl.h"

#endif  // FR_LINK_PROCESSING_QUEUE_H_
