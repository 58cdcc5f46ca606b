// fr-ledger: every register's documents in one PostgreSQL database.
//   fr-ledger migrate --db CONNINFO
//   fr-ledger run --mqtt URL --db CONNINFO [--credentials FILE] [--ca FILE]
//   fr-ledger gaps --db CONNINFO
//   fr-ledger import --db CONNINFO --site S --register R [--serial N] FILE
// `run` takes fr/v1/+/+/documents with a persistent session: what comes
// while it is away waits at the broker, and a second delivery changes
// nothing. The MQTT client acknowledges a message as it arrives, before the
// commit, so a ledger killed in that moment loses the message; `gaps` shows
// it and `import` of the card's export fills it.
#include <MQTTClient.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
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
std::atomic<bool> g_lost{false};

struct Consumer {
  ledger::Ledger* ledger;
  std::string conninfo;
  uint64_t added = 0, repeated = 0;
};

// Called by the MQTT client for each message; 0 has the client hand it over
// again (the broker has had its acknowledgement already).
int Arrived(void* context, char* topic, int topic_len, MQTTClient_message* m) {
  auto* c = static_cast<Consumer*>(context);
  const std::string name = topic_len > 0 ? std::string(topic, static_cast<size_t>(topic_len)) : std::string(topic);
  const std::string payload(static_cast<const char*>(m->payload), static_cast<size_t>(m->payloadlen));
  ledger::Origin origin;
  json document;
  int done = 1;
  if (!ledger::DocumentMessage(name, payload, &origin, &document)) {
    std::fprintf(stderr, "fr-ledger: %s: not a document message; dropped\n", name.c_str());
  } else {
    bool added = false;
    const host::Status s = c->ledger->Store(origin, document, &added);
    if (s.ok()) {
      ++(added ? c->added : c->repeated);
    } else if (s.kind() == host::Status::Kind::kInvalid) {
      std::fprintf(stderr, "fr-ledger: %s: %s; dropped\n", name.c_str(), s.ToString().c_str());
    } else {
      // The database is away: the client hands the message over again, and
      // the connection is made anew meanwhile.
      std::fprintf(stderr, "fr-ledger: %s; the message comes again\n", s.ToString().c_str());
      std::this_thread::sleep_for(std::chrono::seconds(1));
      c->ledger->Connect(c->conninfo);
      done = 0;
    }
  }
  if (done) {
    MQTTClient_freeMessage(&m);
    MQTTClient_free(topic);
  }
  return done;
}

void Lost(void*, char* cause) {
  std::fprintf(stderr, "fr-ledger: the broker went away%s%s\n", cause != nullptr ? ": " : "",
               cause != nullptr ? cause : "");
  g_lost = true;
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

  const std::string address =
      std::string(broker.tls ? "ssl://" : "tcp://") + broker.host + ":" + std::to_string(broker.port);
  const std::string id = p.count("client-id") ? p["client-id"].as<std::string>() : "fr-ledger";
  MQTTClient client;
  if (MQTTClient_create(&client, address.c_str(), id.c_str(), MQTTCLIENT_PERSISTENCE_NONE, nullptr) !=
      MQTTCLIENT_SUCCESS) {
    return Fail("cannot make an MQTT client for " + address);
  }
  Consumer consumer{ledger, conninfo};
  MQTTClient_setCallbacks(client, &consumer, Lost, Arrived, nullptr);
  MQTTClient_connectOptions options = MQTTClient_connectOptions_initializer;
  options.keepAliveInterval = 30;
  options.cleansession = 0;  // what came while the ledger was away waits for it
  if (!broker.user.empty()) {
    options.username = broker.user.c_str();
    options.password = broker.password.c_str();
  }
  MQTTClient_SSLOptions tls = MQTTClient_SSLOptions_initializer;
  if (broker.tls) {
    tls.trustStore = broker.ca_file.empty() ? nullptr : broker.ca_file.c_str();
    tls.CApath = broker.ca_file.empty() ? "/etc/ssl/certs" : nullptr;
    options.ssl = &tls;
  }
  int pause = 1;
  while (!g_stop) {
    const int rc = MQTTClient_connect(client, &options);
    if (rc == MQTTCLIENT_SUCCESS && MQTTClient_subscribe(client, "fr/v1/+/+/documents", 1) == MQTTCLIENT_SUCCESS) {
      std::fprintf(stderr, "fr-ledger: taking documents from %s\n", address.c_str());
      pause = 1;
      g_lost = false;
      while (!g_stop && !g_lost) std::this_thread::sleep_for(std::chrono::milliseconds(200));
      if (!g_lost) MQTTClient_disconnect(client, 1000);
      continue;
    }
    std::fprintf(stderr, "fr-ledger: %s does not take us (%d); again in %d s\n", address.c_str(), rc, pause);
    for (int i = 0; i < pause * 5 && !g_stop; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(200));
    pause = std::min(pause * 2, 60);
  }
  MQTTClient_destroy(&client);
  std::fprintf(stderr, "fr-ledger: stopped; %llu documents added, %llu came again\n",
               static_cast<unsigned long long>(consumer.added), static_cast<unsigned long long>(consumer.repeated));
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
