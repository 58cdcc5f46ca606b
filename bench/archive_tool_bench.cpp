// fr-archive on a full archive (250 000 documents, made once by the
// generator): verify, and export to JSON, each run as the program itself
// with its output thrown away. Wall time per run, and the program's peak
// resident memory as the counter max_rss_mb.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>

#include <chrono>
#include <string>
#include <vector>

#include "bench/bench_boards.h"

extern char** environ;

namespace {

constexpr uint32_t kFull = 250000;

// Runs fr-archive with `args`; false when it could not run or failed.
bool RunArchive(const std::vector<std::string>& args, double* seconds, long* max_rss_kb) {
  std::vector<std::string> all = {FR_ARCHIVE_PATH};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  const auto started = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return false;
  int status = 0;
  struct rusage usage = {};
  if (wait4(pid, &status, 0, &usage) != pid) return false;
  *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  *max_rss_kb = usage.ru_maxrss;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void Run(benchmark::State& state, const std::vector<std::string>& args) {
  std::string dir, error;
  if (!bench::CachedBoard(kFull, &dir, &error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  std::vector<std::string> with_path = {args[0], gen::ArchivePath(dir)};
  with_path.insert(with_path.end(), args.begin() + 1, args.end());
  long max_rss_kb = 0;
  for (auto _ : state) {
    double seconds = 0;
    long rss = 0;
    if (!RunArchive(with_path, &seconds, &rss)) {
      state.SkipWithError("fr-archive failed");
      return;
    }
    state.SetIterationTime(seconds);
    if (rss > max_rss_kb) max_rss_kb = rss;
  }
  state.counters["max_rss_mb"] = static_cast<double>(max_rss_kb) / 1024.0;
}

void BM_Verify(benchmark::State& state) { Run(state, {"verify"}); }
void BM_ExportJson(benchmark::State& state) { Run(state, {"export", "--format", "json"}); }

BENCHMARK(BM_Verify)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExportJson)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
