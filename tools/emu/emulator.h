// The virtual register: the device program on a sandbox board, with a
// serial-like line for any POS program (<dir>/host), a printer whose state is
// set through <dir>/printer-state, and every cut-off receipt kept as files
// under <dir>/paper/.
//
// The POS line is the emulator's, not the device's: when fr-core dies (or is
// restarted on purpose, through <dir>/restart or SIGHUP) it is started again
// on the same board while <dir>/host stays the same open line, so a POS
// program keeps its handle across the restart, as across a power cut.
//
// <dir>/lose-replies makes the line noisy on the way back, so that a POS
// program's recovery can be tried: the register does the work and only its
// answer is lost, a whole reply frame at a time. It holds (whitespace aside):
//   next-close      the reply to the next document close from the POS is
//                   lost; the file is then removed, so it works once. The
//                   same reply sent again for a 05 gets through.
//   share P [SEED]  each reply frame, those sent again for a 05 too, is lost
//                   with probability P (0 to 1); SEED (decimal) repeats a
//                   run's draws, else the time seeds them. fr-emu prints
//                   the seed.
// Empty or missing, nothing is lost. Other contents are reported and ignored.
//
// REQUIRES: External synchronization (one controlling thread).
#ifndef FR_TOOLS_EMU_EMULATOR_H_
#define FR_TOOLS_EMU_EMULATOR_H_

#include <atomic>
#include <cstdint>
#include <mutex>
#include <random>
#include <string>
#include <thread>

#include "host/emu_layout.h"
#include "tools/common/device_process.h"
#include "tools/common/pty_pair.h"
#include "tools/common/sandbox.h"
#include "tools/common/virtual_printer.h"

namespace emu {

// The status byte the printer answers for a state name ("ready", "near-end",
// "paper-out", "silent": sim::VirtualPrinter::kSilent); false for others.
bool PrinterStatusFor(const std::string& state, int* status);

// Which replies <dir>/lose-replies asks to lose.
struct ReplyLoss {
  enum Mode { kNone, kNextClose, kShare };
  Mode mode = kNone;
  double share = 0;   // kShare: each reply frame's chance of being lost
  uint32_t seed = 0;  // kShare: of the draws
};
// Reads the file's contents (see above); `time_seed` seeds a share without
// SEED. False for anything else.
bool ParseReplyLoss(const std::string& text, uint32_t time_seed, ReplyLoss* loss);

class Emulator {
 public:
  static constexpr const char* kHostLink = kHostLinkFile;
  static constexpr const char* kPaperDir = kPaperDirectory;
  static constexpr const char* kPrinterState = kPrinterStateFile;
  static constexpr const char* kRestart = "/restart";
  static constexpr const char* kLoseReplies = "/lose-replies";

  explicit Emulator(std::string dir);
  Emulator(const Emulator&) = delete;
  Emulator& operator=(const Emulator&) = delete;
  ~Emulator();  // Stop()

  // Makes or reopens the board, the lines, the relay and the printer and
  // starts `core_binary`. An empty string on success, else what failed.
  std::string Start(const std::string& core_binary);
  // Picks up a changed printer state or reply loss, writes paper for new
  // cuts and starts the device again when it died or a restart was asked
  // for; call it every ~200 ms. False when the device keeps dying at once (it will not run).
  bool Poll();
  // Kills the device at the next Poll, as a power cut would, and starts it
  // again (the file <dir>/restart does the same).
  void RequestRestart() { restart_requested_ = true; }
  // Kills the device (it has no orderly shutdown), then stops the relay and
  // the printer. Paper cut before this is written.
  void Stop();

  std::string host_path() const { return dir_ + kHostLink; }
  std::string paper_dir() const { return dir_ + kPaperDir + std::string("/"); }

 private:
  void Relay();
  // The relay's two directions. Request bytes go on to the device before
  // this sees them; it only notes which close is on its way.
  void WatchRequests(const char* bytes, size_t n);
  // Device bytes in, what goes on to the POS out: whole reply frames unless
  // lost, anything else as it came. While replies may be lost, a frame begun
  // is held until it ends (or the line goes quiet).
  std::string FilterReplies(const char* bytes, size_t n);
  // REQUIRES: loss_mu_ held.
  bool LoseReply(uint32_t id);
  void PollLoseReplies();
  void PollPrinterState();
  void FlushPaper();
  bool Supervise();
  bool StartDevice();

  std::string dir_;
  // Destroyed in reverse: the device dies before its lines close.
  sim::Sandbox sandbox_;
  sim::PtyPair device_host_;  // the device's host line
  sim::PtyPair pos_host_;     // what the POS program opens as <dir>/host
  sim::PtyPair printer_line_;
  sim::VirtualPrinter printer_;
  sim::DeviceProcess device_;
  std::thread relay_;
  int stop_pipe_[2] = {-1, -1};  // written to end the relay's poll
  std::string state_text_;       // the printer-state file as last applied
  int cuts_written_ = 0;         // cuts of this run already on paper
  size_t lines_on_paper_ = 0;    // printed lines of this run already on paper
  int next_sheet_ = 1;           // number of the next paper file
  bool started_ = false;
  std::string core_binary_;
  std::atomic<bool> restart_requested_{false};
  int64_t device_started_ms_ = 0;  // steady clock, at the last start
  int quick_deaths_ = 0;           // in a row, each soon after its start

  // Set by Poll, used by the relay.
  std::mutex loss_mu_;
  ReplyLoss loss_;           // guarded by loss_mu_
  std::string loss_text_;    // guarded by loss_mu_: lose-replies as last applied
  std::mt19937 loss_draws_;  // guarded by loss_mu_
  // A close from the POS since next-close was set, and its identifier (0:
  // the register picks one, so the next reply is its answer).
  bool close_sent_ = false;  // guarded by loss_mu_
  uint32_t close_id_ = 0;    // guarded by loss_mu_
  // The relay's own.
  std::string held_replies_;  // device bytes of a reply frame not yet whole
  std::string requests_;      // POS bytes not yet a whole request frame
};

}  // namespace emu

#endif  // FR_TOOLS_EMU_EMULATOR_H_
