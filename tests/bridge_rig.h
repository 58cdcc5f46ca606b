// fr-bridge and fr-emu as processes, for end-to-end tests of the bridge:
// the rig, the test tokens, and the register's preparation for a day.
//
// FR_BRIDGE_RECORD names a file where every answer is kept (one JSON line
// each) for the interface document's check. FR_BRIDGE_WINDOWS names a
// Windows build's fr-bridge.exe: the rig runs it under wine64 in the Linux
// bridge's place, reaching main's register through fr-emu's TCP port, or
// with FR_BRIDGE_COM=N through COMN, which wine maps to main's line.
#ifndef FR_TESTS_BRIDGE_RIG_H_
#define FR_TESTS_BRIDGE_RIG_H_

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include "platform/env.h"
#include "tools/common/archive_check.h"
#include "tools/common/device_process.h"
#include "tools/common/sandbox.h"
#include "tools/sim/test_util.h"

namespace bridgetest {

namespace fs = std::filesystem;
using nlohmann::json;
using sim::Eventually;

inline const std::string kBin = fs::path(FR_CORE_PATH).parent_path().string();
constexpr const char* kAdmin = "admin-token-0123456789abcdef";
constexpr const char* kPos = "pos-token-0123456789abcdef";
constexpr int kSecretPassword = 731953;  // must never show in a log or the journal
constexpr const char* kWine = "/usr/lib/wine/wine64";  // Debian's wine64

inline int EnvInt(const char* name, int fallback) {
  const char* v = std::getenv(name);
  return v != nullptr && *v != '\0' ? std::atoi(v) : fallback;
}

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// An answer as the test sees it.
struct Got {
  int status = 0;  // 0: no answer (connection refused, time-out)
  json body;
  httplib::Headers headers;
  std::string error;  // why there was no answer
};

// fr-emu on a fresh board and fr-bridge in front of it, each a process;
// with more registers, one fr-emu each, named main, main2, main3...
class BridgeRig {
 public:
  explicit BridgeRig(int registers = 1) {
    fs::create_directories(state_);
    std::ofstream(state_ + "/tokens") << "# test tokens\nadmin " << kAdmin << " tests\npos " << kPos << " till 1\n";
    for (int i = 1; i < registers; ++i) {
      others_.push_back({"main" + std::to_string(i + 1), board_ + std::to_string(i + 1),
                         std::make_unique<sim::DeviceProcess>()});
    }
    const char* com = std::getenv("FR_BRIDGE_COM");
    if (!windows_bridge_.empty() && com != nullptr && *com != '\0') {
      const char* prefix = std::getenv("WINEPREFIX");
      const fs::path link = fs::path(prefix != nullptr ? prefix : "") / "dosdevices" / ("com" + std::string(com));
      fs::remove(link);
      fs::create_symlink(board_ + "/host", link);
      AddBridgeArgs({"--register", "main=COM" + std::string(com)});
    } else if (!windows_bridge_.empty()) {
      const int emu_port = sim::FreeLoopbackPort();
      UseTcpLine(emu_port, emu_port);
    }
  }

  // From the next start: fr-emu serves main's line on `emu_port` too, and the
  // bridge reaches it at tcp://127.0.0.1:`port` (the emulator's, or a
  // proxy's in front of it).
  void UseTcpLine(int emu_port, int port) {
    emu_args_ = {"--tcp", std::to_string(emu_port)};
    AddBridgeArgs({"--register", "main=tcp://127.0.0.1:" + std::to_string(port)});
  }

  void Start() {
    std::vector<std::string> emu_args = {board_};
    emu_args.insert(emu_args.end(), emu_args_.begin(), emu_args_.end());
    ASSERT_TRUE(emu_.Start(kBin + "/fr-emu", emu_args, board_, tmp_.dir() + "/emu-log"));
    ASSERT_TRUE(emu_.WaitForStdout("host line: " + board_ + "/host", 10000)) << emu_.Stderr();
    for (Other& o : others_) {
      ASSERT_TRUE(o.emu->Start(kBin + "/fr-emu", {o.board}, o.board, o.board + "-log"));
      ASSERT_TRUE(o.emu->WaitForStdout("host line: " + o.board + "/host", 10000)) << o.emu->Stderr();
    }
    StartBridge();
  }

  // The bridge serves HTTPS from the next start on.
  void UseTls(const std::string& cert, const std::string& key) {
    AddBridgeArgs({"--tls-cert", cert, "--tls-key", key});
    scheme_ = "https";
  }
  // Options given to every later start of the bridge, after the rig's own.
  void AddBridgeArgs(const std::vector<std::string>& args) {
    extra_args_.insert(extra_args_.end(), args.begin(), args.end());
  }

  void StartBridge() {
    std::vector<std::string> args = {"--emu", "main=" + board_, "--state", state_, "--listen",
                                     "127.0.0.1:" + std::to_string(port_), "--allow-origin", "http://till.example",
                                     "--log", log_, "--wait", "20"};
    for (const Other& o : others_) args.insert(args.end(), {"--emu", o.name + "=" + o.board});
    args.insert(args.end(), extra_args_.begin(), extra_args_.end());
    std::string program = kBin + "/fr-bridge";
    if (!windows_bridge_.empty()) {
      args.insert(args.begin(), windows_bridge_);
      program = kWine;
    }
    ASSERT_TRUE(bridge_.Start(program, args, board_, tmp_.dir() + "/bridge-log" + std::to_string(starts_++)));
    ASSERT_TRUE(Eventually(
        [&] {
          const Got h = Call("GET", "/healthz");
          if (!h.body.is_object() || h.body["registers"]["main"] != "online") return false;  // degraded too
          for (const Other& o : others_) {
            if (h.body["registers"][o.name] != "online") return false;
          }
          return true;
        },
        20000))
        << bridge_.Stderr();
  }

  void KillBridge() { bridge_.Kill(SIGKILL); }

  Got Call(const std::string& method, const std::string& path, const json& body = nullptr,
           httplib::Headers headers = {}, const char* token = kAdmin, int timeout_s = 30) {
    httplib::Client c(scheme_ + "://127.0.0.1:" + std::to_string(port_));
    c.enable_server_certificate_verification(false);  // the tests' own certificate
    c.set_connection_timeout(2, 0);
    c.set_read_timeout(timeout_s, 0);
    if (token != nullptr) headers.emplace("Authorization", std::string("Bearer ") + token);
    const std::string text = body.is_null() ? "" : body.dump();
    httplib::Result r = method == "GET"    ? c.Get(path.c_str(), headers)
                        : method == "PUT"  ? c.Put(path.c_str(), headers, text, "application/json")
                        : method == "POST" ? c.Post(path.c_str(), headers, text, "application/json")
                                           : c.Options(path.c_str(), headers);
    Got g;
    if (!r) {
      g.error = httplib::to_string(r.error());
      return g;
    }
    g.status = r->status;
    g.headers = r->headers;
    g.body = json::parse(r->body, nullptr, false);
    Record(method, path, r->status, r->get_header_value("Content-Type"), g.body);
    return g;
  }
  Got Post(const std::string& path, const json& body, const std::string& key = "", const char* token = kAdmin) {
    return PostTo("main", path, body, key, token);
  }
  Got PostTo(const std::string& register_name, const std::string& path, const json& body, const std::string& key = "",
             const char* token = kAdmin) {
    httplib::Headers h;
    if (!key.empty()) h.emplace("Idempotency-Key", key);
    return Call("POST", "/v1/registers/" + register_name + path, body, h, token);
  }

  sim::ArchiveCheck Archive(const std::string& register_name = "main") {
    auto env = platform::NewSandboxEnv(board(register_name));
    return sim::CheckArchive(env.get());
  }
  // Lines of the bridge's log that describe a job on the register.
  size_t JobLines() {
    std::istringstream in(ReadAll(log_));
    size_t n = 0;
    for (std::string line; std::getline(in, line);) n += line.find("\"job\"") != std::string::npos;
    return n;
  }

  int port() const { return port_; }
  sim::DeviceProcess& emu() { return emu_; }
  sim::DeviceProcess& bridge() { return bridge_; }
  const std::string& dir() const { return tmp_.dir(); }
  const std::string& board() const { return board_; }
  const std::string& board(const std::string& register_name) const {
    for (const Other& o : others_) {
      if (o.name == register_name) return o.board;
    }
    return board_;
  }
  std::vector<std::string> registers() const {
    std::vector<std::string> names = {"main"};
    for (const Other& o : others_) names.push_back(o.name);
    return names;
  }
  const std::string& state() const { return state_; }
  const std::string& log() const { return log_; }

 private:
  // Every answer, for the interface document's check.
  static void Record(const std::string& method, const std::string& path, int status, const std::string& type,
                     const json& body) {
    const char* file = std::getenv("FR_BRIDGE_RECORD");
    if (file == nullptr || *file == '\0') return;
    static std::mutex mu;
    std::lock_guard<std::mutex> l(mu);
    std::ofstream(file, std::ios::app) << json({{"method", method}, {"route", path.substr(0, path.find('?'))},
                                                {"status", status}, {"content_type", type},
                                                {"body", body.is_discarded() ? json(nullptr) : body}})
                                              .dump()
                                       << "\n";
  }

  sim::Sandbox tmp_ = sim::Sandbox::Temp();
  const std::string board_ = tmp_.dir() + "/board";
  const std::string state_ = tmp_.dir() + "/state";
  const std::string log_ = tmp_.dir() + "/bridge.log";
  const int port_ = sim::FreeLoopbackPort();
  const std::string windows_bridge_ = std::getenv("FR_BRIDGE_WINDOWS") ? std::getenv("FR_BRIDGE_WINDOWS") : "";
  int starts_ = 0;
  std::vector<std::string> extra_args_;
  std::vector<std::string> emu_args_;
  std::string scheme_ = "http";
  sim::DeviceProcess emu_;
  sim::DeviceProcess bridge_;
  struct Other {
    std::string name, board;
    std::unique_ptr<sim::DeviceProcess> emu;
  };
  std::vector<Other> others_;  // registers beyond main
};

inline json Cashier(int password = 30) { return {{"number", 20}, {"password", password}, {"name", "Иванова"}}; }

inline json Line(const std::string& name, int64_t price, json quantity, int tax, int discount = 0) {
  json l = {{"name", name}, {"price", price}, {"quantity", quantity}, {"tax", tax}, {"section", 1}};
  if (discount != 0) l["discount"] = discount;
  return l;
}

// Serial number, registration with two tax rates, a 5 % discount.
inline void Prepare(BridgeRig* rig, const std::string& serial = "4200012345", const std::string& register_name = "main") {
  const std::string base = "/v1/registers/" + register_name;
  ASSERT_EQ(rig->Call("PUT", base + "/serial-number", {{"serial", serial}}).status, 200);
  const json reg = {{"inn", "7701234567"},
                    {"fn", "9999078900012345"},
                    {"texts", {"ООО Ромашка", "ул. Лесная, 1", "Москва"}},
                    {"tax_rates", {{{"number", 1}, {"type", 1}, {"rate", 2000}, {"name", "НДС 20%"}},
                                   {{"number", 2}, {"type", 1}, {"rate", 1000}, {"name", "НДС 10%"}}}}};
  const Got r = rig->PostTo(register_name, "/registration", reg, "registration-" + register_name);
  ASSERT_EQ(r.status, 201) << r.body.dump();
  ASSERT_EQ(rig->Call("PUT", base + "/tables/discounts/1",
                      {{"type", "percent"}, {"value", 500}, {"name", "СКИДКА 5%"}})
                .status,
            200);
}

}  // namespace bridgetest

#endif  // FR_TESTS_BRIDGE_RIG_H_
