// The back office's side of the tests: Mosquitto and PostgreSQL started on
// private loopback ports in temporary directories, and an MQTT client.
#ifndef FR_TESTS_FLEET_RIG_H_
#define FR_TESTS_FLEET_RIG_H_

#include <libpq-fe.h>
#include <mosquitto.h>
#include <pwd.h>
#include <sqlite3.h>
#include <unistd.h>

#include <mutex>

#include "tests/bridge_rig.h"

namespace bridgetest {

// Mosquitto on a private port, its persistence in a temporary directory, so
// that a restart keeps the back office's session and what waits for it.
class Broker {
 public:
  // `settings`: configuration lines of the caller's; the tests log every
  // packet, a benchmark sets its own limits and logs less.
  explicit Broker(const std::string& dir, const std::string& settings = "log_type all\n") : dir_(dir) {
    // Started as root, Mosquitto runs as its own user, who must reach and
    // write its persistence directory: one of its own outside ours.
    fs::create_directories(dir_);
    char name[] = "/tmp/fr-mosquitto-XXXXXX";
    data_ = mkdtemp(name);
    const struct passwd* pw = getuid() == 0 ? getpwnam("mosquitto") : nullptr;
    if (pw != nullptr && chown(data_.c_str(), pw->pw_uid, pw->pw_gid) != 0) ADD_FAILURE() << "chown " << data_;
    std::ofstream(dir_ + "/mosquitto.conf")
        << "listener " << port_ << " 127.0.0.1\n"
        << settings << "persistence true\npersistence_location " << data_ << "/\n";
  }
  ~Broker() {
    process_.Kill(SIGTERM);
    fs::remove_all(data_);
  }
  // From the next start on: these accounts only, confined by `acl`.
  void Secure(const std::vector<std::pair<std::string, std::string>>& accounts, const std::string& acl) {
    const std::string passwords = data_ + "/passwd", rules = data_ + "/acl";
    std::ofstream(passwords).close();
    for (const auto& [user, password] : accounts) {
      const std::string add = "mosquitto_passwd -b " + passwords + " " + user + " " + password;
      ASSERT_EQ(std::system(add.c_str()), 0) << add;
    }
    std::ofstream(rules) << acl;
    const struct passwd* pw = getuid() == 0 ? getpwnam("mosquitto") : nullptr;
    for (const std::string& f : {passwords, rules}) {
      if (pw != nullptr && chown(f.c_str(), pw->pw_uid, pw->pw_gid) != 0) ADD_FAILURE() << "chown " << f;
    }
    access_said_ = true;
    std::ofstream(dir_ + "/mosquitto.conf", std::ios::app)
        << "allow_anonymous false\npassword_file " << passwords << "\nacl_file " << rules << "\n";
  }
  bool Start() {
    if (!access_said_) std::ofstream(dir_ + "/mosquitto.conf", std::ios::app) << "allow_anonymous true\n";
    access_said_ = true;
    return process_.Start("/usr/sbin/mosquitto", {"-c", dir_ + "/mosquitto.conf"}, dir_, dir_) &&
           Eventually([&] { return process_.Stderr().find("Opening ipv4 listen socket") != std::string::npos; }, 10000);
  }
  void Stop() { process_.Kill(SIGTERM); }  // an orderly end writes the persistence file
  int port() const { return port_; }
  pid_t pid() const { return process_.pid(); }
  std::string log() const { return process_.Stderr(); }

 private:
  const std::string dir_;
  std::string data_;
  bool access_said_ = false;  // who may connect is in the configuration
  const int port_ = sim::FreeLoopbackPort();
  sim::DeviceProcess process_;
};

// PostgreSQL in a directory of its own, as the postgres user when the tests
// run as root (it refuses to run as root), with trust on loopback.
class Postgres {
 public:
  // Not durable, the tests' default: a commit does not wait for the disk.
  explicit Postgres(bool durable = false) : durable_(durable) {
    char name[] = "/tmp/fr-pg-XXXXXX";
    dir_ = mkdtemp(name);
    const struct passwd* pw = getuid() == 0 ? getpwnam("postgres") : nullptr;
    if (pw != nullptr) {
      if (chown(dir_.c_str(), pw->pw_uid, pw->pw_gid) != 0) dir_.clear();
      as_ = {"/usr/sbin/runuser", "-u", "postgres", "--"};
    }
  }
  ~Postgres() {
    server_.Kill(SIGTERM);
    fs::remove_all(dir_);
  }
  bool Start() {
    const std::string bin = "/usr/lib/postgresql/15/bin/";
    if (!fs::exists(dir_ + "/data")) {
      sim::DeviceProcess init;
      int status = -1;
      if (!Launch(&init, bin + "initdb", {"-D", dir_ + "/data", "-A", "trust", "-U", "fr", "--no-sync"}, "initdb") ||
          !init.Wait(60000, &status) || status != 0) {
        return false;
      }
    }
    return Launch(&server_, bin + "postgres",
                  {"-D", dir_ + "/data", "-k", dir_, "-p", std::to_string(port_), "-c", "listen_addresses=127.0.0.1",
                   "-c", durable_ ? "fsync=on" : "fsync=off"},
                  "server") &&
           Eventually([&] { return PQping(conninfo().c_str()) == PQPING_OK; }, 30000);
  }
  std::string conninfo() const { return "host=127.0.0.1 port=" + std::to_string(port_) + " user=fr dbname=postgres"; }
  // The rows of a query, each as its columns joined by '|'.
  std::vector<std::string> Rows(const std::string& sql) const {
    std::vector<std::string> rows;
    PGconn* db = PQconnectdb(conninfo().c_str());
    PGresult* r = PQexec(db, sql.c_str());
    for (int i = 0; PQresultStatus(r) == PGRES_TUPLES_OK && i < PQntuples(r); ++i) {
      std::string row;
      for (int c = 0; c < PQnfields(r); ++c) row += (c ? "|" : "") + std::string(PQgetvalue(r, i, c));
      rows.push_back(row);
    }
    PQclear(r);
    PQfinish(db);
    return rows;
  }

 private:
  bool Launch(sim::DeviceProcess* p, const std::string& program, std::vector<std::string> args,
              const std::string& log) const {
    fs::create_directories(dir_ + "/" + log);
    if (as_.empty()) return p->Start(program, args, dir_, dir_ + "/" + log);
    std::vector<std::string> all(as_.begin() + 1, as_.end());
    all.push_back(program);
    all.insert(all.end(), args.begin(), args.end());
    return p->Start(as_[0], all, dir_, dir_ + "/" + log);
  }
  const bool durable_;
  std::string dir_;
  std::vector<std::string> as_;  // how to run as the postgres user, when we are root
  const int port_ = sim::FreeLoopbackPort();
  sim::DeviceProcess server_;
};

// The back office: a persistent session subscribed to one register's topics.
class Office {
 public:
  // `base` is one register's fr/v1/{site}/{register}.
  Office(int port, const std::string& base, const std::string& user = "", const std::string& password = "")
      : base_(base), topics_(base + "/#") {
    mosquitto_lib_init();
    m_ = mosquitto_new(("office " + user + " " + base).c_str(), false, this);
    if (!user.empty()) mosquitto_username_pw_set(m_, user.c_str(), password.c_str());
    mosquitto_message_callback_set(m_, [](struct mosquitto*, void* self, const struct mosquitto_message* msg) {
      auto* o = static_cast<Office*>(self);
      std::lock_guard<std::mutex> l(o->mu_);
      o->got_.emplace_back(msg->topic, std::string(static_cast<const char*>(msg->payload), msg->payloadlen));
    });
    mosquitto_connect_callback_set(m_, [](struct mosquitto* m, void* self, int rc) {
      if (rc == 0) mosquitto_subscribe(m, nullptr, static_cast<Office*>(self)->topics_.c_str(), 1);
    });
    mosquitto_reconnect_delay_set(m_, 1, 1, false);
    mosquitto_connect_async(m_, "127.0.0.1", port, 10);
    mosquitto_loop_start(m_);
  }
  ~Office() {
    mosquitto_disconnect(m_);
    mosquitto_loop_stop(m_, false);
    mosquitto_destroy(m_);
  }
  void Request(const std::string& id, const json& request) { Publish(base_ + "/requests/" + id, request.dump()); }
  // While the broker is away the client keeps the message and sends it
  // after it reconnects (and says it is not connected).
  void Publish(const std::string& topic, const std::string& payload) {
    const int rc =
        mosquitto_publish(m_, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1, false);
    EXPECT_TRUE(rc == MOSQ_ERR_SUCCESS || rc == MOSQ_ERR_NO_CONN) << mosquitto_strerror(rc);
  }
  // The replies to request `id`, in the order they came.
  std::vector<json> Replies(const std::string& id) {
    std::vector<json> out;
    for (const auto& [topic, payload] : Got()) {
      if (topic == base_ + "/replies/" + id) out.push_back(json::parse(payload));
    }
    return out;
  }
  std::vector<std::pair<std::string, std::string>> Got() {
    std::lock_guard<std::mutex> l(mu_);
    return got_;
  }
  // Document numbers in the order they came, repeats included.
  std::vector<uint32_t> Documents() {
    std::vector<uint32_t> numbers;
    for (const auto& [topic, payload] : Got()) {
      if (topic == base_ + "/documents") numbers.push_back(json::parse(payload)["number"].get<uint32_t>());
    }
    return numbers;
  }
  json LastStatus() {
    json last = json::object();
    for (const auto& [topic, payload] : Got()) {
      if (topic == base_ + "/status") last = json::parse(payload);
    }
    return last;
  }

 private:
  const std::string base_;
  const std::string topics_;
  struct mosquitto* m_;
  std::mutex mu_;
  std::vector<std::pair<std::string, std::string>> got_;
};

// `fr-ledger ARGS...` to its end: its exit status, -1 when it did not end;
// *out (may be null) gets what it said.
inline int RunLedger(const std::vector<std::string>& args, const std::string& log_dir, std::string* out = nullptr) {
  sim::DeviceProcess p;
  int status = -1;
  if (!p.Start(kBin + "/fr-ledger", args, log_dir, log_dir) || !p.Wait(60000, &status)) return -1;
  if (out != nullptr) *out = p.Stdout() + p.Stderr();
  return status;
}

// Documents waiting in the outbox of the bridge's journal at `path`; -1
// when it cannot be read.
inline int64_t Waiting(const std::string& path) {
  sqlite3* db = nullptr;
  int64_t n = -1;
  sqlite3_stmt* s = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
      sqlite3_prepare_v2(db, "SELECT count(*) FROM outbox", -1, &s, nullptr) == SQLITE_OK &&
      sqlite3_step(s) == SQLITE_ROW) {
    n = sqlite3_column_int64(s, 0);
  }
  sqlite3_finalize(s);
  sqlite3_close(db);
  return n;
}

}  // namespace bridgetest

#endif  // FR_TESTS_FLEET_RIG_H_
