// The uplink: a register behind this bridge, reached by a back office
// through an MQTT broker. The shop connects out (it sits behind NAT), so
// each register holds one MQTT session of its own, persistent, whose last
// will marks that register offline. Under fr/v1/{site}/{register}/ it
// publishes
//   status     the status JSON, retained, on change and at least every 60 s;
//   documents  every document the register stored through this bridge, with
//              the register's serial number beside its fields, QoS 1,
//              in number order, from the journal's outbox: a document leaves
//              the outbox only when the broker acknowledged it, so a backlog
//              survives broker and bridge restarts and goes out in order.
//              The broker's acknowledgement is not the ledger's commit: a
//              ledger that lost documents publishes to
//   resend     {"serial", "after": N}: the kept documents numbered above N
//              go into the outbox again.
// and it carries out the back office's requests, published to
//   requests/{id}  {"action": "receipt", "body": {...}, "not_after": RFC 3339}
// with the body as the HTTP route of that action takes it ({id} is the
// Idempotency-Key, in the journal beside the tills' keys), answering each on
// replies/{id} with {"status", "body"} as HTTP would. A request is kept in
// the journal's inbox from its arrival until the broker has its reply; the
// client library acknowledges a request before the bridge has kept it, so a
// back office that hears no reply sends the request again with the same id:
// it runs once.
// It never holds up a till's request: it reads the journal and the events
// on a thread of its own, and the MQTT client library reconnects with
// back-off on another.
//
// Thread-safe.
#ifndef FR_BRIDGE_UPLINK_H_
#define FR_BRIDGE_UPLINK_H_

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bridge/events.h"
#include "bridge/journal.h"
#include "bridge/log.h"
#include "bridge/request.h"
#include "bridge/server.h"
#include "bridge/uplink_message.h"
#include "bridge/worker.h"
#include "host/status.h"

struct mosquitto;
struct mosquitto_message;

namespace bridge {

class Uplink {
 public:
  // Documents published and not yet acknowledged, at most.
  static constexpr size_t kWindow = 100;

  // Requests read from the inbox at a time.
  static constexpr size_t kMaxWaiting = 100;

  Uplink(const UplinkOptions& options, Server* server, Worker* worker, Journal* journal, Events* events, Log* log);
  Uplink(const Uplink&) = delete;
  Uplink& operator=(const Uplink&) = delete;
  ~Uplink();

  host::Status Start();
  // Says "offline" (retained) when it can, and disconnects.
  void Stop();

 private:
  // Until the first connection is made (or Stop); then the client's own
  // thread keeps it. False when stopped first.
  bool Connect();
  void Run();
  // True when it went out.
  bool PublishStatus(bool online, bool even_unchanged);
  void Drain();
  void Answer();  // the requests' thread
  // A ledger asks for the documents after the newest it holds: kept here,
  // carried out by ResendNow for the register's serial.
  void Resend(const std::string& payload);
  void ResendNow(const std::string& serial);
  // The answer HTTP would give the request.
  Outcome CarryOut(const std::string& id, const std::string& payload);
  void Reply(const std::string& id, const Outcome& o);
  // From the MQTT client's thread.
  static void OnConnect(struct mosquitto* m, void* self, int rc);
  static void OnDisconnect(struct mosquitto* m, void* self, int rc);
  static void OnPublish(struct mosquitto* m, void* self, int mid);
  static void OnMessage(struct mosquitto* m, void* self, const struct mosquitto_message* message);

  const UplinkOptions options_;
  Server* const server_;
  Worker* const worker_;
  Journal* const journal_;
  Events* const events_;
  Log* const log_;
  const std::string name_;
  struct mosquitto* mosq_ = nullptr;
  std::thread thread_;
  std::thread answerer_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> connected_{false};
  std::atomic<bool> reconnected_{false};

  std::mutex mu_;                                          // guards what follows
  std::map<int, uint32_t> inflight_;                       // message id -> document number
  uint32_t next_after_ = 0;                                // the last document handed to the client library
  std::string last_status_;                                // as published, without its age
  std::condition_variable requests_cv_;                    // a request came, or a reconnect asks for replies again
  std::map<int, std::string> replies_;                     // message id -> request id
  std::set<std::string> replied_;                          // on this connection
  bool inbox_changed_ = true;                              // read it again: a request came, or replies go again
  std::vector<std::pair<std::string, uint32_t>> resends_;  // serial, after: asked, not yet done
};

}  // namespace bridge

#endif  // FR_BRIDGE_UPLINK_H_
