// fr-core: the fiscal core of the register.
//   fr-core       normal run: command core on the main thread, host link on
//                 a detached thread; never returns
//   fr-core -c    wipe the identity EEPROM, then dump it
//   fr-core -d    dump the identity EEPROM
//   fr-core -s    host link alone in the foreground
// Only the first argument counts. FR_ROOT=<dir> runs on the sandbox board.
// Every mode first takes the board's lock: one fr-core per board, since two
// would write one archive and one EEPROM.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "app/core_link_state.h"
#include "app/core_worker.h"
#include "app/eeprom_tool.h"
#include "app/fr_status.h"
#include "link/host_link.h"
#include "platform/env.h"

#ifdef FR_COVERAGE
extern "C" void __gcov_dump();
extern "C" void __gcov_reset();
#endif

namespace {

#ifdef FR_COVERAGE
// Coverage builds only: the tests end the device with SIGKILL, which leaves
// no exit for the counts to be written at, so they go out every 100 ms; and
// a SIGTERM (a test's orderly end) writes the last of them before exiting.
// SIGTERM is blocked in every thread and taken here alone.
void WriteCoverageCounts() {
  sigset_t term;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &term, nullptr);
  std::thread([term] {
    const struct timespec wait = {0, 100 * 1000 * 1000};
    for (;;) {
      const bool ending = sigtimedwait(&term, nullptr, &wait) == SIGTERM;
      __gcov_dump();
      __gcov_reset();
      if (ending) _exit(0);
    }
  }).detach();
}
#endif

int RunEepromMode(bool wipe, platform::Env* env) {
  std::string error;
  const bool ok = wipe ? eeprom::Wipe(env, &error) : eeprom::Dump(env, &error);
  if (!ok) {
    fprintf(stderr, "fr-core: %s\n", error.c_str());
    return 1;
  }
  return 0;
}

// Held for the life of the process; the kernel lets go when it ends.
constexpr const char* kBoardLock = "/run/fr-core/core.lock";

// Shared by both threads for the whole life of the process.
CoreLinkState g_link_state;

}  // namespace

int main(int argc, char** argv) {
  // Diagnostic lines reach a log file or pipe whole, even when the process
  // is killed right after one.
  setvbuf(stdout, nullptr, _IOLBF, 0);
#ifdef FR_COVERAGE
  WriteCoverageCounts();
#endif
  platform::Env* env = platform::Env::Default();
  const std::string mode = argc > 1 ? argv[1] : "";
  int64_t holder = 0;
  std::string error;
  if (!env->LockFile(kBoardLock, &holder, &error)) {
    fprintf(stderr, "fr-core: %s; %s\n",
            holder != 0 ? "another fr-core runs on this board" : "the board's lock cannot be taken", error.c_str());
    return 1;
  }
  if (mode == "-c") return RunEepromMode(true, env);
  if (mode == "-d") return RunEepromMode(false, env);

  // The device clock may never be set before the program was built.
  int64_t build_time = 0;
  if (FrStatus::parseBuildTime(env, __DATE__ " " __TIME__, &build_time)) {
    FrStatus::setBuildTime(build_time);
  }
  env->SeedRandom(static_cast<unsigned>(env->Now()));  // identifiers hash rand()

  if (mode == "-s") {
    HostLink link(env, &g_link_state);
    link.run();
    return 0;
  }

  CoreWorker worker(env);
  worker.initialise();  // finishes before any host command is served
  std::thread([env] {
    HostLink link(env, &g_link_state);
    link.run();
  }).detach();
  worker.loop();
}
