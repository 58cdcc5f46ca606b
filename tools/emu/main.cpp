// fr-emu DIR [--tcp PORT]: the virtual register for POS developers. See
// emulator.h and tcp_line.h.
// Ctrl-C or SIGTERM stops it; SIGHUP (or creating DIR/restart) restarts
// fr-core as a power cut would; DIR/lose-replies loses replies on the way.
#include <poll.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/emu/emulator.h"
#include "tools/emu/tcp_line.h"

namespace {

constexpr int kPollMillis = 200;
volatile sig_atomic_t g_stop = 0;
volatile sig_atomic_t g_restart = 0;

void OnSignal(int) { g_stop = 1; }
void OnHangUp(int) { g_restart = 1; }

const char kUsage[] =
    "usage: fr-emu DIR [--tcp PORT]\n"
    "Runs a virtual register on a sandbox board kept in DIR (made when missing,\n"
    "reopened with its archive, key and tables when not). Ctrl-C stops it.\n"
    "  DIR/host           the register's line, for a POS program\n"
    "  --tcp PORT         the same line also on 127.0.0.1:PORT, one client at a\n"
    "                     time, as a serial device server serves it\n"
    "  DIR/paper/         what it printed, one set of files per cut\n"
    "  DIR/log/           fr-core's output\n"
    "  DIR/printer-state  ready, near-end, paper-out or silent\n"
    "  DIR/restart        created: fr-core is killed and started again\n"
    "  DIR/lose-replies   next-close (once) or share P [SEED]: replies lost\n"
    "                     on their way to the POS\n";

}  // namespace

int main(int argc, char** argv) {
  const std::string arg = argc >= 2 ? argv[1] : "";
  if (argc == 2 && (arg == "--help" || arg == "-h")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  // An option is never a folder's name: "./-x" names such a folder.
  int port = 0;
  const bool tcp = argc == 4 && std::string(argv[2]) == "--tcp";
  if (tcp) {
    char* end = nullptr;
    const long p = std::strtol(argv[3], &end, 10);
    port = *argv[3] != '\0' && *end == '\0' && p > 0 && p < 65536 ? static_cast<int>(p) : 0;
  }
  if ((argc != 2 && !tcp) || arg.empty() || arg[0] == '-' || (tcp && port == 0)) {
    if (argc == 2 && !arg.empty()) std::fprintf(stderr, "fr-emu: unknown option %s\n", arg.c_str());
    if (tcp && port == 0) std::fprintf(stderr, "fr-emu: --tcp takes a port, 1 to 65535\n");
    std::fputs(kUsage, stderr);
    return 2;
  }
  struct sigaction sa = {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sa.sa_handler = OnHangUp;
  sigaction(SIGHUP, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  const char* core = std::getenv("FR_CORE");
  emu::Emulator emulator(argv[1]);
  const std::string error = emulator.Start(core != nullptr && *core ? core : FR_CORE_PATH);
  if (!error.empty()) {
    std::fprintf(stderr, "fr-emu: %s\n", error.c_str());
    return 1;
  }
  emu::TcpLine tcp_line(emulator.host_path(), port);
  if (tcp) {
    const std::string failed = tcp_line.Start();
    if (!failed.empty()) {
      std::fprintf(stderr, "fr-emu: %s\n", failed.c_str());
      emulator.Stop();
      return 1;
    }
  }
  std::printf("host line: %s\npaper: %s\n", emulator.host_path().c_str(), emulator.paper_dir().c_str());
  if (tcp) std::printf("tcp line: 127.0.0.1:%d\n", port);
  std::fflush(stdout);

  int status = 0;
  while (!g_stop) {
    poll(nullptr, 0, kPollMillis);  // a signal ends the wait early
    if (g_restart) {
      g_restart = 0;
      emulator.RequestRestart();
    }
    if (!emulator.Poll()) {
      std::fprintf(stderr, "fr-emu: the device program keeps exiting; see %s/log/\n", argv[1]);
      status = 1;
      break;
    }
  }
  tcp_line.Stop();
  emulator.Stop();
  return status;
}
