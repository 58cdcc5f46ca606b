// fr-emu DIR: the virtual register for POS developers. See emulator.h.
// Ctrl-C or SIGTERM stops it; SIGHUP (or creating DIR/restart) restarts
// fr-core as a power cut would; DIR/lose-replies loses replies on the way.
#include <poll.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/emu/emulator.h"

namespace {

constexpr int kPollMillis = 200;
volatile sig_atomic_t g_stop = 0;
volatile sig_atomic_t g_restart = 0;

void OnSignal(int) { g_stop = 1; }
void OnHangUp(int) { g_restart = 1; }

const char kUsage[] =
    "usage: fr-emu DIR\n"
    "Runs a virtual register on a sandbox board kept in DIR (made when missing,\n"
    "reopened with its archive, key and tables when not). Ctrl-C stops it.\n"
    "  DIR/host           the register's line, for a POS program\n"
    "  DIR/paper/         what it printed, one set of files per cut\n"
    "  DIR/log/           fr-core's output\n"
    "  DIR/printer-state  ready, near-end, paper-out or silent\n"
    "  DIR/restart        created: fr-core is killed and started again\n"
    "  DIR/lose-replies   next-close (once) or share P [SEED]: replies lost\n"
    "                     on their way to the POS\n";

}  // namespace

int main(int argc, char** argv) {
  const std::string arg = argc == 2 ? argv[1] : "";
  if (arg == "--help" || arg == "-h") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  // An option is never a folder's name: "./-x" names such a folder.
  if (argc != 2 || arg.empty() || arg[0] == '-') {
    if (argc == 2 && !arg.empty()) std::fprintf(stderr, "fr-emu: unknown option %s\n", arg.c_str());
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
  std::printf("host line: %s\npaper: %s\n", emulator.host_path().c_str(), emulator.paper_dir().c_str());
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
  emulator.Stop();
  return status;
}
