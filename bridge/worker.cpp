#include "bridge/worker.h"

#include <algorithm>
#include <chrono>
#include <ctime>

#include "app/codes.h"

namespace bridge {

namespace {

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

constexpr int kIdleRefreshMs = 500;   // status poll while no job comes: paper out shows within a second
constexpr int kAfterJobMs = 50;       // a job's effects are polled once this passes without another
constexpr int kBusyRefreshMs = 1000;  // the oldest the status gets while jobs come back to back
constexpr int kMaxBackoffMs = 5000;   // between attempts to reach a lost register

Outcome JsonOutcome(int status, const json& body) {
  Outcome o;
  o.status = status;
  o.body = Dump(body);
  return o;
}

// How the journal keeps a stored document: its answer, and what a listing
// filters by.
JournalDocument Kept(const json& doc, const std::string& body) {
  JournalDocument d;
  d.number = doc.value("number", 0u);
  if (doc.contains("time")) ParseTime(doc["time"].get<std::string>(), &d.time);
  d.shift = doc.value("shift", 0u);
  d.body = body;
  return d;
}

}  // namespace

Outcome ProblemOutcome(Problem p, const std::string& register_name) {
  if (p.register_name.empty()) p.register_name = register_name;
  Outcome o = JsonOutcome(p.status, ProblemJson(p));
  o.problem = true;
  return o;
}

// ---- Ticket ----------------------------------------------------------------

void Ticket::SetRunning() {
  std::lock_guard<std::mutex> l(mu_);
  if (state_ == "queued") state_ = "running";
}

void Ticket::Finish(const Outcome& o) {
  std::lock_guard<std::mutex> l(mu_);
  outcome_ = o;
  state_ = "done";
  cv_.notify_all();
}

bool Ticket::Wait(int timeout_ms, Outcome* o) {
  std::unique_lock<std::mutex> l(mu_);
  if (!cv_.wait_for(l, std::chrono::milliseconds(timeout_ms), [&] { return state_ == "done"; })) return false;
  *o = outcome_;
  return true;
}

std::string Ticket::state(Outcome* o) {
  std::lock_guard<std::mutex> l(mu_);
  if (o != nullptr) *o = outcome_;
  return state_;
}

// ---- Worker ----------------------------------------------------------------

Worker::Worker(RegisterConfig config, Journal* journal, Events* events, Metrics* metrics, Log* log)
    : config_(std::move(config)), journal_(journal), events_(events), metrics_(metrics), log_(log) {}

Worker::~Worker() { Stop(); }

void Worker::Start() {
  thread_ = std::thread([this] { Run(); });
}

void Worker::Stop() {
  {
    std::lock_guard<std::mutex> l(mu_);
    stopping_ = true;
    cv_.notify_all();
  }
  if (thread_.joinable()) thread_.join();
}

Worker::Submitted Worker::Submit(std::shared_ptr<Ticket> t) {
  std::lock_guard<std::mutex> l(mu_);
  if (!online_ || stopping_) return Submitted::kOffline;
  if (queue_.size() >= config_.max_queue) return Submitted::kFull;
  t->queued_ms = NowMs();
  queue_.push_back(std::move(t));
  cv_.notify_all();
  return Submitted::kQueued;
}

void Worker::AddInDoubt(std::shared_ptr<Ticket> t, const JournalEntry& e) {
  std::lock_guard<std::mutex> l(mu_);
  doubts_.push_back(Doubt{std::move(t), e});
  cv_.notify_all();
}

size_t Worker::queue_depth() {
  std::lock_guard<std::mutex> l(mu_);
  return queue_.size();
}

size_t Worker::in_doubt() {
  std::lock_guard<std::mutex> l(mu_);
  return doubts_.size();
}

json Worker::StatusJson() {
  std::lock_guard<std::mutex> l(mu_);
  return bridge::StatusJson(config_.name, online_, status_, NowMs());
}

bool Worker::FreshStatusJson(int timeout_ms, json* out) {
  std::unique_lock<std::mutex> l(mu_);
  if (!online_) return false;
  const uint64_t wanted = fresh_done_ + 1;
  ++fresh_requests_;
  cv_.notify_all();
  // A register too busy to answer in time still is online: then the cache,
  // with its age.
  cv_.wait_for(l, std::chrono::milliseconds(timeout_ms), [&] { return fresh_done_ >= wanted || !online_; });
  *out = bridge::StatusJson(config_.name, online_, status_, NowMs());
  return online_;
}

void Worker::Run() {
  int backoff_ms = 100;
  bool stale = false;     // a job ran since the last poll
  int64_t polled_ms = 0;  // steady clock of the last poll
  for (;;) {
    {
      std::lock_guard<std::mutex> l(mu_);
      if (stopping_) break;
    }
    if (line_ == nullptr && !Connect()) {
      std::unique_lock<std::mutex> l(mu_);
      cv_.wait_for(l, std::chrono::milliseconds(backoff_ms), [&] { return stopping_; });
      backoff_ms = std::min(backoff_ms * 2, kMaxBackoffMs);
      continue;
    }
    backoff_ms = 100;
    if (!SettleAll()) {
      Disconnect();
      continue;
    }
    std::shared_ptr<Ticket> t;
    bool fresh = false;
    {
      std::unique_lock<std::mutex> l(mu_);
      // After a job the status is polled once no other job comes soon, so a
      // POS sending receipts back to back does not wait for the poll.
      cv_.wait_for(l, std::chrono::milliseconds(stale ? kAfterJobMs : kIdleRefreshMs),
                   [&] { return stopping_ || !queue_.empty() || fresh_requests_ > 0 || !doubts_.empty(); });
      if (stopping_) break;
      if (!doubts_.empty()) continue;
      if (!queue_.empty()) {
        t = queue_.front();
        queue_.pop_front();
      }
      fresh = fresh_requests_ > 0;
    }
    if (t != nullptr) {
      Execute(t);
      stale = true;
      // A job left in doubt is settled before anything else reaches the
      // register; one kept busy is still polled now and then.
      if (in_doubt() > 0 || NowMs() - polled_ms < kBusyRefreshMs) continue;
    }
    if (!Refresh()) Disconnect();  // before anyone is told the status is fresh
    polled_ms = NowMs();
    stale = false;
    if (fresh) {
      std::lock_guard<std::mutex> l(mu_);
      fresh_done_ += fresh_requests_ > 0;
      fresh_requests_ = 0;
      cv_.notify_all();
    }
  }
  Disconnect();
  FailQueued(MakeProblem(503, "register.offline", "the bridge is stopping"));
}

bool Worker::Connect() {
  auto line = std::make_unique<host::HostLine>();
  if (!line->Open(config_.device).ok()) return false;
  line_ = std::move(line);
  client_ = std::make_unique<host::Client>(line_.get());
  setup_read_ = false;  // another program may have changed the tables meanwhile
  // Jobs in doubt first: the register's last reply is a lost close's only
  // until another command reaches it.
  if (!SettleAll() || !Refresh()) {
    Disconnect();
    return false;
  }
  SetOnline(true);
  return true;
}

void Worker::Disconnect() {
  client_.reset();
  line_.reset();
  SetOnline(false);
  FailQueued(MakeProblem(503, "register.offline", "the register does not answer; nothing was sent"));
}

void Worker::SetOnline(bool online) {
  if (online) reached_ = true;
  if (online_.exchange(online) == online) return;
  if (!online) {
    std::lock_guard<std::mutex> l(mu_);
    cv_.notify_all();  // requests waiting for a fresh status
  }
  Publish("register", {{"register", config_.name}, {"online", online}});
  log_->Write({{"register", config_.name}, {"online", online}});
  UpdateMetrics();
}

void Worker::FailQueued(const Problem& p) {
  std::deque<std::shared_ptr<Ticket>> failed;
  {
    std::lock_guard<std::mutex> l(mu_);
    failed.swap(queue_);
  }
  for (auto& t : failed) {
    Outcome o = ProblemOutcome(p, config_.name);
    o.released = true;
    t->Finish(o);
  }
  UpdateMetrics();
}

host::Answer Worker::Call(const host::Request& r) {
  const auto started = std::chrono::steady_clock::now();
  host::Answer a = client_->Call(r);
  call_ms_ += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
  if (a.answered) metrics_->Result(config_.name, a.code);
  return a;
}

void Worker::Publish(const std::string& name, json data) { events_->Publish(name, Dump(data)); }

bool Worker::LastDocument(uint32_t* number) {
  std::lock_guard<std::mutex> l(mu_);
  *number = status_.device.last_document;
  return status_.valid;
}

void Worker::UpdateMetrics() {
  std::string paper;
  size_t queue, doubts;
  {
    std::lock_guard<std::mutex> l(mu_);
    paper = PaperState(status_);
    queue = queue_.size();
    doubts = doubts_.size();
  }
  metrics_->SetRegister(config_.name, online_, queue, doubts, paper);
}

bool Worker::Refresh() {
  StatusSnapshot s;
  const host::Answer d = Call(host::req::DeviceStatus());
  const host::Answer sh = d.ok() ? Call(host::req::ShiftStatus()) : d;
  if (!d.answered || !sh.answered) return false;
  s.valid =
      d.ok() && sh.ok() && host::DecodeDeviceStatus(d.data, &s.device) && host::DecodeShiftStatus(sh.data, &s.shift);
  s.refused = !d.ok() ? d.code : !sh.ok() ? sh.code : 0;
  s.taken_ms = NowMs();
  StatusSnapshot before;
  {
    std::lock_guard<std::mutex> l(mu_);
    before = status_;
    status_ = s;
  }
  if (s.valid && (s.device.serial != seen_serial_ || s.device.last_document != seen_last_) &&
      journal_->See(config_.name, s.device.serial, s.device.last_document)) {
    seen_serial_ = s.device.serial;
    seen_last_ = s.device.last_document;
  }
  Announce(before, s, s.taken_ms);
  return true;
}

void Worker::Stored(Action action, const host::CloseReply& c) {
  StatusSnapshot before, after;
  {
    std::lock_guard<std::mutex> l(mu_);
    before = status_;
    ApplyClose(action, c, &status_);
    after = status_;
  }
  Announce(before, after, NowMs());
}

void Worker::Announce(const StatusSnapshot& before, const StatusSnapshot& after, int64_t now_ms) {
  const std::vector<std::string> changed = StatusChanges(before, after);
  if (!changed.empty()) {
    Publish("status", {{"register", config_.name},
                       {"changed", changed},
                       {"status", bridge::StatusJson(config_.name, online_, after, now_ms)}});
  }
  UpdateMetrics();
}

void Worker::Execute(const std::shared_ptr<Ticket>& t) {
  t->SetRunning();
  UpdateMetrics();
  Publish("task", {{"id", t->id}, {"register", config_.name}, {"state", "running"}});
  const int64_t started = NowMs();
  call_ms_ = 0;
  const Action action = t->job.action;
  Outcome o = InfoOf(action).document       ? RunDocument(t)
              : action == Action::kPreview  ? RunPreview(t)
              : action == Action::kTaxRates ? RunTaxRates()
                                            : RunSingle(t);
  // Tables and tax rates may have changed: the preview reads them again.
  if (action == Action::kWriteTable || action == Action::kRegistration) setup_read_ = false;
  o.register_ms = call_ms_;
  o.queued_ms = static_cast<double>(started - t->queued_ms);
  const double seconds = (NowMs() - started) / 1000.0;
  metrics_->JobSeconds(seconds);
  log_->Write({{"job", t->id},
               {"register", config_.name},
               {"action", InfoOf(t->job.action).name},
               {"key", t->key},
               {"status", o.status},
               {"ms", NowMs() - started},
               {"queued_ms", started - t->queued_ms},
               {"register_ms", static_cast<int64_t>(call_ms_)}});
  // A job left in doubt finishes when it is settled.
  if (o.status != 0) {
    t->Finish(o);
    Publish("task", {{"id", t->id}, {"register", config_.name}, {"state", "done"}, {"status", o.status}});
  }
}

host::Session Worker::SessionFor(const Job& job) {
  host::Session s(client_.get(), job.has_login ? job.login : config_.service, job.cashier_name);
  s.set_observer([this](const host::Answer& a) {
    if (a.answered) metrics_->Result(config_.name, a.code);
  });
  return s;
}

Outcome Worker::RunDocument(const std::shared_ptr<Ticket>& t) {
  const Job& job = t->job;
  host::Session session = SessionFor(job);
  JournalEntry entry;
  entry.key = t->key;
  entry.register_name = config_.name;
  entry.action = InfoOf(job.action).name;
  entry.hash = t->hash;
  entry.request = t->request;
  const bool keyed = !t->key.empty();
  // The journal learns where the register stood before anything is sent,
  // and where the close's identifier moved: settling needs both.
  host::RunHooks hooks;
  hooks.begin = [&](const host::Doubt& d) {
    entry.last_document = d.last_document;
    entry.close_id = d.close_id;
    return !keyed || journal_->Begin(entry);
  };
  hooks.moved = [&](const host::Doubt& d) {
    entry.close_id = d.close_id;
    return !keyed || journal_->SetCloseId(t->key, d.close_id);
  };
  const auto started = std::chrono::steady_clock::now();
  const host::RunResult r = session.Run(DocumentPlan(job, session), hooks);
  call_ms_ += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
  switch (r.kind) {
    case host::RunResult::Kind::kNotSent: {
      if (r.hook_refused) return JournalRefused(t);
      Outcome o = ProblemOutcome(
          r.unsendable  ? MakeProblem(400, "request.invalid", r.error)
          : r.code >= 0 ? RefusalProblem(r.code)
                        : MakeProblem(503, "register.offline", "the register does not answer; nothing was sent"),
          config_.name);
      o.released = true;
      return o;
    }
    case host::RunResult::Kind::kDone: {
      const json doc = DocumentJson(config_.name, job, config_.service, r.close);
      const Outcome o = JsonOutcome(201, doc);
      const JournalDocument kept = Kept(doc, o.body);
      if (keyed && !journal_->Finish(t->key, o.status, o.body, &kept)) return InDoubt(t, entry);
      if (!keyed && kept.number != 0 && !journal_->Keep(config_.name, kept)) {
        log_->Write({{"register", config_.name}, {"document", kept.number}, {"journal", journal_->last_error()}});
      }
      Stored(job.action, r.close);
      Publish("document", {{"register", config_.name}, {"document", doc}});
      return o;
    }
    case host::RunResult::Kind::kRefused: {
      const Outcome o = ProblemOutcome(RefusalProblem(r.code), config_.name);
      if (keyed && !journal_->Finish(t->key, o.status, o.body)) return InDoubt(t, entry);
      return o;
    }
    case host::RunResult::Kind::kInDoubt: break;
  }
  // Settled as "nothing stored" once the journal takes writes.
  if (r.hook_refused) return InDoubt(t, entry);
  // The register decides, now or later.
  return SettleNow(t, entry);
}

Outcome Worker::SettleNow(const std::shared_ptr<Ticket>& t, const JournalEntry& e) {
  Doubt d{t, e};
  Outcome o;
  if (Settle(&d, &o) != Settled::kUnknown) return o;
  std::lock_guard<std::mutex> l(mu_);
  doubts_.push_back(d);
  return Outcome();  // status 0: the ticket stays open
}

Outcome Worker::JournalRefused(const std::shared_ptr<Ticket>& t) {
  log_->Write({{"register", config_.name}, {"key", t->key}, {"journal", journal_->last_error()}});
  Outcome o = ProblemOutcome(MakeProblem(500, "bridge.journal", "the journal cannot be written; nothing was sent"),
                             config_.name);
  o.released = true;
  return o;
}

Outcome Worker::InDoubt(const std::shared_ptr<Ticket>& t, const JournalEntry& e) {
  log_->Write({{"register", config_.name}, {"key", t->key}, {"journal", journal_->last_error()}});
  {
    std::lock_guard<std::mutex> l(mu_);
    doubts_.push_back(Doubt{t, e});
  }
  return ProblemOutcome(MakeProblem(503, "bridge.journal",
                                    "the register's answer cannot be journaled; the bridge settles it from the "
                                    "register once the journal takes writes again: ask again with the same key"),
                        config_.name);
}

Outcome Worker::Unreadable() {
  return ProblemOutcome(
      MakeProblem(502, "bridge.unreadable-reply", "the register answered 0 with data the bridge cannot read"),
      config_.name);
}

bool Worker::ReadSetup(Outcome* refused) {
  if (setup_read_) return true;
  const host::Status read = host::ReadReceiptSetup(client_.get(), config_.service, &setup_);
  setup_read_ = read.ok();
  if (!setup_read_) {
    log_->Write({{"register", config_.name}, {"preview", read.ToString()}});
    *refused = ProblemOutcome(
        MakeProblem(503, "register.offline", "the register's tables cannot be read: " + read.ToString()), config_.name);
  }
  return setup_read_;
}

Outcome Worker::RunPreview(const std::shared_ptr<Ticket>& t) {
  const Job& job = t->job;
  Outcome refused;
  if (!ReadSetup(&refused)) return refused;
  int64_t drawer = 0;
  {
    std::lock_guard<std::mutex> l(mu_);
    if (status_.valid) drawer = status_.shift.drawer;  // the cache follows every stored document
  }
  host::ReceiptPreview p;
  const host::Status previewed = host::PreviewReceipt(config_.preview_dir, setup_, drawer, job.receipt_type, job.lines,
                                                      job.cash, job.cashless, &p);
  if (!previewed.ok()) {
    log_->Write({{"register", config_.name}, {"preview", previewed.ToString()}});
    return ProblemOutcome(MakeProblem(500, "bridge.error", "the preview failed: " + previewed.ToString()),
                          config_.name);
  }
  return JsonOutcome(200, PreviewJson(config_.name, job, p));
}

Outcome Worker::RunTaxRates() {
  Outcome refused;
  if (!ReadSetup(&refused)) return refused;
  return JsonOutcome(200, TaxRatesJson(config_.name, setup_.tax_rates));
}

json Worker::PrintedJson(const Job& job, bool known) {
  json body = {{"register", config_.name}, {"printed", true}};
  const bool report = job.action == Action::kReport;
  if (!known) {
    body["missing"] = {report ? "report" : "number"};  // what the request said is gone with it
  } else if (report) {
    body["report"] = host::kReportKinds.Name(job.report);
  } else {
    body["number"] = job.number;
  }
  return body;
}

bool Worker::AnsweredJson(const Job& job, const host::Answer& a, json* out) {
  json& body = *out;
  uint32_t time = 0;
  switch (job.action) {
    case Action::kCancel: body = {{"register", config_.name}, {"cancelled", true}}; return true;
    case Action::kReport:
    case Action::kCopy: body = PrintedJson(job, true); return true;
    case Action::kReadClock:
    case Action::kSetClock:
      if (!host::DecodeTime(a.data, &time)) time = job.time;
      body = {{"register", config_.name}, {"time", FormatTime(time)}};
      return true;
    case Action::kSetSerial: body = {{"register", config_.name}, {"serial", job.serial}}; return true;
    case Action::kReadTable:
    case Action::kWriteTable: {
      bool readable = TableRecordJson(job.table, a.data, &body);
      if (!readable) {
        // A write answers no record: read it back as stored.
        const host::Answer r =
            Call(host::req::ReadRecord(job.has_login ? job.login : config_.service, job.table, job.record));
        readable = r.ok() && TableRecordJson(job.table, r.data, &body);
      }
      body["register"] = config_.name;
      return readable;
    }
    case Action::kTotals: {
      const bool readable = TotalsJson(job.totals, a.data, &body);
      body["register"] = config_.name;
      return readable;
    }
    default: return true;
  }
}

Outcome Worker::RunSingle(const std::shared_ptr<Ticket>& t) {
  const Job& job = t->job;
  const ActionInfo& info = InfoOf(job.action);
  const bool journaled = !t->key.empty() && info.changes_state;
  if (client_->next_id() > UINT32_MAX - 4096) client_->set_next_id(1);
  JournalEntry e;
  e.key = t->key;
  e.register_name = config_.name;
  e.action = info.name;
  e.hash = t->hash;
  e.close_id = client_->next_id();  // the request's own: a lost reply is asked for by it
  e.request = t->request;
  if (journaled && !journal_->Begin(e)) return JournalRefused(t);
  const host::Answer a = Call(SingleRequest(job, job.has_login ? job.login : config_.service));
  Outcome o;
  if (!a.answered && info.prints) {
    // Printed or not, only the register can tell: never printed twice.
    if (journaled) return SettleNow(t, e);
    return ProblemOutcome(
        MakeProblem(504, "register.unsettled",
                    "the register did not answer (" + a.error + "); look at its paper before asking for this again"),
        config_.name);
  }
  if (!a.answered) {
    // These requests leave the register the same when carried out twice.
    o = ProblemOutcome(MakeProblem(503, "register.interrupted",
                                   "the register did not answer (" + a.error + "); send the request again"),
                       config_.name);
    o.released = true;
    if (journaled && !journal_->Release(t->key)) return InDoubt(t, e);
    return o;
  }
  if (a.code == rc::kNoOpenDocument && job.action == Action::kCancel) {
    o = JsonOutcome(200, {{"register", config_.name}, {"cancelled", false}});
  } else if (!a.ok()) {
    o = ProblemOutcome(RefusalProblem(a.code), config_.name);
  } else {
    json body;
    o = AnsweredJson(job, a, &body) ? JsonOutcome(200, body) : Unreadable();
  }
  if (journaled && !journal_->Finish(t->key, o.status, o.body)) return InDoubt(t, e);
  return o;
}

bool Worker::SettleAll() {
  for (;;) {
    Doubt d;
    {
      std::lock_guard<std::mutex> l(mu_);
      if (doubts_.empty()) return true;
      d = doubts_.front();
    }
    UpdateMetrics();
    Outcome o;
    const Settled s = Settle(&d, &o);
    if (s == Settled::kUnknown) return false;  // the register is away again
    {
      std::lock_guard<std::mutex> l(mu_);
      doubts_.erase(doubts_.begin());
    }
    d.ticket->Finish(o);
    Publish("task", {{"id", d.ticket->id}, {"register", config_.name}, {"state", "done"}, {"status", o.status}});
    UpdateMetrics();
  }
}

bool Worker::Journaled(const std::string& key, const Outcome& o, const json* doc) {
  const JournalDocument kept = doc != nullptr ? Kept(*doc, o.body) : JournalDocument();
  if (journal_->Finish(key, o.status, o.body, doc != nullptr ? &kept : nullptr)) return true;
  log_->Write({{"register", config_.name}, {"key", key}, {"journal", journal_->last_error()}});
  return false;
}

bool Worker::Released(const std::string& key) {
  if (journal_->Release(key)) return true;
  log_->Write({{"register", config_.name}, {"key", key}, {"journal", journal_->last_error()}});
  return false;
}

Worker::Settled Worker::Settle(Doubt* d, Outcome* out) {
  const JournalEntry& e = d->entry;
  Action action = Action::kReceipt;
  ActionByName(e.action, &action);
  Job job = d->ticket->job;
  job.action = action;
  const ActionInfo& info = InfoOf(action);
  if (!info.document && !info.prints) {
    // Cancel, a table write, the clock, the serial number: the same again
    // leaves the register as once, so the retry simply runs.
    if (!Released(e.key)) return Settled::kUnknown;
    *out = ProblemOutcome(
        MakeProblem(503, "register.interrupted", "the outcome was lost; send it again with the same key"),
        config_.name);
    out->released = true;
    return Settled::kReleased;
  }
  host::Session session = SessionFor(job);
  if (info.prints) return SettlePrinted(session.SettlePrinted(e.close_id), *d, job, out);
  const host::Settlement s = session.Settle(host::Doubt{e.last_document, e.close_id}, action == Action::kReceipt);
  const char* how = "unknown";
  json doc;
  switch (s.kind) {
    case host::Settlement::Kind::kUnknown: return Settled::kUnknown;  // the register is away again
    case host::Settlement::Kind::kNotStored:
      if (!Released(e.key)) return Settled::kUnknown;
      *out = ProblemOutcome(MakeProblem(503, "register.interrupted",
                                        "the register lost the job (it restarted or the line dropped) and stored "
                                        "nothing; send it again with the same key"),
                            config_.name);
      out->released = true;
      log_->Write({{"register", config_.name}, {"key", e.key}, {"settled", "not stored"}});
      return Settled::kReleased;
    case host::Settlement::Kind::kRefused:
      *out = ProblemOutcome(RefusalProblem(s.code), config_.name);
      how = "last reply";
      break;
    case host::Settlement::Kind::kStored:
      doc = s.whole ? DocumentJson(config_.name, job, config_.service, s.close)
                    : SettledJson(s, job, d->ticket->job_known);
      if (!d->ticket->job_known) ForgetRequest(&doc, action);
      *out = JsonOutcome(201, doc);
      how = s.whole ? "last reply" : "stored";
      break;
    case host::Settlement::Kind::kOther:
      // Another program used the line meanwhile: a person decides from the archive.
      *out =
          ProblemOutcome(MakeProblem(504, "register.unsettled",
                                     "the register stored " + std::to_string(s.status.last_document - e.last_document) +
                                         " documents since this job began; check its archive"),
                         config_.name);
      break;
  }
  if (!Journaled(e.key, *out, doc.is_null() ? nullptr : &doc)) return Settled::kUnknown;
  if (!doc.is_null()) {
    if (s.whole) Stored(action, s.close);
    Publish("document", {{"register", config_.name}, {"document", doc}});
  }
  log_->Write({{"register", config_.name}, {"key", e.key}, {"settled", how}, {"status", out->status}});
  return Settled::kDone;
}

Worker::Settled Worker::SettlePrinted(const host::Settlement& s, const Doubt& d, const Job& job, Outcome* out) {
  if (s.kind == host::Settlement::Kind::kUnknown) return Settled::kUnknown;
  // A report or copy leaves no number behind: its own reply, or nobody knows.
  if (s.kind == host::Settlement::Kind::kStored) {
    *out = JsonOutcome(200, PrintedJson(job, d.ticket->job_known));
  } else if (s.kind == host::Settlement::Kind::kRefused) {
    *out = ProblemOutcome(RefusalProblem(s.code), config_.name);
  } else {
    *out = ProblemOutcome(MakeProblem(504, "register.unsettled",
                                      "the register's answer was lost; look at its paper before asking for this again"),
                          config_.name);
  }
  if (!Journaled(d.entry.key, *out)) return Settled::kUnknown;
  log_->Write({{"register", config_.name},
               {"key", d.entry.key},
               {"settled", s.whole ? "last reply" : "unknown"},
               {"status", out->status}});
  return Settled::kDone;
}

json Worker::SettledJson(const host::Settlement& s, const Job& job, bool known) {
  // Stored, its reply lost: what the register still tells, nothing guessed.
  const Action action = job.action;
  host::Document d;
  if (known) d = RequestedDocument(job, config_.service);
  d.type = InfoOf(action).document;
  d.number = s.status.last_document;
  d.time = s.status.last_time > 0 ? static_cast<uint32_t>(s.status.last_time) : 0;
  d.has_shift = true;
  d.shift = s.status.shift;
  d.receipt_number = s.receipts;
  json doc = host::DocumentJson(d);
  doc["register"] = config_.name;
  doc["settled"] = true;
  json missing = json::array();
  auto drop = [&](const std::string& field) {
    doc.erase(field);
    doc.erase(field + "_decimal");
    missing.push_back(field);
  };
  drop("fiscal_sign");
  if (s.status.last_time <= 0) doc.erase("time");
  if (action == Action::kReceipt) {
    if (!s.has_receipts) drop("receipt_number");
    for (const char* field : {"total", "change", "payment"}) drop(field);
  }
  if (action == Action::kCashIn || action == Action::kCashOut) drop("drawer");
  doc["missing"] = missing;
  return doc;
}

void Worker::ForgetRequest(json* doc, Action action) {
  // What the request said is gone with the bridge that read it.
  json missing = doc->contains("missing") ? (*doc)["missing"] : json::array();
  auto drop = [&](const char* field) {
    doc->erase(field);
    if (std::find(missing.begin(), missing.end(), field) == missing.end()) missing.push_back(field);
  };
  // Without its request the job reads as the service cashier's, which it
  // may not have been.
  drop("cashier");
  if (action == Action::kReceipt) {
    for (const char* field : {"receipt_type", "lines", "payment"}) drop(field);
  } else if (action == Action::kCashIn || action == Action::kCashOut) {
    doc->erase("amount_decimal");
    drop("amount");
  }
  if (!missing.empty()) {
    (*doc)["missing"] = missing;
    (*doc)["settled"] = true;
  }
}

}  // namespace bridge
