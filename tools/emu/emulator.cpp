#include "tools/emu/emulator.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <utility>
#include <vector>

#include "app/codes.h"
#include "host/frame.h"
#include "host/protocol.h"
#include "tools/common/print_decoder.h"
#include "tools/emu/paper.h"

namespace emu {
namespace {

constexpr const char* kHostLine = "/dev/ttyGS0";
constexpr const char* kPrinterLine = "/dev/ttyS0";
constexpr const char* kLogDir = "/log";
// A device that dies this soon after its start, this many times in a row,
// is not started again: it cannot run (a missing program, a broken board).
constexpr int64_t kQuickDeathMillis = 2000;
constexpr int kMaxQuickDeaths = 5;
// A frame that stops coming halfway for this long is given up: its bytes
// go on as they came.
constexpr int kQuietMillis = 50;

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

// A share: digits with at most one point, 0 to 1.
bool ParseShare(const std::string& word, double* share) {
  if (word.find_first_not_of("0123456789.") != std::string::npos) return false;
  char* end = nullptr;
  *share = std::strtod(word.c_str(), &end);
  return end == word.c_str() + word.size() && *share <= 1;
}

bool ParseSeed(const std::string& word, uint32_t* seed) {
  if (word.empty() || word.size() > 10 || word.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  const unsigned long long v = std::strtoull(word.c_str(), nullptr, 10);
  *seed = static_cast<uint32_t>(v);
  return v <= UINT32_MAX;
}

// One past the highest NNNN.* already in `dir`, so a reopened board keeps adding.
int NextSheetNumber(const std::string& dir) {
  int highest = 0;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    const std::string stem = entry.path().stem().string();
    // Past 9999 the names grow a digit; they must still count.
    if (stem.size() < kSheetDigits || stem.size() > 9 || stem.find_first_not_of("0123456789") != std::string::npos) {
      continue;
    }
    highest = std::max(highest, std::stoi(stem));
  }
  return highest + 1;
}

}  // namespace

bool PrinterStatusFor(const std::string& state, int* status) {
  const std::string s = Trim(state);
  if (s == "ready")
    *status = 0x00;
  else if (s == "near-end")
    *status = 0x03;
  else if (s == "paper-out")
    *status = 0x0C;
  else if (s == "silent")
    *status = sim::VirtualPrinter::kSilent;
  else
    return false;
  return true;
}

bool ParseReplyLoss(const std::string& text, uint32_t time_seed, ReplyLoss* loss) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  ReplyLoss l;
  if (words.size() == 1 && words[0] == "next-close") {
    l.mode = ReplyLoss::kNextClose;
  } else if (!words.empty()) {
    l.mode = ReplyLoss::kShare;
    l.seed = time_seed;
    if (words[0] != "share" || words.size() > 3 || words.size() < 2 || !ParseShare(words[1], &l.share) ||
        (words.size() == 3 && !ParseSeed(words[2], &l.seed))) {
      return false;
    }
  }
  *loss = l;
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
  if (!std::filesystem::exists(dir_ + kPrinterState) && !sandbox_.WriteFile(kPrinterState, "ready\n")) {
    return "cannot write " + dir_ + kPrinterState;
  }
  if (!device_host_.Open() || !pos_host_.Open() || !printer_line_.Open() ||
      !device_host_.LinkAt(sandbox_.Path(kHostLine)) || !printer_line_.LinkAt(sandbox_.Path(kPrinterLine)) ||
      !pos_host_.LinkAt(host_path())) {
    return "cannot make the serial lines";
  }
  if (pipe2(stop_pipe_, O_CLOEXEC) != 0) return "cannot make a pipe";
  PollPrinterState();
  PollLoseReplies();
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
  PollLoseReplies();
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
    const int ready = poll(fds, 3, held_replies_.empty() && requests_.empty() ? -1 : kQuietMillis);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (ready == 0) {
      // A frame stopped halfway: the POS gets what came, and the register
      // gives up a request left halfway, so the next frame starts afresh.
      WriteAll(pos, held_replies_.data(), held_replies_.size());
      held_replies_.clear();
      requests_.clear();
      continue;
    }
    if (fds[0].revents != 0) return;
    // A side whose read fails is left out; its bytes have nowhere to come from.
    if ((fds[1].revents & POLLIN) != 0) {
      const ssize_t n = read(device, buf, sizeof buf);
      if (n > 0) {
        const std::string out = FilterReplies(buf, static_cast<size_t>(n));
        WriteAll(pos, out.data(), out.size());
      }
    }
    if ((fds[2].revents & POLLIN) != 0) {
      const ssize_t n = read(pos, buf, sizeof buf);
      if (n > 0) {
        WriteAll(device, buf, static_cast<size_t>(n));
        WatchRequests(buf, static_cast<size_t>(n));
      }
    }
  }
}

void Emulator::WatchRequests(const char* bytes, size_t n) {
  requests_.append(bytes, n);
  size_t at = 0;
  while (at < requests_.size()) {
    size_t used = 0;
    host::Reply request;  // a request frame parses alike: code is the command
    const host::ParseStatus s = host::ParseFrame(requests_.substr(at), &used, &request);
    if (s == host::ParseStatus::kNeedMore) break;
    if (s == host::ParseStatus::kComplete && host::ClosesDocument(static_cast<uint8_t>(request.code))) {
      std::lock_guard<std::mutex> lock(loss_mu_);
      if (loss_.mode == ReplyLoss::kNextClose) {
        close_sent_ = true;
        close_id_ = request.id;
      }
    }
    at += used;
  }
  requests_.erase(0, at);
}

std::string Emulator::FilterReplies(const char* bytes, size_t n) {
  held_replies_.append(bytes, n);
  std::string out;
  std::vector<uint32_t> lost;
  {
    std::lock_guard<std::mutex> lock(loss_mu_);
    if (loss_.mode == ReplyLoss::kNone) {
      out.swap(held_replies_);
      return out;
    }
    size_t at = 0;
    while (at < held_replies_.size()) {
      size_t used = 0;
      host::Reply reply;
      const host::ParseStatus s = host::ParseFrame(held_replies_.substr(at), &used, &reply);
      if (s == host::ParseStatus::kNeedMore) break;
      if (s == host::ParseStatus::kComplete && LoseReply(reply.id)) {
        lost.push_back(reply.id);
      } else {
        out.append(held_replies_, at, used);
      }
      at += used;
    }
    held_replies_.erase(0, at);
  }
  for (const uint32_t id : lost) std::printf("fr-emu: reply %u lost\n", id);
  if (!lost.empty()) std::fflush(stdout);
  return out;
}

bool Emulator::LoseReply(uint32_t id) {
  if (loss_.mode == ReplyLoss::kShare) return std::bernoulli_distribution(loss_.share)(loss_draws_);
  if (loss_.mode != ReplyLoss::kNextClose || !close_sent_ || (close_id_ != 0 && id != close_id_)) {
    return false;
  }
  // Once only: the same reply sent again for a 05 gets through. The file
  // goes, so that writing next-close again asks for another.
  loss_ = ReplyLoss();
  close_sent_ = false;
  std::error_code ec;
  if (std::filesystem::remove(dir_ + kLoseReplies, ec)) loss_text_.clear();
  return true;
}

void Emulator::PollLoseReplies() {
  // Read under the lock: the relay may remove the file once it has lost a
  // reply, and the old contents must not set the loss again.
  std::lock_guard<std::mutex> lock(loss_mu_);
  std::string text;
  if (!sandbox_.ReadFile(kLoseReplies, &text)) text.clear();
  if (text == loss_text_) return;
  loss_text_ = text;
  const auto now = std::chrono::system_clock::now().time_since_epoch().count();
  ReplyLoss loss;
  if (!ParseReplyLoss(text, static_cast<uint32_t>(now), &loss)) {
    std::fprintf(stderr, "fr-emu: unknown lose-replies \"%s\" ignored\n", Trim(text).c_str());
  } else if (loss.mode == ReplyLoss::kNextClose) {
    std::printf("fr-emu: the reply to the next close will be lost\n");
  } else if (loss.mode == ReplyLoss::kShare) {
    std::printf("fr-emu: replies lost at a share of %g (seed %u)\n", loss.share, loss.seed);
  } else {
    std::printf("fr-emu: no replies lost\n");
  }
  std::fflush(stdout);
  loss_ = loss;
  loss_draws_.seed(loss.seed);
  close_sent_ = false;
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
  for (size_t at = received.find(kCut, from); at != std::string::npos; at = received.find(kCut, at + kCut.size())) {
    std::vector<sim::PrintedLine> lines;
    for (const sim::PrintJob& job : sim::DecodePrintStream(received.substr(0, at + kCut.size()))) {
      lines.insert(lines.end(), job.lines.begin(), job.lines.end());
    }
    const size_t first = std::min(lines_on_paper_, lines.size());
    const std::vector<sim::PrintedLine> sheet(lines.begin() + first, lines.end());
    lines_on_paper_ = lines.size();
    ++cuts_written_;
    char name[16];
    std::snprintf(name, sizeof name, "%0*d", kSheetDigits, next_sheet_++);
    if (!WritePaper(sheet, paper_dir() + name)) {
      std::fprintf(stderr, "fr-emu: cannot write %s%s.*\n", paper_dir().c_str(), name);
    }
  }
}

}  // namespace emu
