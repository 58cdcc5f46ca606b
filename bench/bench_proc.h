// What the benchmarks that run programs share: reading a process's memory
// and CPU from /proc, and quantiles of sorted latencies.
#ifndef FR_BENCH_BENCH_PROC_H_
#define FR_BENCH_BENCH_PROC_H_

#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace bench {

// The value at fraction q of sorted `v` (0.5: median), as the other benches take it.
inline double Quantile(const std::vector<double>& v, double q) {
  if (v.empty()) return 0;
  return v[std::min(v.size() - 1, static_cast<size_t>(static_cast<double>(v.size()) * q))];
}

// Counters NAME_p50_ms, NAME_p99_ms and NAME_max_ms of sorted `ms`.
inline void PutQuantiles(benchmark::State* state, const std::string& name, const std::vector<double>& ms) {
  state->counters[name + "_p50_ms"] = Quantile(ms, 0.5);
  state->counters[name + "_p99_ms"] = Quantile(ms, 0.99);
  state->counters[name + "_max_ms"] = ms.empty() ? 0 : ms.back();
}

// A "VmRSS:   1234 kB" line of /proc/PID/status, in MB; -1 if absent.
inline double ProcStatusMb(pid_t pid, const std::string& field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);) {
    if (line.compare(0, field.size() + 1, field + ":") == 0) {
      return std::atof(line.c_str() + field.size() + 1) / 1024.0;
    }
  }
  return -1;
}

// The process's user + system CPU time so far, in milliseconds.
inline double ProcCpuMs(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t close = text.rfind(')');  // the name may hold spaces
  if (close == std::string::npos) return 0;
  std::istringstream rest(text.substr(close + 2));
  std::string field;
  double utime = 0, stime = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i) {
    if (i == 14) utime = std::atof(field.c_str());
    if (i == 15) stime = std::atof(field.c_str());
  }
  return (utime + stime) * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

}  // namespace bench

#endif  // FR_BENCH_BENCH_PROC_H_
