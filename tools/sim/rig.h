// A whole register on the test machine: a sandbox board, the host line
// (<dir>/dev/ttyGS0) with a host::HostLine on it, the printer line (<dir>/dev/ttyS0)
// with a VirtualPrinter on it, and the device program running on them.
#ifndef FR_TOOLS_SIM_RIG_H_
#define FR_TOOLS_SIM_RIG_H_

#include <string>
#include <vector>

#include "host/host_line.h"
#include "tools/common/device_process.h"
#include "tools/common/pty_pair.h"
#include "tools/common/sandbox.h"
#include "tools/common/virtual_printer.h"

namespace sim {

class Rig {
 public:
  static constexpr const char* kHostLine = "/dev/ttyGS0";
  static constexpr const char* kPrinterLine = "/dev/ttyS0";
  static constexpr const char* kLogDir = "/log";

  // On a fresh temporary sandbox, removed with the rig.
  explicit Rig(std::string binary);
  // On `dir`, which is kept.
  Rig(std::string binary, std::string dir);
  Rig(const Rig&) = delete;
  Rig& operator=(const Rig&) = delete;
  // Kills the device and stops the printer.
  ~Rig();

  // Makes the sandbox (keeping an EEPROM already there, else a blank one),
  // inserts or removes the card, opens and links both lines and starts the
  // printer. REQUIRES: called once.
  bool Prepare(bool with_card = true);
  // Starts the device; its output goes to <dir>/log/.
  bool Start(const std::vector<std::string>& args = {});
  // Kills the device, as a power cut would: it has no orderly shutdown. Bytes
  // still in flight on the lines are dropped, so that a restarted device does
  // not read requests meant for this one, nor the host its replies.
  void Stop();
  bool Restart(const std::vector<std::string>& args = {});

  Sandbox& sandbox() { return sandbox_; }
  VirtualPrinter& printer() { return printer_; }
  DeviceProcess& process() { return process_; }
  host::HostLine& host() { return host_; }

  // Asks for the version (command 51) every ~100 ms until a good reply comes:
  // the device is serving. False when it does not within `timeout_ms` or exits.
  bool WaitReady(int timeout_ms = 10000);

 private:
  // Members are destroyed in reverse: the device dies before its lines close,
  // and the lines before the sandbox goes.
  std::string binary_;
  Sandbox sandbox_;
  PtyPair host_line_;
  PtyPair printer_line_;
  VirtualPrinter printer_;
  DeviceProcess process_;
  host::HostLine host_;
  bool prepared_ = false;
};

}  // namespace sim

#endif  // FR_TOOLS_SIM_RIG_H_
