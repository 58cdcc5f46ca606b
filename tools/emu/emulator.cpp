#include "tools/emu/emulator.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <utility>
#include <vector>

#include "tools/emu/paper.h"
#include "tools/sim/print_decoder.h"

namespace emu {
namespace {

constexpr const char* kHostLine = "/dev/ttyGS0";
constexpr const char* kPrinterLine = "/dev/ttyS0";
constexpr const char* kLogDir = "/log";
// A device that dies this soon after its start, this many times in a row,
// is not started again: it cannot run (a missing program, a broken board).
constexpr int64_t kQuickDeathMillis = 2000;
constexpr int kMaxQuickDeaths = 5;

int64_t SteadyMillis() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Writes all of `n` bytes; the masters are blocking, so only EINTR repeats.
bool WriteAll(int fd, const char* data, size_t n) {
  while (n > 0) {
    const ssize_t w = write(fd, data, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    data += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

std::string Trim(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return std::string();
  return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

// One past the highest NNNN.* already in `dir`, so a reopened board keeps adding.
int NextSheetNumber(const std::string& dir) {
  int highest = 0;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    const std::string stem = entry.path().stem().string();
    if (stem.size() != 4 || stem.find_first_not_of("0123456789") != std::string::npos) continue;
    highest = std::max(highest, std::stoi(stem));
  }
  return highest + 1;
}

}  // namespace

bool PrinterStatusFor(const std::string& state, int* status) {
  const std::string s = Trim(state);
  if (s == "ready") *status = 0x00;
  else if (s == "near-end") *status = 0x03;
  else if (s == "paper-out") *status = 0x0C;
  else if (s == "silent") *status = sim::VirtualPrinter::kSilent;
  else return false;
  return true;
}

Emulator::Emulator(std::string dir) : dir_(std::move(dir)), sandbox_(dir_) {}

Emulator::~Emulator() { Stop(); }

std::string Emulator::Start(const std::string& core_binary) {
  if (started_) return "already started";
  if (!sandbox_.Create() || !sandbox_.WriteBlankEeprom() || !sandbox_.InsertCard()) {
    return "cannot make the board in " + dir_;
  }
  std::error_code ec;
  std::filesystem::create_directories(dir_ + kPaperDir, ec);
  if (ec) return "cannot make " + paper_dir();
  next_sheet_ = NextSheetNumber(dir_ + kPaperDir);
  if (!std::filesystem::exists(dir_ + kPrinterState) &&
      !sandbox_.WriteFile(kPrinterState, "ready\n")) {
    return "cannot write " + dir_ + kPrinterState;
  }
  if (!device_host_.Open() || !pos_host_.Open() || !printer_line_.Open() ||
      !device_host_.LinkAt(sandbox_.Path(kHostLine)) ||
      !printer_line_.LinkAt(sandbox_.Path(kPrinterLine)) || !pos_host_.LinkAt(host_path())) {
    return "cannot make the serial lines";
  }
  if (pipe2(stop_pipe_, O_CLOEXEC) != 0) return "cannot make a pipe";
  PollPrinterState();
  if (!printer_.Start(printer_line_.master())) return "cannot start the printer";
  relay_ = std::thread(&Emulator::Relay, this);
  started_ = true;
  core_binary_ = core_binary;
  if (!StartDevice()) return "cannot start " + core_binary;
  return std::string();
}

bool Emulator::StartDevice() {
  device_started_ms_ = SteadyMillis();
  return device_.Start(core_binary_, {}, dir_, dir_ + kLogDir);
}

bool Emulator::Poll() {
  if (!started_) return false;
  PollPrinterState();
  FlushPaper();
  pos_host_.ClearStaleExclusive();
  return Supervise();
}

bool Emulator::Supervise() {
  std::error_code ec;
  const bool asked = restart_requested_.exchange(false) || std::filesystem::remove(dir_ + kRestart, ec);
  if (asked) {
    std::printf("fr-emu: restarting fr-core (killed, as by a power cut)\n");
    device_.Kill(SIGKILL);
    quick_deaths_ = 0;
  } else if (device_.running()) {
    if (SteadyMillis() - device_started_ms_ > kQuickDeathMillis) quick_deaths_ = 0;
    return true;
  } else {
    int status = 0;
    device_.Wait(0, &status);
    std::printf("fr-emu: fr-core ended (%s %d); starting it again\n", status > 128 ? "signal" : "status",
                status > 128 ? status - 128 : status);
    if (SteadyMillis() - device_started_ms_ <= kQuickDeathMillis && ++quick_deaths_ >= kMaxQuickDeaths) {
      std::fflush(stdout);
      return false;
    }
  }
  std::fflush(stdout);
  // What was on its way to the old process is not the new one's: a POS that
  // was waiting asks again (05) and learns the register restarted.
  device_host_.FlushInput();
  printer_line_.FlushInput();
  return StartDevice();
}

void Emulator::Stop() {
  if (!started_) return;
  started_ = false;
  device_.Kill(SIGKILL);
  const char byte = 0;
  WriteAll(stop_pipe_[1], &byte, 1);
  if (relay_.joinable()) relay_.join();
  printer_.Stop();
  FlushPaper();  // cuts that came just before the end
  close(stop_pipe_[0]);
  close(stop_pipe_[1]);
  stop_pipe_[0] = stop_pipe_[1] = -1;
}

void Emulator::Relay() {
  const int device = device_host_.master();
  const int pos = pos_host_.master();
  char buf[4096];
  for (;;) {
    pollfd fds[3] = {{stop_pipe_[0], POLLIN, 0}, {device, POLLIN, 0}, {pos, POLLIN, 0}};
    if (poll(fds, 3, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[0].revents != 0) return;
    // A side whose read fails is left out; its bytes have nowhere to come from.
    for (int i = 1; i <= 2; ++i) {
      if ((fds[i].revents & POLLIN) == 0) continue;
      const ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) WriteAll(i == 1 ? pos : device, buf, static_cast<size_t>(n));
    }
  }
}

void Emulator::PollPrinterState() {
  std::string text;
  if (!sandbox_.ReadFile(kPrinterState, &text) || text == state_text_) return;
  state_text_ = text;
  int status = 0;
  if (PrinterStatusFor(text, &status)) {
    printer_.set_status(status);
  } else {
    std::fprintf(stderr, "fr-emu: unknown printer state \"%s\" ignored\n", Trim(text).c_str());
  }
}

void Emulator::FlushPaper() {
  // A cut with nothing printed since the last one marks no line, so pieces
  // are found by the cut bytes themselves: the lines of piece k are those the
  // stream up to cut k adds to the stream up to cut k-1. Lines end before a
  // cut, so a prefix ending at a cut decodes as the longer stream begins.
  static const std::string kCut = "\x1B\x33\xFF\x0A\x1B\x69";
  const std::string received = printer_.received();
  size_t from = 0;
  for (int k = 0; k < cuts_written_; ++k) from = received.find(kCut, from) + kCut.size();
  for (size_t at = received.find(kCut, from); at != std::string::npos;
       at = received.find(kCut, at + kCut.size())) {
    std::vector<sim::PrintedLine> lines;
    for (const sim::PrintJob& job : sim::DecodePrintStream(received.substr(0, at + kCut.size()))) {
      lines.insert(lines.end(), job.lines.begin(), job.lines.end());
    }
    const size_t first = std::min(lines_on_paper_, lines.size());
    const std::vector<sim::PrintedLine> sheet(lines.begin() + first, lines.end());
    lines_on_paper_ = lines.size();
    ++cuts_written_;
    char name[16];
    std::snprintf(name, sizeof name, "%04d", next_sheet_++);
    if (!WritePaper(sheet, paper_dir() + name)) {
      std::fprintf(stderr, "fr-emu: cannot write %s%s.*\n", paper_dir().c_str(), name);
    }
  }
}

}  // namespace emu
