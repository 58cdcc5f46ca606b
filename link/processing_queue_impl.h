// Template bodies of ProcessingQueue; included by processing_queue.h only.
#ifndef FR_LINK_PROCESSING_QUEUE_IMPL_H_
#define FR_LINK_PROCESSING_QUEUE_IMPL_H_

#include <condition_variable>
#include <utility>

template <int N>
ProcessingQueue<N>::~ProcessingQueue() {
  std::lock_guard<std::mutex> lock(store_->results_mu);
  for (uint32_t id : own_ids_) {
    store_->completions.erase(id);
    store_->notifications.erase(id);
  }
}

template <int N>
bool ProcessingQueue<N>::exec(const CoreTransaction& transaction, CoreApiResult* result,
                              NotificationCallback notification) {
  // The completion runs on the consumer's thread after the result is stored;
  // a condition variable wakes the submitter in place of polling.
  struct Wake {
    std::mutex mu;
    std::condition_variable cv;
    bool done = false;
  };
  auto wake = std::make_shared<Wake>();
  CompletionCallback completion = [wake] {
    std::lock_guard<std::mutex> lock(wake->mu);
    wake->done = true;
    wake->cv.notify_all();
  };
  if (!push(transaction, std::move(completion), std::move(notification))) return false;
  {
    std::unique_lock<std::mutex> lock(wake->mu);
    wake->cv.wait(lock, [&wake] { return wake->done; });
  }
  if (!hasResult(transaction.id)) return false;
  *result = takeResult(transaction.id);
  return true;
}

template <int N>
bool ProcessingQueue<N>::push(const CoreTransaction& transaction, CompletionCallback completion,
                              NotificationCallback notification) {
  if (completion || notification) own_ids_.insert(transaction.id);
  std::lock_guard<std::mutex> queue_lock(store_->queue_mu);
  store_->fifo.push_back(transaction);
  // Registered before the queue lock is released: the consumer can never pop
  // a transaction whose completion is not yet there.
  if (completion || notification) {
    std::lock_guard<std::mutex> results_lock(store_->results_mu);
    if (completion) store_->completions.emplace(transaction.id, std::move(completion));
    if (notification) store_->notifications.emplace(transaction.id, std::move(notification));
  }
  return true;
}

template <int N>
bool ProcessingQueue<N>::pop(CoreTransaction* transaction) {
  *transaction = CoreTransaction();
  std::lock_guard<std::mutex> lock(store_->queue_mu);
  if (store_->fifo.empty()) return false;
  *transaction = std::move(store_->fifo.front());
  store_->fifo.pop_front();
  return true;
}

template <int N>
CoreTransaction ProcessingQueue<N>::pop(bool* taken) {
  CoreTransaction transaction;
  const bool ok = pop(&transaction);
  if (taken != nullptr) *taken = ok;
  return transaction;
}

template <int N>
bool ProcessingQueue<N>::pushResult(const CoreApiResult& result) {
  if (result.id == 0) return false;
  CompletionCallback completion;
  {
    std::lock_guard<std::mutex> lock(store_->results_mu);
    store_->results[result.id] = result;
    auto it = store_->completions.find(result.id);
    if (it != store_->completions.end()) completion = it->second;
  }
  if (completion) completion();
  return true;
}

template <int N>
bool ProcessingQueue<N>::hasResult(uint32_t id) {
  std::lock_guard<std::mutex> lock(store_->results_mu);
  return store_->results.count(id) != 0;
}

template <int N>
CoreApiResult ProcessingQueue<N>::takeResult(uint32_t id, bool* found) {
  own_ids_.erase(id);
  CoreApiResult result;
  bool have = false;
  {
    std::lock_guard<std::mutex> lock(store_->results_mu);
    auto it = store_->results.find(id);
    if (id != 0 && it != store_->results.end()) {
      result = it->second;
      have = true;
    }
    store_->results.erase(id);
    store_->completions.erase(id);
    store_->notifications.erase(id);
  }
  if (found != nullptr) *found = have;
  return result;
}

template <int N>
size_t ProcessingQueue<N>::size() {
  std::lock_guard<std::mutex> lock(store_->queue_mu);
  return store_->fifo.size();
}

template <int N>
bool ProcessingQueue<N>::notify(const CoreApiNotification& notification) {
  if (notification.id == 0) return false;
  std::lock_guard<std::mutex> lock(store_->results_mu);
  auto it = store_->notifications.find(notification.id);
  if (it == store_->notifications.end()) return false;
  it->second(notification);
  return true;
}

#endif  // FR_LINK_PROCESSING_QUEUE_IMPL_H_
