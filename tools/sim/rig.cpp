#include "tools/sim/rig.h"

#include <chrono>
#include <thread>
#include <utility>

#include "app/codes.h"

namespace sim {
namespace {

constexpr uint8_t kVersionCommand = cmd::kVersion;
constexpr int kReadyRetryMillis = 100;
// After a good reply, how long to wait for the replies of earlier tries.
constexpr int kSettleMillis = 500;

}  // namespace

Rig::Rig(std::string binary) : binary_(std::move(binary)), sandbox_(Sandbox::Temp()) {}

Rig::Rig(std::string binary, std::string dir) : binary_(std::move(binary)), sandbox_(std::move(dir)) {}

Rig::~Rig() {
  // An orderly end: a coverage build writes its last counts on SIGTERM;
  // any other build simply ends.
  process_.Kill(SIGTERM);
  printer_.Stop();
}

bool Rig::Prepare(bool with_card) {
  if (prepared_) return false;
  prepared_ = true;
  if (!sandbox_.Create() || !sandbox_.WriteBlankEeprom()) return false;
  if (!(with_card ? sandbox_.InsertCard() : sandbox_.RemoveCard())) return false;
  if (!host_line_.Open() || !printer_line_.Open() || !host_line_.LinkAt(sandbox_.Path(kHostLine)) ||
      !printer_line_.LinkAt(sandbox_.Path(kPrinterLine))) {
    return false;
  }
  host_ = host::HostLine(host_line_.master());
  return printer_.Start(printer_line_.master());
}

bool Rig::Start(const std::vector<std::string>& args) {
  return process_.Start(binary_, args, sandbox_.dir(), sandbox_.Path(kLogDir));
}

void Rig::Stop() {
  process_.Kill(SIGKILL);
  host_line_.FlushInput();
  printer_line_.FlushInput();
  host_.Drain();
}

bool Rig::Restart(const std::vector<std::string>& args) {
  Stop();
  return Start(args);
}

bool Rig::WaitReady(int timeout_ms) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  uint32_t id = 0;
  while (Clock::now() < deadline) {
    if (!process_.running()) return false;
    const auto next_try = Clock::now() + std::chrono::milliseconds(kReadyRetryMillis);
    host_.Drain();
    host::Reply reply;
    ++id;
    if (!host_.Request(kVersionCommand, id, std::string(), &reply, kReadyRetryMillis) || reply.code != 0) {
      std::this_thread::sleep_until(next_try);  // an early wrong answer is no reason to hurry
      continue;
    }
    // Earlier tries may have waited in the line for the device to start; their
    // replies come in order, the last try's last, and must not reach the caller.
    while (reply.id != id && host_.ReadReply(&reply, kSettleMillis)) {}
    host_.Drain();
    return true;
  }
  return false;
}

}  // namespace sim
