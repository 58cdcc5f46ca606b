// The thermal printer at the far end of the printer line. It records every
// byte the device sends and answers the status request ESC 'v' (1B 76) with
// one status byte, or with nothing, like a printer that is switched off.
#ifndef FR_TOOLS_COMMON_VIRTUAL_PRINTER_H_
#define FR_TOOLS_COMMON_VIRTUAL_PRINTER_H_

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace sim {

class VirtualPrinter {
 public:
  static constexpr int kSilent = -1;

  VirtualPrinter() = default;
  VirtualPrinter(const VirtualPrinter&) = delete;
  VirtualPrinter& operator=(const VirtualPrinter&) = delete;
  ~VirtualPrinter();  // stops

  // Serves the line on `fd` (the master side of the printer pty, not owned)
  // from a thread of its own. REQUIRES: not started.
  bool Start(int fd);
  void Stop();

  // 0..255: the byte answered to each status request; kSilent: no answer.
  // Default 0 (ready).
  void set_status(int status);
  // Once bytes received after this call hold `needle` `count` times, every
  // later status request is answered `status`: a printer failing in the
  // middle of a job.
  void set_status_after(const std::string& needle, int status, int count = 1);
  // Every byte received so far.
  std::string received() const;
  // Forgets what was received, the count of status requests included.
  void Clear();
  // True as soon as received() contains `needle`; false after `timeout_ms`.
  bool WaitFor(const std::string& needle, int timeout_ms) const;
  // Status requests seen, answered or not.
  int status_requests() const;

 private:
  void Run();
  // True when `needle_` occurs `needle_count_` times in received_ between
  // needle_from_ and `end`. REQUIRES: mu_ held.
  bool NeedleSeenBefore(size_t end) const;

  int fd_ = -1;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mu_;
  mutable std::condition_variable changed_;
  std::string received_;    // guarded by mu_
  int status_ = 0;          // guarded by mu_
  int requests_ = 0;        // guarded by mu_
  std::string needle_;      // guarded by mu_; empty when none is pending
  size_t needle_from_ = 0;  // guarded by mu_: where the search starts
  int status_after_ = 0;    // guarded by mu_
  int needle_count_ = 0;    // guarded by mu_
};

}  // namespace sim

#endif  // FR_TOOLS_COMMON_VIRTUAL_PRINTER_H_
