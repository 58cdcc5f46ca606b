// The Windows service: the service manager's calls (advapi32) around the
// bridge's own main.
#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "bridge/files_win.h"
#include "bridge/service.h"
#include "bridge/stop.h"
#include "util/system_error.h"

namespace bridge {
namespace {

constexpr char kName[] = "fr-bridge";
constexpr char kDisplayName[] = "fr-bridge (cash registers over HTTP)";
constexpr char kDescription[] =
    "Serves the cash registers of this till to POS programs over HTTP/JSON; state and log in "
    "%ProgramData%\\fr-bridge.";
constexpr char kDefaultAccount[] = "NT AUTHORITY\\LocalService";
constexpr char kEventSourceKey[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\fr-bridge";
constexpr DWORD kWaitMs = 30000;

int Usage() {
  std::fprintf(
      stderr,
      "usage: fr-bridge service install [--account NAME [--password-file FILE]] [bridge options]\n"
      "       fr-bridge service uninstall|start|stop\n"
      "       fr-bridge service configure [--register NAME=ADDRESS] [--listen HOST:PORT]   (for the installer)\n"
      "       fr-bridge service unconfigure [--purge]                 (for the installer)\n");
  return 2;
}

int Fail(const std::string& what, DWORD code) {
  std::fprintf(stderr, "fr-bridge service: %s: %s\n", what.c_str(), util::SystemMessage(code).c_str());
  return 1;
}

// The known folder, not the environment's %ProgramData%: a service's
// environment is not always the installer's.
std::string StateFolder() {
  std::string base = "C:\\ProgramData";
  wchar_t* path = nullptr;
  if (SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &path) == S_OK) {
    char narrow[MAX_PATH] = {};
    if (WideCharToMultiByte(CP_ACP, 0, path, -1, narrow, sizeof narrow, nullptr, nullptr) > 0) base = narrow;
  }
  CoTaskMemFree(path);
  return base + "\\fr-bridge";
}

std::string ProgramPath() {
  char path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  return std::string(path, n);
}

// One argument as CommandLineToArgvW and the C runtime read it back.
std::string Quote(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  return out + "\"";
}

struct Handle {
  SC_HANDLE h;
  explicit Handle(SC_HANDLE handle) : h(handle) {}
  ~Handle() {
    if (h != nullptr) CloseServiceHandle(h);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
};

// Restarts after 5 s, 30 s and 60 s, the count starting again after a day
// without a failure; a bridge that ends with a non-zero status counts as
// failed too, not only one that crashes. Start, stop and failure reach the
// event log through EventCreate.exe's messages, which print the text given.
int Configure(SC_HANDLE service, const std::string& account) {
  SERVICE_DESCRIPTIONA description = {const_cast<char*>(kDescription)};
  SC_ACTION actions[3] = {{SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 30000}, {SC_ACTION_RESTART, 60000}};
  SERVICE_FAILURE_ACTIONSA failure = {24 * 3600, nullptr, nullptr, 3, actions};
  SERVICE_FAILURE_ACTIONS_FLAG on_exit = {TRUE};
  if (!ChangeServiceConfig2A(service, SERVICE_CONFIG_DESCRIPTION, &description)) {
    return Fail("cannot describe the service", GetLastError());
  }
  if (!ChangeServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure)) {
    return Fail("cannot set the service's restarts", GetLastError());
  }
  if (!ChangeServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &on_exit)) {
    // Windows has it since Vista; Wine has not: there a crash still counts.
    std::fprintf(stderr, "fr-bridge service: WARNING: restarted after a crash only, not after a failed exit: %s\n",
                 util::SystemMessage(GetLastError()).c_str());
  }
  HKEY key = nullptr;
  LSTATUS rc =
      RegCreateKeyExA(HKEY_LOCAL_MACHINE, kEventSourceKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
  if (rc == ERROR_SUCCESS) {
    static const char kMessages[] = "%SystemRoot%\\System32\\EventCreate.exe";
    const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
    rc = RegSetValueExA(key, "EventMessageFile", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(kMessages),
                        sizeof kMessages);
    if (rc == ERROR_SUCCESS) {
      rc = RegSetValueExA(key, "TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types), sizeof types);
    }
    RegCloseKey(key);
  }
  if (rc != ERROR_SUCCESS) return Fail("cannot register the event log source", static_cast<DWORD>(rc));
  const std::string state = StateFolder();
  if (!MakeDirectoryPrivateTo(state, account)) {
    return Fail("cannot make " + state + " " + account + "'s", GetLastError());
  }
  std::printf("fr-bridge service: %s runs as %s; its state is in %s\n", kName, account.c_str(), state.c_str());
  return 0;
}

// Waits until the service is in `want` (or has stopped on its way).
bool WaitFor(SC_HANDLE service, DWORD want) {
  SERVICE_STATUS_PROCESS status = {};
  DWORD size = 0;
  for (DWORD waited = 0; waited <= kWaitMs; waited += 250) {
    if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                              &size)) {
      return false;
    }
    if (status.dwCurrentState == want) return true;
    if (status.dwCurrentState == SERVICE_STOPPED) return false;
    Sleep(250);
  }
  return false;
}

int Install(const std::vector<std::string>& args) {
  std::string account = kDefaultAccount, password_file;
  std::string command = Quote(ProgramPath()) + " service run";
  for (size_t i = 0; i < args.size(); ++i) {
    if ((args[i] == "--account" || args[i] == "--password-file") && i + 1 < args.size()) {
      (args[i] == "--account" ? account : password_file) = args[i + 1];
      ++i;
    } else {
      command += " " + Quote(args[i]);
    }
  }
  std::string password;
  if (!password_file.empty()) {
    std::ifstream in(password_file);
    if (!std::getline(in, password)) {
      std::fprintf(stderr, "fr-bridge service: cannot read %s\n", password_file.c_str());
      return 1;
    }
    if (!password.empty() && password.back() == '\r') password.pop_back();
  }
  Handle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
  if (manager.h == nullptr) return Fail("cannot reach the service manager (run as an administrator)", GetLastError());
  Handle service(CreateServiceA(manager.h, kName, kDisplayName, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr, nullptr,
                                account.c_str(), password_file.empty() ? nullptr : password.c_str()));
  SecureZeroMemory(&password[0], password.size());
  if (service.h == nullptr) {
    const DWORD e = GetLastError();
    if (e == ERROR_SERVICE_EXISTS) {
      std::fprintf(stderr, "fr-bridge service: %s is installed already; 'fr-bridge service uninstall' first\n", kName);
      return 1;
    }
    return Fail("cannot install " + std::string(kName), e);
  }
  return Configure(service.h, account);
}

// The settings the installer's service starts with, when there are none
// yet: the register it was told of, served where it was told.
int WriteSettings(const std::string& register_arg, const std::string& listen) {
  const std::string path = StateFolder() + "\\fr-bridge.json";
  if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) return 0;  // the shop's own: kept
  const size_t eq = register_arg.find('=');
  if (eq == std::string::npos || eq == 0 || eq + 1 == register_arg.size()) {
    std::fprintf(stderr, "fr-bridge service: --register NAME=ADDRESS: %s\n", register_arg.c_str());
    return 2;
  }
  const nlohmann::json settings = {
      {"listen", listen},
      {"registers", {{{"name", register_arg.substr(0, eq)}, {"device", register_arg.substr(eq + 1)}}}}};
  std::ofstream out(path, std::ios::binary);
  out << settings.dump(2) << "\n";
  if (!out.flush()) {
    std::fprintf(stderr, "fr-bridge service: cannot write %s\n", path.c_str());
    return 1;
  }
  std::printf("fr-bridge service: wrote %s\n", path.c_str());
  return 0;
}

int ConfigureInstalled(const std::vector<std::string>& args) {
  std::string register_arg, listen = "127.0.0.1:8780";
  for (size_t i = 0; i < args.size(); ++i) {
    if ((args[i] != "--register" && args[i] != "--listen") || i + 1 == args.size()) return Usage();
    (args[i] == "--register" ? register_arg : listen) = args[i + 1];
    ++i;
  }
  Handle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (manager.h == nullptr) return Fail("cannot reach the service manager (run as an administrator)", GetLastError());
  Handle service(OpenServiceA(manager.h, kName, SERVICE_ALL_ACCESS));
  if (service.h == nullptr) return Fail("no service " + std::string(kName), GetLastError());
  std::vector<BYTE> buffer(8192);
  DWORD size = 0;
  if (!QueryServiceConfigA(service.h, reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data()),
                           static_cast<DWORD>(buffer.size()), &size)) {
    return Fail("cannot read the service's settings", GetLastError());
  }
  const char* account = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data())->lpServiceStartName;
  const int rc = Configure(service.h, account != nullptr && account[0] != '\0' ? account : "LocalSystem");
  return rc != 0 || register_arg.empty() ? rc : WriteSettings(register_arg, listen);
}

// What Configure left beside the service: the event log source, and with
// `purge` the state folder.
int Unconfigure(const std::vector<std::string>& args) {
  const bool purge = args.size() == 1 && args[0] == "--purge";
  if (!args.empty() && !purge) return Usage();
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kEventSourceKey);
  if (!purge) return 0;
  std::error_code error;
  std::filesystem::remove_all(StateFolder(), error);
  if (error) {
    std::fprintf(stderr, "fr-bridge service: cannot remove %s: %s\n", StateFolder().c_str(), error.message().c_str());
    return 1;
  }
  std::printf("fr-bridge service: removed %s\n", StateFolder().c_str());
  return 0;
}

int Control(const std::string& verb) {
  Handle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (manager.h == nullptr) return Fail("cannot reach the service manager", GetLastError());
  const DWORD rights = SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS | (verb == "uninstall" ? DELETE : 0);
  Handle service(OpenServiceA(manager.h, kName, rights));
  if (service.h == nullptr) return Fail("no service " + std::string(kName), GetLastError());
  if (verb == "start") {
    if (!StartServiceA(service.h, 0, nullptr) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
      return Fail("cannot start " + std::string(kName), GetLastError());
    }
    if (!WaitFor(service.h, SERVICE_RUNNING)) {
      std::fprintf(stderr, "fr-bridge service: %s did not start; see %s\\fr-bridge.log and the event log\n", kName,
                   StateFolder().c_str());
      return 1;
    }
    return 0;
  }
  SERVICE_STATUS status = {};
  const bool asked = ControlService(service.h, SERVICE_CONTROL_STOP, &status) != 0;
  const DWORD why = asked ? 0 : GetLastError();
  const bool stopped = why == ERROR_SERVICE_NOT_ACTIVE || (asked && WaitFor(service.h, SERVICE_STOPPED));
  if (verb == "stop") {
    if (!asked && !stopped) return Fail("cannot stop " + std::string(kName), why);
    if (!stopped) std::fprintf(stderr, "fr-bridge service: %s did not stop within %lu s\n", kName, kWaitMs / 1000);
    return stopped ? 0 : 1;
  }
  // Removed all the same: the manager deletes it once its process is gone.
  if (!stopped) std::fprintf(stderr, "fr-bridge service: WARNING: %s did not stop; removed once it has\n", kName);
  if (!DeleteService(service.h)) return Fail("cannot remove " + std::string(kName), GetLastError());
  Unconfigure({});
  std::printf("fr-bridge service: %s removed; its state stays in %s\n", kName, StateFolder().c_str());
  return 0;
}

// ---- what the service manager starts ----------------------------------------

ServeFunction g_serve = nullptr;
std::vector<std::string> g_args;
SERVICE_STATUS_HANDLE g_status = nullptr;
int g_exit = 0;

void Report(DWORD state, DWORD exit_status = 0) {
  SERVICE_STATUS s = {};
  s.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  s.dwCurrentState = state;
  s.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
  s.dwWin32ExitCode = exit_status == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
  s.dwServiceSpecificExitCode = exit_status;
  s.dwWaitHint = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ? kWaitMs : 0;
  SetServiceStatus(g_status, &s);
}

void Event(WORD type, const std::string& text) {
  HANDLE log = RegisterEventSourceA(nullptr, kName);
  if (log == nullptr) return;
  const char* strings[] = {text.c_str()};
  ReportEventA(log, type, 0, type == EVENTLOG_ERROR_TYPE ? 1 : 2, nullptr, 1, 0, strings, nullptr);
  DeregisterEventSource(log);
}

DWORD WINAPI OnControl(DWORD control, DWORD, void*, void*) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      Report(SERVICE_STOP_PENDING);
      RequestStop();
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE: return NO_ERROR;
    default: return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

bool Has(const std::vector<std::string>& args, const char* option) {
  for (const std::string& a : args) {
    if (a == option || a.compare(0, std::string(option).size() + 1, std::string(option) + "=") == 0) return true;
  }
  return false;
}

// The service's command line: what it was installed with, and where the
// state folder is what a console run would take from the working folder.
std::vector<std::string> ServiceArguments() {
  const std::string state = StateFolder();
  std::vector<std::string> args = {"fr-bridge"};
  args.insert(args.end(), g_args.begin(), g_args.end());
  nlohmann::json config = nlohmann::json::object();
  if (!Has(g_args, "--config") && !Has(g_args, "--register")) {
    args.push_back("--config");
    args.push_back(state + "\\fr-bridge.json");
  }
  for (size_t i = 1; i + 1 < args.size(); ++i) {
    if (args[i] != "--config") continue;
    std::ifstream in(args[i + 1]);
    config = nlohmann::json::parse(in, nullptr, false);
    if (!config.is_object()) config = nlohmann::json::object();
  }
  if (!Has(g_args, "--state") && !config.contains("state")) {
    args.push_back("--state");
    args.push_back(state);
  }
  if (!Has(g_args, "--log") && !config.contains("log")) {
    args.push_back("--log");
    args.push_back(state + "\\fr-bridge.log");
  }
  return args;
}

void WINAPI ServiceMain(DWORD, char**) {
  g_status = RegisterServiceCtrlHandlerExA(kName, OnControl, nullptr);
  if (g_status == nullptr) return;
  Report(SERVICE_START_PENDING);
  std::vector<std::string> args = ServiceArguments();
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  Report(SERVICE_RUNNING);
  Event(EVENTLOG_INFORMATION_TYPE, "fr-bridge started");
  g_exit = g_serve(static_cast<int>(args.size()), argv.data());
  if (g_exit == 0) {
    Event(EVENTLOG_INFORMATION_TYPE, "fr-bridge stopped");
  } else {
    Event(EVENTLOG_ERROR_TYPE,
          "fr-bridge failed with exit status " + std::to_string(g_exit) + "; see " + StateFolder() + "\\fr-bridge.log");
  }
  Report(SERVICE_STOPPED, static_cast<DWORD>(g_exit));
}

int Run(const std::vector<std::string>& args, ServeFunction serve) {
  g_serve = serve;
  g_args = args;
  SERVICE_TABLE_ENTRYA table[] = {{const_cast<char*>(kName), ServiceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherA(table)) {
    if (GetLastError() == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) {
      std::fprintf(stderr,
                   "fr-bridge service run: only the service manager starts this; 'fr-bridge service start' "
                   "asks it to, and fr-bridge without 'service' serves in this console\n");
      return 2;
    }
    return Fail("cannot reach the service manager", GetLastError());
  }
  return g_exit;
}

}  // namespace

int RunServiceCommand(int argc, char** argv, ServeFunction serve) {
  const std::string verb = argc > 1 ? argv[1] : "";
  const std::vector<std::string> rest(argv + (argc > 1 ? 2 : 1), argv + argc);
  if (verb == "install") return Install(rest);
  if (verb == "configure") return ConfigureInstalled(rest);
  if (verb == "unconfigure") return Unconfigure(rest);
  if ((verb == "uninstall" || verb == "start" || verb == "stop") && rest.empty()) return Control(verb);
  if (verb == "run") return Run(rest, serve);
  return Usage();
}

}  // namespace bridge
