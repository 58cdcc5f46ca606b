// One register behind the bridge: a thread that holds its line and carries
// out jobs one at a time through the host library, keeps a cache of its
// status, settles jobs whose outcome was lost, and reconnects with back-off
// when the line goes away.
//
// Thread-safe (the public methods); everything that touches the line runs
// on the worker's own thread.
#ifndef FR_BRIDGE_WORKER_H_
#define FR_BRIDGE_WORKER_H_

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bridge/answer.h"
#include "bridge/events.h"
#include "bridge/journal.h"
#include "bridge/log.h"
#include "bridge/metrics.h"
#include "bridge/request.h"
#include "host/client.h"
#include "host/host_line.h"
#include "host/preview/preview.h"
#include "host/session.h"

namespace bridge {

struct RegisterConfig {
  std::string name;
  std::string device;
  std::string emu_dir;      // a virtual register's fr-emu directory, else empty
  host::Login service;      // for admin requests that name no cashier, and the preview's table reads
  std::string preview_dir;  // a private directory for the receipt preview's tables
  size_t max_queue = 256;   // jobs waiting for the register; more are refused
};

// A job's outcome: the HTTP status and the body.
struct Outcome {
  int status = 0;
  std::string body;        // JSON
  bool problem = false;    // the body is a problem
  bool released = false;   // nothing reached the archive: the job may run again
  double register_ms = 0;  // time spent waiting for the register's answers
  double queued_ms = 0;    // and waiting for it to finish other work first
};
Outcome ProblemOutcome(Problem p, const std::string& register_name);

// One job's progress, shared by the worker, the requests waiting for it and
// its task.
class Ticket {
 public:
  std::string id;  // the task's
  std::string key;
  std::string hash;
  std::string register_name;
  std::string route;
  Job job;
  bool job_known = true;  // false for a job read back from the journal without its request
  std::string request;    // journaled with the job: JournalEntry::request
  int64_t created = 0;    // seconds since 1970
  int64_t queued_ms = 0;  // steady clock, when it was queued

  void SetRunning();
  void Finish(const Outcome& o);
  // True with *o once finished; false after timeout_ms.
  bool Wait(int timeout_ms, Outcome* o);
  // "queued", "running" or "done", and the outcome when done.
  std::string state(Outcome* o);

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  std::string state_ = "queued";
  Outcome outcome_;
};

class Worker {
 public:
  Worker(RegisterConfig config, Journal* journal, Events* events, Metrics* metrics, Log* log);
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;
  ~Worker();  // Stop()

  void Start();
  void Stop();

  enum class Submitted { kQueued, kOffline, kFull };
  // Queues the job; nothing is queued while the register is offline or
  // max_queue jobs wait already.
  Submitted Submit(std::shared_ptr<Ticket> t);
  // A journal entry without an outcome (the bridge died during its job): it
  // is settled before the register serves anything else.
  void AddInDoubt(std::shared_ptr<Ticket> t, const JournalEntry& e);

  const RegisterConfig& config() const { return config_; }
  bool online() const { return online_; }
  // The register answered once since the bridge started.
  bool reached() const { return reached_; }
  size_t queue_depth();
  size_t in_doubt();
  json StatusJson();
  // The register's last document as the cached status has it; false
  // before the register answered its status.
  bool LastDocument(uint32_t* number);
  // Polls the status now (on the worker's thread) and answers it; false
  // while the register is offline.
  bool FreshStatusJson(int timeout_ms, json* out);

 private:
  struct Doubt {
    std::shared_ptr<Ticket> ticket;
    JournalEntry entry;
  };
  enum class Settled { kDone, kReleased, kUnknown };

  void Run();
  bool Connect();
  void Disconnect();
  bool Refresh();
  // A document stored: the cached status learns what its close told.
  void Stored(Action action, const host::CloseReply& c);
  // The status event for what changed, and the metrics.
  void Announce(const StatusSnapshot& before, const StatusSnapshot& after, int64_t now_ms);
  void Execute(const std::shared_ptr<Ticket>& t);
  Outcome RunDocument(const std::shared_ptr<Ticket>& t);
  Outcome RunSingle(const std::shared_ptr<Ticket>& t);
  // The JSON answer of a single request the register said yes to; false
  // when its data does not decode.
  bool AnsweredJson(const Job& job, const host::Answer& a, json* out);
  // What the register would store of a receipt, computed here by its own
  // document code with its tables and tax rates, read once and again after
  // a table write or a registration.
  Outcome RunPreview(const std::shared_ptr<Ticket>& t);
  // The usable tax rates from the same reading.
  Outcome RunTaxRates();
  // Reads the preview's setup unless it is read; false with the problem to
  // answer when the register cannot tell.
  bool ReadSetup(Outcome* refused);
  // The register said yes with data that does not decode.
  Outcome Unreadable();
  // A printed report's or copy's answer; `known` false for a job read back
  // from the journal.
  json PrintedJson(const Job& job, bool known);
  // Nothing was sent: the journal refused the job's first entry.
  Outcome JournalRefused(const std::shared_ptr<Ticket>& t);
  // The register acted but the journal cannot take its outcome: the job
  // stays in doubt until it can, and the waiting request hears 503.
  Outcome InDoubt(const std::shared_ptr<Ticket>& t, const JournalEntry& e);
  // Settles a job whose reply was lost, or keeps it in doubt (status 0).
  Outcome SettleNow(const std::shared_ptr<Ticket>& t, const JournalEntry& e);
  // Settles one job in doubt; kUnknown when the register cannot tell now,
  // or the journal cannot take the outcome.
  Settled Settle(Doubt* d, Outcome* out);
  Settled SettlePrinted(const host::Settlement& s, const Doubt& d, const Job& job, Outcome* out);
  // A document stored whose close reply was lost: what the status told.
  json SettledJson(const host::Settlement& s, const Job& job, bool known);
  // A job read back without its request: the fields only it knew go to "missing".
  static void ForgetRequest(json* doc, Action action);
  // A session for the job's cashier, its answers counted in the metrics.
  host::Session SessionFor(const Job& job);
  // The settled outcome or the release journaled; false, logged, when not.
  bool Journaled(const std::string& key, const Outcome& o, const json* doc = nullptr);
  bool Released(const std::string& key);
  bool SettleAll();
  host::Answer Call(const host::Request& r);
  void Publish(const std::string& name, json data);
  void UpdateMetrics();
  void FailQueued(const Problem& p);
  void SetOnline(bool online);

  const RegisterConfig config_;
  Journal* const journal_;
  Events* const events_;
  Metrics* const metrics_;
  Log* const log_;

  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<std::shared_ptr<Ticket>> queue_;
  std::vector<Doubt> doubts_;
  StatusSnapshot status_;
  int fresh_requests_ = 0;   // callers waiting for a status poll
  uint64_t fresh_done_ = 0;  // polls finished for them
  bool stopping_ = false;
  std::atomic<bool> online_{false};
  std::atomic<bool> reached_{false};
  std::thread thread_;

  // The worker thread's own.
  std::unique_ptr<host::HostLine> line_;
  std::unique_ptr<host::Client> client_;
  double call_ms_ = 0;  // in Call, since the job began
  host::ReceiptSetup setup_;
  bool setup_read_ = false;
  // What the journal last recorded of the register.
  std::string seen_serial_;
  uint32_t seen_last_ = 0;
};

}  // namespace bridge

#endif  // FR_BRIDGE_WORKER_H_
