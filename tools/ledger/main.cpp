// fr-ledger: every register's documents in one PostgreSQL database.
//   fr-ledger migrate --db CONNINFO
//   fr-ledger run --mqtt URL --db CONNINFO [--credentials FILE] [--ca FILE]
//   fr-ledger gaps --db CONNINFO
//   fr-ledger import --db CONNINFO --site S --register R [--serial N] FILE
// `run` takes fr/v1/+/+/documents with a persistent session: what comes
// while it is away waits at the broker, and a second delivery changes
// nothing.
#include <mosquitto.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include <cxxopts.hpp>

#include "host/broker.h"
#include "tools/ledger/ledger.h"

namespace {

using json = nlohmann::json;

int Fail(const std::string& why) {
  std::fprintf(stderr, "fr-ledger: %s\n", why.c_str());
  return 1;
}

std::atomic<bool> g_stop{false};

// Messages go from the MQTT client's thread to the writer through a short
// queue; a full queue holds the client back, so the broker keeps the rest.
// The writer commits what waits in one transaction: one commit per
// document would bound the ledger by the disk's flushes.
//
// The client acknowledges a message as it arrives, before the commit, and a
// broker that crashes loses what it had not saved: a document can be lost
// on the way. Each register's bridge keeps its documents, so the ledger asks
// it to send again those after the newest it holds (on resend: the
// bridge's outbox takes them again; what comes twice changes nothing):
// - at every connection to the broker, for every register it knows: a
//   ledger that was killed, or a broker that restarted, lost at most the
//   newest documents;
// - when a register's document skips numbers: the ones between were lost,
//   or made by a program other than the bridge (then `gaps` lists them and
//   `import` fills them). Asked once per hole.
class Consumer {
 public:
  static constexpr size_t kQueue = 2000;
  static constexpr size_t kBatch = 500;

  Consumer(ledger::Ledger* ledger, std::string conninfo, const std::vector<ledger::Held>& held)
      : ledger_(ledger), conninfo_(std::move(conninfo)) {
    for (const ledger::Held& h : held) latest_[h.origin.serial] = h;
  }

  void Attach(struct mosquitto* client) { client_ = client; }

  // Every register's documents after the newest held.
  void AskAll() {
    std::lock_guard<std::mutex> l(latest_mu_);
    for (const auto& [serial, h] : latest_) Ask(h);
  }

  void Take(std::string topic, std::string payload) {
    std::unique_lock<std::mutex> l(mu_);
    room_.wait(l, [&] { return queue_.size() < kQueue || stopping_; });
    queue_.emplace_back(std::move(topic), std::move(payload));
    ready_.notify_one();
  }

  // Until Finish(), and then until the queue is empty.
  void Write() {
    for (;;) {
      std::vector<ledger::Entry> batch;
      {
        std::unique_lock<std::mutex> l(mu_);
        ready_.wait(l, [&] { return !queue_.empty() || finished_; });
        if (queue_.empty()) return;
        while (!queue_.empty() && batch.size() < kBatch) {
          ledger::Entry e;
          if (ledger::DocumentMessage(queue_.front().first, queue_.front().second, &e.origin, &e.document)) {
            batch.push_back(std::move(e));
          } else {
            std::fprintf(stderr, "fr-ledger: %s: not a document message; dropped\n", queue_.front().first.c_str());
          }
          queue_.pop_front();
        }
        room_.notify_all();
      }
      Commit(&batch);
    }
  }

  // Take() no longer waits for room.
  void Stop() {
    std::lock_guard<std::mutex> l(mu_);
    stopping_ = true;
    room_.notify_all();
  }
  // Nothing more comes.
  void Finish() {
    std::lock_guard<std::mutex> l(mu_);
    finished_ = true;
    ready_.notify_all();
  }

  uint64_t added() const { return added_; }
  uint64_t repeated() const { return repeated_; }

 private:
  void Commit(std::vector<ledger::Entry>* batch) {
    host::Status s;
    // The database away: the batch waits for it, however long.
    while (!(s = ledger_->StoreAll(batch)).ok() && s.kind() != host::Status::Kind::kInvalid) {
      std::fprintf(stderr, "fr-ledger: %s; trying again\n", s.ToString().c_str());
      std::this_thread::sleep_for(std::chrono::seconds(1));
      ledger_->Connect(conninfo_);
    }
    if (!s.ok() && batch->size() == 1) {
      std::fprintf(stderr, "fr-ledger: document %s: %s; dropped\n",
                   (*batch)[0].document.value("number", json()).dump().c_str(), s.ToString().c_str());
      return;
    }
    if (!s.ok()) {
      // One document the database refuses: the others go in one by one.
      for (ledger::Entry& e : *batch) {
        std::vector<ledger::Entry> one = {std::move(e)};
        Commit(&one);
      }
      return;
    }
    std::lock_guard<std::mutex> l(latest_mu_);
    for (const ledger::Entry& e : *batch) {
      ++(e.added ? added_ : repeated_);
      const uint32_t number = e.document["number"].get<uint32_t>();
      auto it = latest_.find(e.origin.serial);
      if (it == latest_.end()) {
        latest_[e.origin.serial] = ledger::Held{e.origin, number};
        continue;
      }
      if (number <= it->second.number) continue;
      if (number > it->second.number + 1 && holes_asked_.insert({e.origin.serial, it->second.number}).second) {
        Ask(it->second);
      }
      it->second = ledger::Held{e.origin, number};
    }
  }

  // Under latest_mu_.
  void Ask(const ledger::Held& h) {
    const std::string topic = "fr/v1/" + h.origin.site + "/" + h.origin.register_name + "/resend";
    const std::string payload = json{{"serial", h.origin.serial}, {"after", h.number}}.dump();
    mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1, false);
  }

  ledger::Ledger* const ledger_;
  const std::string conninfo_;
  std::mutex mu_;
  std::condition_variable ready_, room_;
  std::deque<std::pair<std::string, std::string>> queue_;
  bool stopping_ = false;
  bool finished_ = false;
  std::atomic<uint64_t> added_{0}, repeated_{0};
  struct mosquitto* client_ = nullptr;
  std::mutex latest_mu_;                                    // guards what follows
  std::map<std::string, ledger::Held> latest_;              // serial -> newest held
  std::set<std::pair<std::string, uint32_t>> holes_asked_;  // serial, last held before the hole
};

void OnConnect(struct mosquitto* m, void* self, int rc) {
  if (rc != 0) {
    std::fprintf(stderr, "fr-ledger: the broker refused us: %s\n", mosquitto_connack_string(rc));
    return;
  }
  mosquitto_subscribe(m, nullptr, "fr/v1/+/+/documents", 1);
  std::fprintf(stderr, "fr-ledger: taking documents\n");
  static_cast<Consumer*>(self)->AskAll();
}

void OnDisconnect(struct mosquitto*, void*, int rc) {
  if (!g_stop) std::fprintf(stderr, "fr-ledger: the broker went away (%s)\n", mosquitto_strerror(rc));
}

void OnMessage(struct mosquitto*, void* self, const struct mosquitto_message* m) {
  static_cast<Consumer*>(self)->Take(
      m->topic, std::string(static_cast<const char*>(m->payload), static_cast<size_t>(m->payloadlen)));
}

int Run(const cxxopts::ParseResult& p, ledger::Ledger* ledger, const std::string& conninfo) {
  host::Broker broker;
  host::Status s = host::ParseBrokerUrl(p["mqtt"].as<std::string>(), &broker);
  if (!s.ok()) return Fail("--mqtt: " + s.ToString());
  if (p.count("credentials")) {
    const std::string path = p["credentials"].as<std::string>();
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    if (!in) return Fail("cannot read " + path);
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && (st.st_mode & 077) != 0) {
      std::fprintf(stderr, "fr-ledger: WARNING: %s is open to other users; chmod 600 it\n", path.c_str());
    }
    if (!(s = host::ParseBrokerCredentials(text.str(), &broker)).ok()) return Fail(path + ": " + s.ToString());
  }
  if (p.count("ca")) broker.ca_file = p["ca"].as<std::string>();

  std::vector<ledger::Held> held;
  if (!(s = ledger->Latest(&held)).ok()) return Fail(s.ToString());
  Consumer consumer(ledger, conninfo, held);
  mosquitto_lib_init();
  const std::string id = p.count("client-id") ? p["client-id"].as<std::string>() : "fr-ledger";
  // A persistent session: what comes while the ledger is away waits for it.
  struct mosquitto* m = mosquitto_new(id.c_str(), /*clean_session=*/false, &consumer);
  if (m == nullptr) return Fail("cannot make an MQTT client");
  consumer.Attach(m);
  mosquitto_int_option(m, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
  mosquitto_connect_callback_set(m, OnConnect);
  mosquitto_disconnect_callback_set(m, OnDisconnect);
  mosquitto_message_callback_set(m, OnMessage);
  if (!broker.user.empty() &&
      mosquitto_username_pw_set(m, broker.user.c_str(), broker.password.c_str()) != MOSQ_ERR_SUCCESS) {
    return Fail("the credentials are refused by the MQTT client");
  }
  if (broker.tls) {
    const int rc = broker.ca_file.empty()
                       ? mosquitto_tls_set(m, nullptr, "/etc/ssl/certs", nullptr, nullptr, nullptr)
                       : mosquitto_tls_set(m, broker.ca_file.c_str(), nullptr, nullptr, nullptr, nullptr);
    if (rc != MOSQ_ERR_SUCCESS) return Fail(std::string("--ca: ") + mosquitto_strerror(rc));
  }
  mosquitto_reconnect_delay_set(m, 1, 60, true);
  // The client's loop reconnects only once it was connected: a broker not
  // there yet is tried here, with the same back-off.
  for (int pause = 1, rc;
       !g_stop && (rc = mosquitto_connect_async(m, broker.host.c_str(), broker.port, 30)) != MOSQ_ERR_SUCCESS;
       pause = std::min(pause * 2, 60)) {
    std::fprintf(stderr, "fr-ledger: %s:%d: %s; again in %d s\n", broker.host.c_str(), broker.port,
                 mosquitto_strerror(rc), pause);
    for (int i = 0; i < pause * 5 && !g_stop; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  // Stopped before any connection: no loop to start (it would keep trying).
  if (!g_stop && mosquitto_loop_start(m) != MOSQ_ERR_SUCCESS) return Fail("the MQTT client's thread");
  std::thread writer([&] { consumer.Write(); });
  while (!g_stop) std::this_thread::sleep_for(std::chrono::milliseconds(200));
  mosquitto_disconnect(m);
  consumer.Stop();  // a message held back by a full queue is let through
  mosquitto_loop_stop(m, false);
  consumer.Finish();  // and all that came is written
  writer.join();
  mosquitto_destroy(m);
  mosquitto_lib_cleanup();
  std::fprintf(stderr, "fr-ledger: stopped; %llu documents added, %llu came again\n",
               static_cast<unsigned long long>(consumer.added()), static_cast<unsigned long long>(consumer.repeated()));
  return 0;
}

int Import(const cxxopts::ParseResult& p, ledger::Ledger* ledger) {
  if (!p.count("site") || !p.count("register") || !p.count("file")) {
    return Fail("import needs --site S --register R and the export FILE");
  }
  ledger::Origin origin{p["site"].as<std::string>(), p["register"].as<std::string>(), ""};
  if (p.count("serial")) {
    origin.serial = p["serial"].as<std::string>();
  } else {
    const host::Status s = ledger->SerialOf(origin.site, origin.register_name, &origin.serial);
    if (!s.ok()) return Fail(s.ToString() + "; give --serial");
  }
  std::ifstream in(p["file"].as<std::string>());
  const json documents = json::parse(in, nullptr, false);
  if (!documents.is_array()) return Fail(p["file"].as<std::string>() + " is not an fr-archive export (--format json)");
  uint64_t added = 0, held = 0;
  for (const json& d : documents) {
    bool was_added = false;
    const host::Status s = ledger->Store(origin, d, &was_added);
    if (!s.ok()) return Fail("document " + d.value("number", json()).dump() + ": " + s.ToString());
    ++(was_added ? added : held);
  }
  std::printf("%llu documents added, %llu held already\n", static_cast<unsigned long long>(added),
              static_cast<unsigned long long>(held));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  cxxopts::Options options("fr-ledger", "Every register's documents in one PostgreSQL database.");
  options.add_options()("command", "migrate, run, gaps or import", cxxopts::value<std::string>())(
      "db", "the database, a libpq connection string", cxxopts::value<std::string>())(
      "mqtt", "the broker, mqtt://HOST:PORT or mqtts://HOST:PORT", cxxopts::value<std::string>())(
      "credentials", "a file of one line USER PASSWORD for the broker", cxxopts::value<std::string>())(
      "ca", "the broker's CA certificate (PEM)", cxxopts::value<std::string>())(
      "client-id", "the MQTT session's name (default fr-ledger)", cxxopts::value<std::string>())(
      "site", "import: the register's site", cxxopts::value<std::string>())("register", "import: the register's name",
                                                                            cxxopts::value<std::string>())(
      "serial", "import: its serial number, when the ledger has not heard it", cxxopts::value<std::string>())(
      "file", "import: fr-archive export --format json", cxxopts::value<std::string>())("h,help", "this help");
  options.parse_positional({"command", "file"});
  cxxopts::ParseResult p;
  try {
    p = options.parse(argc, argv);
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
  if (p.count("help") || !p.count("command")) {
    std::cout << options.help() << "\nSee docs/fleet.md.\n";
    return p.count("help") ? 0 : 2;
  }
  const std::string command = p["command"].as<std::string>();
  if (!p.count("db")) return Fail("--db CONNINFO is required");
  const std::string conninfo = p["db"].as<std::string>();
  ledger::Ledger ledger;
  host::Status s = ledger.Connect(conninfo);
  if (!s.ok()) return Fail(s.ToString());
  if (command == "migrate") {
    int from = 0, to = 0;
    if (!(s = ledger.Migrate(&from, &to)).ok()) return Fail(s.ToString());
    std::printf("schema version %d%s\n", to, from == to ? ", as it was" : "");
    return 0;
  }
  if (command == "gaps") {
    std::vector<ledger::Gap> gaps;
    if (!(s = ledger.Gaps(&gaps)).ok()) return Fail(s.ToString());
    for (const ledger::Gap& g : gaps) {
      std::printf("%s/%s (serial %s): %u", g.site.c_str(), g.register_name.c_str(), g.serial.c_str(), g.from);
      if (g.to != g.from) std::printf("-%u", g.to);
      std::printf("\n");
    }
    return gaps.empty() ? 0 : 3;
  }
  if (command == "import") return Import(p, &ledger);
  if (command == "run") {
    if (!p.count("mqtt")) return Fail("run needs --mqtt URL");
    struct sigaction stop = {};
    stop.sa_handler = [](int) { g_stop = true; };
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGINT, &stop, nullptr);
    return Run(p, &ledger, conninfo);
  }
  return Fail("no command " + command + " (migrate, run, gaps, import)");
}
