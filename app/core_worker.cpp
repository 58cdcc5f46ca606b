#include "app/core_worker.h"

#include "app/codes.h"
#include "app/fr_status.h"

namespace {
constexpr int kLoopPause = 20;  // ms after every pass, busy or idle
}  // namespace

CoreWorker::CoreWorker(platform::Env* env) : env_(env), queue_(new CoreQueue) {}

CoreWorker::~CoreWorker() = default;

void CoreWorker::initialise() {
  // The order matters: each step reads what the ones before it set up.
  FrStatus::reset();
  // No archive storage yet: without a card the archive bits stay clear.
  FrStatus::setFlag(FrStatus::kArchivePresent | FrStatus::kArchiveUsable, false);
}

void CoreWorker::loop() {
  for (;;) {
    processOne();
    env_->SleepMillis(kLoopPause);
  }
}

bool CoreWorker::processOne() {
  CoreTransaction transaction;
  if (!queue_->pop(&transaction)) return false;
  CoreApiResult result = dispatch(transaction);
  result.id = transaction.id;  // a result without it would never be picked up
  queue_->pushResult(result);
  return true;
}

CoreApiResult CoreWorker::dispatch(const CoreTransaction& transaction) {
  // The handlers of the documents, reports, configuration, archive and
  // printer commands join this switch as they are built.
  switch (transaction.command) {
    default:
      return CoreApiResult(rc::kUnknownCommand, transaction.id);
  }
}
