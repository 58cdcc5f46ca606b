#include "bridge/uplink.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <vector>

#include <mosquitto.h>

namespace bridge {

namespace {

constexpr int kKeepAliveSeconds = 30;  // a dropped shop shows offline within 1.5 times this
constexpr auto kStatusEvery = std::chrono::seconds(60);
constexpr size_t kMaxResendBytes = 256;  // {"serial", "after"} fits many times

std::once_flag library_once;

}  // namespace

Uplink::Uplink(const UplinkOptions& options, Server* server, Worker* worker, Journal* journal, Events* events, Log* log)
    : options_(options),
      server_(server),
      worker_(worker),
      journal_(journal),
      events_(events),
      log_(log),
      name_(worker->config().name) {}

Uplink::~Uplink() {
  Stop();
  if (mosq_ != nullptr) mosquitto_destroy(mosq_);
}

host::Status Uplink::Start() {
  std::call_once(library_once, [] { mosquitto_lib_init(); });
  const std::string id = "fr-bridge." + options_.site + "." + name_;
  mosq_ = mosquitto_new(id.c_str(), /*clean_session=*/false, this);
  if (mosq_ == nullptr) return host::Status::IoError("the uplink's MQTT client cannot be made");
  mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
  mosquitto_max_inflight_messages_set(mosq_, kWindow);
  mosquitto_connect_callback_set(mosq_, OnConnect);
  mosquitto_disconnect_callback_set(mosq_, OnDisconnect);
  mosquitto_publish_callback_set(mosq_, OnPublish);
  mosquitto_message_callback_set(mosq_, OnMessage);
  if (!options_.broker.user.empty() &&
      mosquitto_username_pw_set(mosq_, options_.broker.user.c_str(), options_.broker.password.c_str()) !=
          MOSQ_ERR_SUCCESS) {
    return host::Status::Invalid("the uplink's credentials are refused by the MQTT client");
  }
  if (options_.broker.tls) {
    const int rc = options_.broker.ca_file.empty()
                       ? mosquitto_tls_set(mosq_, nullptr, "/etc/ssl/certs", nullptr, nullptr, nullptr)
                       : mosquitto_tls_set(mosq_, options_.broker.ca_file.c_str(), nullptr, nullptr, nullptr, nullptr);
    if (rc != MOSQ_ERR_SUCCESS) return host::Status::Invalid(std::string("--uplink-ca: ") + mosquitto_strerror(rc));
  }
  const std::string will = nlohmann::json{{"register", name_}, {"site", options_.site}, {"online", false}}.dump();
  const std::string status_topic = UplinkTopic(options_.site, name_, "status");
  if (mosquitto_will_set(mosq_, status_topic.c_str(), static_cast<int>(will.size()), will.data(), 1, true) !=
      MOSQ_ERR_SUCCESS) {
    return host::Status::Invalid("the uplink's last will is refused");
  }
  mosquitto_reconnect_delay_set(mosq_, 1, 60, true);
  thread_ = std::thread([this] {
    if (Connect()) Run();
  });
  answerer_ = std::thread([this] { Answer(); });
  return host::Status::OK();
}

bool Uplink::Connect() {
  // The client's loop reconnects only once it was connected: a broker not
  // there yet is tried here, with the same back-off.
  for (int pause = 1; !stopping_; pause = std::min(pause * 2, 60)) {
    const int rc =
        mosquitto_connect_async(mosq_, options_.broker.host.c_str(), options_.broker.port, kKeepAliveSeconds);
    if (rc == MOSQ_ERR_SUCCESS) break;
    log_->Write(
        {{"register", name_}, {"uplink", "not connected"}, {"error", mosquitto_strerror(rc)}, {"again_s", pause}});
    std::unique_lock<std::mutex> l(mu_);
    requests_cv_.wait_for(l, std::chrono::seconds(pause), [&] { return stopping_.load(); });
  }
  if (stopping_) return false;
  if (mosquitto_loop_start(mosq_) != MOSQ_ERR_SUCCESS) {
    log_->Write({{"register", name_}, {"uplink", "not connected"}, {"error", "the MQTT client's thread"}});
    return false;
  }
  return true;
}

void Uplink::Stop() {
  if (stopping_.exchange(true) || mosq_ == nullptr) return;
  {
    std::lock_guard<std::mutex> l(mu_);  // the answerer is waiting, or sees stopping_
  }
  requests_cv_.notify_all();
  if (thread_.joinable()) thread_.join();
  if (answerer_.joinable()) answerer_.join();
  if (connected_) PublishStatus(false, true);
  mosquitto_disconnect(mosq_);
  mosquitto_loop_stop(mosq_, false);
}

void Uplink::OnConnect(struct mosquitto*, void* self, int rc) {
  auto* u = static_cast<Uplink*>(self);
  if (rc != 0) {
    u->log_->Write({{"register", u->name_}, {"uplink", "refused"}, {"error", mosquitto_connack_string(rc)}});
    return;
  }
  u->log_->Write({{"register", u->name_}, {"uplink", "connected"}});
  const std::string requests = UplinkTopic(u->options_.site, u->name_, "requests/+");
  mosquitto_subscribe(u->mosq_, nullptr, requests.c_str(), 1);
  const std::string resend = UplinkTopic(u->options_.site, u->name_, "resend");
  mosquitto_subscribe(u->mosq_, nullptr, resend.c_str(), 1);
  u->reconnected_ = true;
  u->connected_ = true;
}

void Uplink::OnDisconnect(struct mosquitto*, void* self, int rc) {
  auto* u = static_cast<Uplink*>(self);
  u->connected_ = false;
  if (!u->stopping_)
    u->log_->Write({{"register", u->name_}, {"uplink", "disconnected"}, {"error", mosquitto_strerror(rc)}});
}

void Uplink::OnPublish(struct mosquitto*, void* self, int mid) {
  auto* u = static_cast<Uplink*>(self);
  std::lock_guard<std::mutex> l(u->mu_);
  const auto reply = u->replies_.find(mid);
  if (reply != u->replies_.end()) {
    u->journal_->Answered(u->name_, reply->second);
    u->replied_.erase(reply->second);  // a later request with this id is answered again
    u->replies_.erase(reply);
    return;
  }
  const auto it = u->inflight_.find(mid);
  if (it == u->inflight_.end()) return;  // the status, or a document sent before a reconnect
  if (!u->journal_->Delivered(u->name_, it->second)) {
    u->log_->Write({{"register", u->name_}, {"uplink", "outbox"}, {"journal", u->journal_->last_error()}});
  }
  u->inflight_.erase(it);
}

void Uplink::OnMessage(struct mosquitto*, void* self, const struct mosquitto_message* message) {
  auto* u = static_cast<Uplink*>(self);
  const std::string prefix = UplinkTopic(u->options_.site, u->name_, "requests/");
  const std::string topic = message->topic;
  const std::string payload(static_cast<const char*>(message->payload), static_cast<size_t>(message->payloadlen));
  if (topic == UplinkTopic(u->options_.site, u->name_, "resend")) {
    u->Resend(payload);
    return;
  }
  if (topic.compare(0, prefix.size(), prefix) != 0) return;
  const std::string id = topic.substr(prefix.size());
  if (!ValidRequestId(id)) {
    u->log_->Write({{"register", u->name_}, {"uplink", "request"}, {"error", "an id that is no Idempotency-Key"}});
    return;  // no reply topic to answer on
  }
  if (payload.size() > u->options_.max_request_bytes) {
    // Refused before it is kept: nothing that large reaches the journal.
    UplinkRequest unused;
    Problem p;
    DecodeUplinkRequest(u->name_, payload, u->options_.max_request_bytes, &unused, &p);
    u->Reply(id, ProblemOutcome(p, u->name_));
    return;
  }
  if (!u->journal_->AddRequest(u->name_, id, payload)) {
    u->Reply(id, ProblemOutcome(MakeProblem(503, "bridge.journal", "the request cannot be kept; nothing was sent"),
                                u->name_));
    return;
  }
  std::lock_guard<std::mutex> l(u->mu_);
  u->inbox_changed_ = true;
  u->requests_cv_.notify_one();
}

void Uplink::Resend(const std::string& payload) {
  const nlohmann::json asked =
      payload.size() <= kMaxResendBytes ? nlohmann::json::parse(payload, nullptr, false) : nlohmann::json();
  if (!asked.is_object() || !asked.contains("after") || !asked["after"].is_number_unsigned() ||
      asked["after"].get<uint64_t>() > UINT32_MAX || !asked.contains("serial") || !asked["serial"].is_string()) {
    log_->Write({{"register", name_}, {"uplink", "resend"}, {"error", "not a resend request"}});
    return;
  }
  // Carried out by Drain, once the register has said its serial: one that
  // comes as the bridge starts is not lost for coming early.
  std::lock_guard<std::mutex> l(mu_);
  resends_.emplace_back(asked["serial"].get<std::string>(), asked["after"].get<uint32_t>());
}

void Uplink::ResendNow(const std::string& serial) {
  std::vector<std::pair<std::string, uint32_t>> asked;
  {
    std::lock_guard<std::mutex> l(mu_);
    asked.swap(resends_);
  }
  for (const auto& [whose, after] : asked) {
    if (whose != serial) {
      log_->Write(
          {{"register", name_}, {"uplink", "resend"}, {"error", "for serial " + whose + ", not this register"}});
      continue;
    }
    int64_t waiting = 0;
    if (!journal_->Resend(name_, after, &waiting)) {
      log_->Write({{"register", name_}, {"uplink", "resend"}, {"journal", journal_->last_error()}});
      continue;
    }
    log_->Write({{"register", name_}, {"uplink", "resend"}, {"after", after}, {"waiting", waiting}});
    std::lock_guard<std::mutex> l(mu_);
    next_after_ = std::min(next_after_, after);
  }
}

void Uplink::Answer() {
  while (!stopping_) {
    {
      // Kept requests wait for the register as well as for the broker: one
      // that came while the bridge was away runs once both are back. The
      // inbox is read again only when something may have changed in it.
      std::unique_lock<std::mutex> l(mu_);
      if (!inbox_changed_ || !connected_ || !worker_->online()) {
        requests_cv_.wait_for(l, std::chrono::seconds(1));
        continue;
      }
      inbox_changed_ = false;
    }
    std::vector<std::pair<std::string, std::string>> waiting;
    journal_->Requests(name_, kMaxWaiting, &waiting);
    std::string id, payload;
    {
      // The oldest request not yet answered on this connection.
      std::lock_guard<std::mutex> l(mu_);
      for (const auto& w : waiting) {
        if (replied_.count(w.first) == 0) {
          id = w.first;
          payload = w.second;
          inbox_changed_ = true;  // the next one may wait behind it
          break;
        }
      }
    }
    if (!id.empty()) Reply(id, CarryOut(id, payload));
  }
}

Outcome Uplink::CarryOut(const std::string& id, const std::string& payload) {
  UplinkRequest r;
  Problem p;
  if (!DecodeUplinkRequest(name_, payload, options_.max_request_bytes, &r, &p)) return ProblemOutcome(p, name_);
  // Past its time a request is refused, unless it ran before: then its
  // answer is the one it had.
  JournalEntry done;
  bool failed = false;
  if (r.not_after != 0 && static_cast<uint32_t>(time(nullptr)) > r.not_after && !journal_->Find(id, &done, &failed)) {
    return ProblemOutcome(
        MakeProblem(422, "request.expired", "the request came after its not_after time; nothing was sent"), name_);
  }
  Outcome o = server_->Serve("POST", r.path, id, r.body);
  // Not settled within the bridge's wait: asked again with the same key,
  // which follows the job already running.
  while (o.status == 504 && !stopping_) o = server_->Serve("POST", r.path, id, r.body);
  return o;
}

void Uplink::Reply(const std::string& id, const Outcome& o) {
  nlohmann::json body = nlohmann::json::parse(o.body, nullptr, false);
  const std::string payload = nlohmann::json{{"status", o.status}, {"body", body}}.dump();
  const std::string topic = UplinkTopic(options_.site, name_, "replies/" + id);
  // The request leaves the inbox when the broker has the reply.
  std::lock_guard<std::mutex> l(mu_);
  int mid = 0;
  mosquitto_publish(mosq_, &mid, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1, false);
  replies_[mid] = id;
  replied_.insert(id);
  log_->Write({{"register", name_}, {"uplink", "request"}, {"key", id}, {"status", o.status}});
}

void Uplink::Run() {
  uint64_t seen = events_->last_id();
  auto status_at = std::chrono::steady_clock::time_point();
  while (!stopping_ && !events_->closed()) {
    if (reconnected_.exchange(false)) {
      // Whatever the broker had not acknowledged goes again, in order; a
      // document it receives twice is the ledger's to recognise.
      std::lock_guard<std::mutex> l(mu_);
      inflight_.clear();
      next_after_ = 0;
      last_status_.clear();
      // Replies not acknowledged go again too (their requests replay by key).
      replies_.clear();
      replied_.clear();
      inbox_changed_ = true;
      requests_cv_.notify_all();
    }
    bool backlog = false;
    if (connected_) {
      Drain();
      const auto now = std::chrono::steady_clock::now();
      if (PublishStatus(true, now - status_at >= kStatusEvery)) status_at = now;
      std::lock_guard<std::mutex> l(mu_);
      backlog = !inflight_.empty();
    }
    // Any event may be a new document or a changed status; an outbox that
    // is being emptied is looked at again soon.
    std::vector<Event> events;
    if (!events_->Since(seen, backlog ? 20 : 1000, &events)) seen = events_->last_id();
    if (!events.empty()) seen = events.back().id;
  }
}

bool Uplink::PublishStatus(bool online, bool even_unchanged) {
  nlohmann::json status = worker_->StatusJson();
  status["site"] = options_.site;
  if (!online) status["online"] = false;
  nlohmann::json unaged = status;
  unaged.erase("age_ms");
  {
    std::lock_guard<std::mutex> l(mu_);
    std::string compare = unaged.dump();
    if (!even_unchanged && compare == last_status_) return false;
    last_status_ = std::move(compare);
  }
  const std::string payload = status.dump();
  const std::string topic = UplinkTopic(options_.site, name_, "status");
  return mosquitto_publish(mosq_, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1, true) ==
         MOSQ_ERR_SUCCESS;
}

void Uplink::Drain() {
  // A ledger tells registers apart by their serial numbers, which a document
  // does not carry: it waits until the register said its own.
  const nlohmann::json status = worker_->StatusJson();
  if (!status.contains("serial") || !status["serial"].is_string()) return;
  ResendNow(status["serial"].get<std::string>());
  std::lock_guard<std::mutex> l(mu_);
  if (inflight_.size() >= kWindow) return;
  std::vector<JournalDocument> documents;
  if (!journal_->Outbox(name_, next_after_, kWindow - inflight_.size(), &documents)) return;
  const std::string topic = UplinkTopic(options_.site, name_, "documents");
  for (const JournalDocument& d : documents) {
    nlohmann::json document = nlohmann::json::parse(d.body, nullptr, false);
    if (!document.is_object()) continue;  // not from this bridge's own answers: left in the outbox
    document["serial"] = status["serial"];
    const std::string payload = document.dump();
    int mid = 0;
    if (mosquitto_publish(mosq_, &mid, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1, false) !=
        MOSQ_ERR_SUCCESS) {
      return;  // tried again after the next reconnect
    }
    inflight_[mid] = d.number;
    next_after_ = d.number;
  }
}

}  // namespace bridge
