// A printer line that never keeps the device waiting: a pseudo-terminal
// whose far end always holds a reserve of "ready" status bytes (0) ahead of
// the device's requests. The device's status reads find their answer at
// once, so what a benchmark times is the device's own work, not the trip to
// a printer and back. Whatever the device prints is counted and dropped.
//
// Either a thread of its own drains the line and tops the reserve up
// (Start), or the caller does so between commands (Pump), which keeps a
// single-threaded run repeatable instruction for instruction.
#ifndef FR_TOOLS_GEN_PRIMED_PRINTER_H_
#define FR_TOOLS_GEN_PRIMED_PRINTER_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>

#include "tools/common/pty_pair.h"

namespace gen {

class PrimedPrinter {
 public:
  // More status requests than any one command makes.
  static constexpr size_t kReserve = 1024;

  PrimedPrinter() = default;
  PrimedPrinter(const PrimedPrinter&) = delete;
  PrimedPrinter& operator=(const PrimedPrinter&) = delete;
  ~PrimedPrinter();  // stops and removes the link

  // Opens the line, links its device side at `link_path` and writes the
  // first reserve. REQUIRES: called once.
  bool Open(const std::string& link_path);
  // Drains and tops up from a thread until Stop.
  bool Start();
  void Stop();
  // Without the thread: takes what the device wrote, waiting until the line
  // has been quiet for `quiet_ms`, and tops the reserve up.
  void Pump(int quiet_ms = 2);

  uint64_t bytes_received() const { return received_.load(); }
  uint64_t status_requests() const { return requests_.load(); }

 private:
  // Counts the status requests (ESC v) in what arrived and answers as many.
  void Take(const char* bytes, size_t n);
  void Answer(size_t n);
  void Run();

  sim::PtyPair line_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<uint64_t> received_{0};
  std::atomic<uint64_t> requests_{0};
  bool after_escape_ = false;  // the last byte taken was ESC
};

}  // namespace gen

#endif  // FR_TOOLS_GEN_PRIMED_PRINTER_H_
