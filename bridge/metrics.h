// Counters for /metrics, rendered in the Prometheus text format.
//
// Thread-safe.
#ifndef FR_BRIDGE_METRICS_H_
#define FR_BRIDGE_METRICS_H_

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace bridge {

class Metrics {
 public:
  void Request(const std::string& route, int status);
  void Result(const std::string& register_name, int code);
  void JobSeconds(double seconds);
  // Gauges, set by each register's worker.
  void SetRegister(const std::string& name, bool online, size_t queue, size_t in_doubt, const std::string& paper);

  std::string Render();

 private:
  struct Gauges {
    bool online = false;
    size_t queue = 0;
    size_t in_doubt = 0;
    std::string paper;
  };
  static const std::vector<double> kBuckets;

  std::mutex mu_;
  std::map<std::pair<std::string, int>, uint64_t> requests_;
  std::map<std::pair<std::string, int>, uint64_t> results_;
  std::vector<uint64_t> job_buckets_ = std::vector<uint64_t>(kBuckets.size(), 0);
  uint64_t jobs_ = 0;
  double job_seconds_ = 0;
  std::map<std::string, Gauges> registers_;
};

}  // namespace bridge

#endif  // FR_BRIDGE_METRICS_H_
