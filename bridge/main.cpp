// fr-bridge: registers behind an HTTP/JSON interface (docs/bridge.md).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <thread>

#include <cxxopts.hpp>
#include <nlohmann/json.hpp>

#include "bridge/files.h"
#include "bridge/net.h"
#include "bridge/server.h"
#include "bridge/service.h"
#include "bridge/stop.h"
#include "bridge/tls.h"
#include "bridge/uplink.h"
#include "host/arguments.h"
#include "host/emu_layout.h"
#include "util/coding.h"

namespace {

using nlohmann::json;

bool ReadFile(const std::string& path, std::string* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  *out = s.str();
  return true;
}

bool ParseRegister(const std::string& arg, bridge::RegisterConfig* r) {
  const size_t eq = arg.find('=');
  if (eq == std::string::npos || eq == 0 || eq + 1 == arg.size()) return false;
  r->name = arg.substr(0, eq);
  r->device = arg.substr(eq + 1);
  return r->name.size() <= 32 &&
         r->name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_-") == std::string::npos;
}

bool IsLoopback(const std::string& host) {
  return host == "localhost" || host == "::1" || host.compare(0, 4, "127.") == 0;
}

size_t events_kept = bridge::Events::kDefaultKept;
size_t register_queue = bridge::RegisterConfig().max_queue;

// "limits" of the configuration: each one a positive integer.
bool ReadLimits(const json& j, bridge::ServerOptions* so, std::string* why) {
  if (!j.is_object()) {
    *why = "an object of limits";
    return false;
  }
  bridge::DoorLimits& l = so->limits;
  const std::vector<std::pair<const char*, size_t*>> sizes = {
      {"connections", &l.connections},    {"per_address", &l.per_address},
      {"head_bytes", &l.head_bytes},      {"header_lines", &l.header_lines},
      {"body_bytes", &l.body_bytes},      {"threads", &l.threads},
      {"reserved_threads", &l.reserved},  {"queue", &l.queue},
      {"kept_tasks", &so->kept_tasks},    {"kept_events", &events_kept},
      {"register_queue", &register_queue}};
  const std::vector<std::pair<const char*, int*>> times = {
      {"head_ms", &l.head_ms}, {"idle_ms", &l.idle_ms}, {"body_ms", &l.body_ms}, {"write_ms", &l.write_ms}};
  for (auto it = j.begin(); it != j.end(); ++it) {
    const json& v = it.value();
    if (!v.is_number_unsigned() || v.get<uint64_t>() == 0 || v.get<uint64_t>() > (1u << 30)) {
      *why = it.key() + " must be a positive integer";
      return false;
    }
    bool known = false;
    for (auto& s : sizes) {
      if (it.key() == s.first) *s.second = v.get<size_t>(), known = true;
    }
    for (auto& t : times) {
      if (it.key() == t.first) *t.second = v.get<int>(), known = true;
    }
    if (!known) {
      *why = "no limit named " + it.key();
      return false;
    }
  }
  if (l.reserved >= l.threads) {
    *why = "reserved_threads must be fewer than threads";
    return false;
  }
  return true;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "fr-bridge: %s\n", message.c_str());
  return 2;
}

// The state directory is one bridge's at a time: a second one, or a journal
// reset, while a bridge runs would split its journal. Held by `lock`.
host::Status LockState(const std::string& state, bridge::FileLock* lock) {
  const std::string path = state + "/lock";
  switch (lock->Take(path)) {
    case bridge::FileLock::kHeld: return host::Status::OK();
    case bridge::FileLock::kCannotOpen: return host::Status::IoError("cannot open " + path);
    case bridge::FileLock::kTaken: break;
  }
  return host::Status::IoError("another fr-bridge is using " + state);
}

// The state holds the journal, the secret and perhaps the tokens: only this
// user's, whatever an earlier version or a person left.
void MakePrivate(const std::string& path, bool directory) {
  std::string was, now;
  if (bridge::MakePrivate(path, directory, &was, &now)) {
    std::fprintf(stderr, "fr-bridge: %s was open to other users (%s); it is %s now\n", path.c_str(), was.c_str(),
                 now.c_str());
  }
}

// fr-bridge journal reset --state DIR
int JournalCommand(int argc, char** argv) {
  std::string state;
  for (int i = 3; i + 1 < argc; i += 2) {
    if (std::string(argv[i]) == "--state") state = argv[i + 1];
  }
  if (argc != 5 || std::string(argv[2]) != "reset" || state.empty()) {
    std::fprintf(stderr, "usage: fr-bridge journal reset --state DIR\n");
    return 2;
  }
  bridge::PrivateFromNowOn();
  std::string report;
  std::error_code ec;
  if (!std::filesystem::is_directory(state, ec)) return Fail("no state directory " + state);
  bridge::FileLock lock;
  const host::Status locked = LockState(state, &lock);
  if (!locked.ok()) return Fail(locked.ToString() + ": stop it first");
  const host::Status reset = bridge::Journal::Reset(state + "/journal.sqlite", &report);
  if (!reset.ok()) return Fail(reset.ToString());
  std::printf("fr-bridge: %s\n", report.c_str());
  return 0;
}

// A setting by its option's name, else by its key in the configuration file:
// the command line wins.
struct Source {
  const cxxopts::ParseResult& p;
  const json& config;
  std::string operator()(const char* name, const char* key) const {
    if (p.count(name)) return p[name].as<std::string>();
    return config.contains(key) && config[key].is_string() ? config[key].get<std::string>() : "";
  }
};

// What the bridge runs with. Each step below answers 0, or Fail's status
// once it has said why.
struct Settings {
  std::vector<bridge::RegisterConfig> registers;
  bridge::ServerOptions so;
  std::string state;
  std::string tokens_path;
  bridge::FileLock lock;  // the state's, until the end
  std::string log_path;   // standard error when empty
  bool uplink = false;
  bridge::UplinkOptions uplink_options;
};

int ReadConfig(const cxxopts::ParseResult& p, json* config) {
  if (p.count("config")) {
    std::string text;
    if (!ReadFile(p["config"].as<std::string>(), &text)) return Fail("cannot read " + p["config"].as<std::string>());
    *config = json::parse(text, nullptr, false);
    if (!config->is_object()) return Fail(p["config"].as<std::string>() + " is not a JSON object");
  }
  return 0;
}

int ReadRegisters(const Source& setting, Settings* s) {
  const cxxopts::ParseResult& p = setting.p;
  const json& config = setting.config;
  std::vector<bridge::RegisterConfig>& registers = s->registers;
  if (config.contains("registers") && config["registers"].is_array()) {
    for (const json& r : config["registers"]) {
      bridge::RegisterConfig rc;
      if (!r.is_object() || !ParseRegister(r.value("name", "") + "=" + r.value("device", ""), &rc)) {
        return Fail("a register in the configuration needs a name ([a-z0-9_-], up to 32) and a device");
      }
      rc.emu_dir = r.value("emu", "");
      if (r.contains("service") && r["service"].is_object()) {
        rc.service.cashier = static_cast<uint8_t>(r["service"].value("number", static_cast<int>(rc.service.cashier)));
        rc.service.password = r["service"].value("password", rc.service.password);
      }
      registers.push_back(rc);
    }
  }
  if (p.count("register")) {
    for (const std::string& arg : p["register"].as<std::vector<std::string>>()) {
      bridge::RegisterConfig rc;
      if (!ParseRegister(arg, &rc)) return Fail("--register NAME=DEVICE, NAME of [a-z0-9_-] up to 32: " + arg);
      registers.push_back(rc);
    }
  }
  if (p.count("emu")) {
    for (const std::string& arg : p["emu"].as<std::vector<std::string>>()) {
      bridge::RegisterConfig e;
      if (!ParseRegister(arg, &e)) return Fail("--emu NAME=DIR: " + arg);
      bool found = false;
      for (auto& r : registers) {
        if (r.name == e.name) {
          r.emu_dir = e.device;
          found = true;
        }
      }
      // A virtual register alone: its line is the emulator's.
      if (!found) registers.push_back({e.name, e.device + emu::kHostLinkFile, e.device, host::Login()});
    }
  }
  if (registers.empty()) return Fail("no register: give --register NAME=DEVICE");
  for (size_t i = 0; i < registers.size(); ++i) {
    for (size_t j = 0; j < i; ++j) {
      if (registers[i].name == registers[j].name) return Fail("two registers named " + registers[i].name);
    }
  }
  return 0;
}

int ReadServing(const Source& setting, Settings* s) {
  const cxxopts::ParseResult& p = setting.p;
  const json& config = setting.config;
  bridge::ServerOptions& so = s->so;
  const std::string listen = setting("listen", "listen").empty() ? "127.0.0.1:8780" : setting("listen", "listen");
  const size_t colon = listen.rfind(':');
  try {
    if (colon == std::string::npos) throw std::invalid_argument(listen);
    so.host = listen.substr(0, colon);
    so.port = std::stoi(listen.substr(colon + 1));
    if (so.port < 0 || so.port > 65535) throw std::invalid_argument(listen);
  } catch (const std::exception&) {
    return Fail("--listen HOST:PORT: " + listen);
  }
  so.wait_ms = p["wait"].as<int>() * 1000;
  if (config.contains("allow_origin") && config["allow_origin"].is_array()) {
    for (const json& o : config["allow_origin"]) {
      if (o.is_string()) so.allow_origins.push_back(o.get<std::string>());
    }
  }
  if (p.count("allow-origin")) {
    for (const std::string& o : p["allow-origin"].as<std::vector<std::string>>()) so.allow_origins.push_back(o);
  }
  if (config.contains("allow_host") && config["allow_host"].is_array()) {
    for (const json& o : config["allow_host"]) {
      if (o.is_string()) so.allow_hosts.push_back(o.get<std::string>());
    }
  }
  if (p.count("allow-host")) {
    for (const std::string& o : p["allow-host"].as<std::vector<std::string>>()) so.allow_hosts.push_back(o);
  }
  so.tls_cert = setting("tls-cert", "tls_cert");
  so.tls_key = setting("tls-key", "tls_key");
  if (so.tls_cert.empty() != so.tls_key.empty()) return Fail("--tls-cert and --tls-key go together");
  // Tokens and receipts never cross a network in the clear.
  if (!bridge::TlsAvailable() && !so.tls_cert.empty()) {
    return Fail(std::string(bridge::kNoTls) + " (asked for a TLS certificate)");
  }
  if (!bridge::TlsAvailable() && !IsLoopback(so.host)) {
    return Fail(std::string(bridge::kNoTls) + " (asked to listen on " + listen + ")");
  }
  if (config.contains("limits")) {
    std::string why;
    if (!ReadLimits(config["limits"], &so, &why)) return Fail("limits: " + why);
  }
  return 0;
}

// The state directory: this user's alone, and this bridge's alone.
int PrepareState(const Source& setting, Settings* s) {
  std::string& state = s->state;
  state = setting("state", "state");
  if (state.empty()) return Fail("--state DIR is required (the journal lives there)");
  bridge::PrivateFromNowOn();  // everything the bridge makes is this user's alone
  if (!bridge::MakePrivateDirectory(state)) return Fail("cannot make " + state);
  MakePrivate(state, true);
  for (const char* f : {"/journal.sqlite", "/journal.sqlite-wal", "/journal.sqlite-shm", "/secret", "/tokens"}) {
    MakePrivate(state + f, false);
  }
  const host::Status locked = LockState(state, &s->lock);
  if (!locked.ok()) return Fail(locked.ToString());
  return 0;
}

int LoadSecrets(const Source& setting, Settings* s) {
  const std::string& state = s->state;
  bridge::ServerOptions& so = s->so;
  std::string& tokens_path = s->tokens_path;
  // Tokens: the file given, else DIR/tokens, made with one admin token.
  tokens_path = setting("tokens", "tokens");
  std::string text;
  if (tokens_path.empty()) {
    tokens_path = state + "/tokens";
    std::error_code ec;
    if (!std::filesystem::exists(tokens_path, ec)) {
      if (!bridge::WritePrivate(tokens_path,
                                "# ROLE TOKEN NAME (roles: admin, pos)\nadmin " + bridge::NewToken() + " admin\n")) {
        return Fail("cannot write " + tokens_path);
      }
      std::fprintf(stderr, "fr-bridge: made %s with a new admin token (readable by this user only)\n",
                   tokens_path.c_str());
    }
  }
  if (!ReadFile(tokens_path, &text)) return Fail("cannot read " + tokens_path);
  std::string how, fix;
  if (bridge::OpenToOthers(tokens_path, &how, &fix)) {
    std::fprintf(stderr,
                 "fr-bridge: WARNING: %s is open to other users (%s): anyone who reads it holds its tokens; %s\n",
                 tokens_path.c_str(), how.c_str(), fix.c_str());
  }
  const host::Status parsed = bridge::ParseTokens(text, &so.tokens);
  if (!parsed.ok()) return Fail(tokens_path + ": " + parsed.ToString());
  if (so.tokens.empty()) return Fail(tokens_path + " has no token");

  // The key of the request hashes, so the journal gives no password away.
  const std::string secret_path = state + "/secret";
  if (!ReadFile(secret_path, &so.secret) || so.secret.size() < 32) {
    so.secret = bridge::NewToken();
    if (!bridge::WritePrivate(secret_path, so.secret)) return Fail("cannot write " + secret_path);
  }
  return 0;
}

// The back office's broker, when there is one.
int ReadUplink(const Source& setting, Settings* s) {
  const std::string url = setting("uplink", "uplink");
  if (url.empty()) {
    if (!setting("site", "site").empty()) return Fail("--site needs --uplink");
    return 0;
  }
  bridge::UplinkOptions& u = s->uplink_options;
  const host::Status parsed = host::ParseBrokerUrl(url, &u.broker);
  if (!parsed.ok()) return Fail("--uplink: " + parsed.ToString());
  u.site = setting("site", "site");
  if (!bridge::ValidSite(u.site)) return Fail("--site NAME: 1 to 64 of a-z 0-9 _ -, not '" + u.site + "'");
  u.broker.ca_file = setting("uplink-ca", "uplink_ca");
  if (!u.broker.ca_file.empty() && !std::ifstream(u.broker.ca_file)) {
    return Fail("cannot read " + u.broker.ca_file);
  }
  const std::string credentials = setting("uplink-credentials", "uplink_credentials");
  if (!credentials.empty()) {
    std::string text;
    if (!ReadFile(credentials, &text)) return Fail("cannot read " + credentials);
    std::string how, fix;
    if (bridge::OpenToOthers(credentials, &how, &fix)) {
      std::fprintf(stderr, "fr-bridge: WARNING: %s is open to other users (%s); %s\n", credentials.c_str(), how.c_str(),
                   fix.c_str());
    }
    const host::Status read = host::ParseBrokerCredentials(text, &u.broker);
    if (!read.ok()) return Fail(credentials + ": " + read.ToString());
  }
  u.max_request_bytes = s->so.limits.body_bytes;
  s->uplink = true;
  return 0;
}

int OpenLog(const Source& setting, Settings* s) {
  s->log_path = setting("log", "log");
  return 0;
}

int Serve(Settings* s) {
  std::vector<bridge::RegisterConfig>& registers = s->registers;
  const bridge::ServerOptions& so = s->so;
  const std::string& state = s->state;
  const std::string& tokens_path = s->tokens_path;
  if (!bridge::net::Start()) return Fail("no sockets on this system");
  bridge::PrepareStop();  // before any thread starts

  bridge::Log log(stderr);
  if (!s->log_path.empty() && !log.Open(s->log_path)) return Fail("cannot open " + s->log_path);
  bridge::Journal journal;
  const host::Status opened = journal.Open(state + "/journal.sqlite");
  if (!opened.ok()) return Fail(opened.ToString());
  if (!journal.lost().empty()) {
    std::fprintf(stderr,
                 "fr-bridge: WARNING: %s; requests with an Idempotency-Key are refused until it is restored or a "
                 "person runs fr-bridge journal reset --state %s\n",
                 journal.lost().c_str(), state.c_str());
  }
  bridge::Events events(events_kept);
  bridge::Metrics metrics;
  bridge::Server server(so, &journal, &events, &metrics, &log);
  std::vector<std::unique_ptr<bridge::Worker>> workers;
  // The receipt preview's tables, the bridge's own copy of what it read.
  const std::string preview_dir = state + "/preview";
  if (!bridge::MakePrivateDirectory(preview_dir)) return Fail("cannot make " + preview_dir);
  for (auto& r : registers) {
    r.max_queue = register_queue;
    r.preview_dir = preview_dir;
    workers.push_back(std::make_unique<bridge::Worker>(r, &journal, &events, &metrics, &log));
    server.AddWorker(workers.back().get());
  }
  for (const bridge::JournalEntry& e : journal.Unfinished()) server.AddInDoubt(e);
  journal.KeepOutbox(s->uplink);
  std::vector<std::unique_ptr<bridge::Uplink>> uplinks;
  if (s->uplink) {
    for (auto& w : workers) {
      uplinks.push_back(std::make_unique<bridge::Uplink>(s->uplink_options, &server, w.get(), &journal, &events, &log));
    }
  }
  const host::Status bound = server.Bind();
  if (!bound.ok()) return Fail(bound.ToString());
  for (auto& w : workers) w->Start();
  for (auto& u : uplinks) {
    const host::Status started = u->Start();
    if (!started.ok()) return Fail(started.ToString());
  }
  const bool tls = !so.tls_cert.empty();
  std::fprintf(stderr, "fr-bridge: listening on %s://%s:%d/ (tokens in %s)\n", tls ? "https" : "http", so.host.c_str(),
               server.port(), tokens_path.c_str());
  if (!tls && !IsLoopback(so.host)) {
    std::fprintf(stderr,
                 "fr-bridge: WARNING: serving plain HTTP beyond this machine on %s: tokens and receipts cross the "
                 "network readable by anyone on it; give --tls-cert and --tls-key\n",
                 so.host.c_str());
  }

  std::thread stopper([&] {
    bridge::WaitForStop();
    server.Stop();
  });
  server.Run();
  bridge::RequestStop();  // when the server ended by itself
  stopper.join();
  for (auto& u : uplinks) u->Stop();
  for (auto& w : workers) w->Stop();
  return 0;
}

// The bridge itself, with main's arguments; the Windows service runs it too.
int RunBridge(int argc, char** argv) {
  cxxopts::Options options("fr-bridge", "Registers behind an HTTP/JSON interface.");
  options.add_options()("register", "a register and its line, NAME=DEVICE (repeatable)",
                        cxxopts::value<std::vector<std::string>>())(
      "emu", "the register NAME is the virtual one in fr-emu's DIR, NAME=DIR",
      cxxopts::value<std::vector<std::string>>())("listen", "HOST:PORT to listen on", cxxopts::value<std::string>())(
      "state", "the journal's and the default token file's directory", cxxopts::value<std::string>())(
      "tokens", "bearer tokens, lines of ROLE TOKEN NAME", cxxopts::value<std::string>())(
      "allow-origin", "a browser origin that may call the bridge (repeatable)",
      cxxopts::value<std::vector<std::string>>())(
      "allow-host", "a name besides the listening address that requests may give as Host (repeatable)",
      cxxopts::value<std::vector<std::string>>())("tls-cert", "serve HTTPS with this PEM certificate (chain)",
                                                  cxxopts::value<std::string>())(
      "tls-key", "the certificate's PEM private key", cxxopts::value<std::string>())(
      "config", "the same settings as JSON", cxxopts::value<std::string>())(
      "log", "the JSON log lines' file (standard error unless given)", cxxopts::value<std::string>())(
      "uplink", "the back office's MQTT broker, mqtt://HOST:PORT or mqtts://HOST:PORT", cxxopts::value<std::string>())(
      "site", "this shop's name under the broker's fr/v1/ (a-z 0-9 _ -)", cxxopts::value<std::string>())(
      "uplink-credentials", "a file of one line USER PASSWORD for the broker", cxxopts::value<std::string>())(
      "uplink-ca", "the broker's CA certificate (PEM) for mqtts://", cxxopts::value<std::string>())(
      "wait", "seconds a request waits for its job before 504", cxxopts::value<int>()->default_value("60"))(
      "routes", "print the routes served and exit")("h,help", "this text");
  cxxopts::ParseResult p;
  try {
    p = options.parse(argc, argv);
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
  if (p.count("help")) {
    std::cout << options.help() << "\nSee docs/bridge.md.\n";
    return 0;
  }
  if (p.count("routes")) {
    for (const std::string& r : bridge::Server::Routes()) std::cout << r << "\n";
    return 0;
  }

  json config = json::object();
  if (int rc = ReadConfig(p, &config)) return rc;
  const Source setting{p, config};
  Settings s;
  for (auto step : {ReadRegisters, ReadServing, ReadUplink, PrepareState, LoadSecrets, OpenLog}) {
    if (int rc = step(setting, &s)) return rc;
  }
  return Serve(&s);
}

}  // namespace

int main(int raw_argc, char** raw_argv) {
  host::Arguments args(raw_argc, raw_argv);
  const int argc = args.argc();
  char** const argv = args.argv();
  if (argc > 1 && std::string(argv[1]) == "journal") return JournalCommand(argc, argv);
  if (argc > 1 && std::string(argv[1]) == "service") return bridge::RunServiceCommand(argc - 1, argv + 1, RunBridge);
  return RunBridge(argc, argv);
}
