#include "bridge/metrics.h"

#include <sstream>

namespace bridge {

const std::vector<double> Metrics::kBuckets = {0.01, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10, 30};

void Metrics::Request(const std::string& route, int status) {
  std::lock_guard<std::mutex> l(mu_);
  ++requests_[{route, status}];
}

void Metrics::Result(const std::string& register_name, int code) {
  std::lock_guard<std::mutex> l(mu_);
  ++results_[{register_name, code}];
}

void Metrics::JobSeconds(double seconds) {
  std::lock_guard<std::mutex> l(mu_);
  ++jobs_;
  job_seconds_ += seconds;
  for (size_t i = 0; i < kBuckets.size(); ++i) {
    if (seconds <= kBuckets[i]) ++job_buckets_[i];
  }
}

void Metrics::SetRegister(const std::string& name, bool online, size_t queue, size_t in_doubt,
                          const std::string& paper) {
  std::lock_guard<std::mutex> l(mu_);
  registers_[name] = Gauges{online, queue, in_doubt, paper};
}

std::string Metrics::Render() {
  std::lock_guard<std::mutex> l(mu_);
  std::ostringstream o;
  o << "# HELP fr_bridge_requests_total HTTP requests by route and status.\n"
    << "# TYPE fr_bridge_requests_total counter\n";
  for (const auto& [k, n] : requests_) {
    o << "fr_bridge_requests_total{route=\"" << k.first << "\",status=\"" << k.second << "\"} " << n << "\n";
  }
  o << "# HELP fr_bridge_register_results_total Result codes the registers answered.\n"
    << "# TYPE fr_bridge_register_results_total counter\n";
  for (const auto& [k, n] : results_) {
    o << "fr_bridge_register_results_total{register=\"" << k.first << "\",code=\"" << k.second << "\"} " << n << "\n";
  }
  o << "# HELP fr_bridge_job_seconds Time of a job on its register.\n# TYPE fr_bridge_job_seconds histogram\n";
  for (size_t i = 0; i < kBuckets.size(); ++i) {
    o << "fr_bridge_job_seconds_bucket{le=\"" << kBuckets[i] << "\"} " << job_buckets_[i] << "\n";
  }
  o << "fr_bridge_job_seconds_bucket{le=\"+Inf\"} " << jobs_ << "\n"
    << "fr_bridge_job_seconds_sum " << job_seconds_ << "\nfr_bridge_job_seconds_count " << jobs_ << "\n";
  const char* gauges[][2] = {{"fr_bridge_register_online", "1 while the register answers."},
                             {"fr_bridge_queue_depth", "Jobs waiting for the register."},
                             {"fr_bridge_jobs_in_doubt", "Jobs whose outcome is not settled yet."}};
  for (int g = 0; g < 3; ++g) {
    o << "# HELP " << gauges[g][0] << " " << gauges[g][1] << "\n# TYPE " << gauges[g][0] << " gauge\n";
    for (const auto& [name, r] : registers_) {
      const size_t v = g == 0 ? r.online : g == 1 ? r.queue : r.in_doubt;
      o << gauges[g][0] << "{register=\"" << name << "\"} " << v << "\n";
    }
  }
  o << "# HELP fr_bridge_paper The paper state of each register (1 for the current one).\n"
    << "# TYPE fr_bridge_paper gauge\n";
  for (const auto& [name, r] : registers_) {
    for (const char* state : {"ready", "near-end", "out", "unknown"}) {
      o << "fr_bridge_paper{register=\"" << name << "\",state=\"" << state << "\"} " << (r.paper == state) << "\n";
    }
  }
  return o.str();
}

}  // namespace bridge
