#include "printer/printer_line.h"

#include "app/codes.h"
#include "app/fr_status.h"
#include "printer/render.h"
#include "serial/serialport.h"

namespace {

constexpr int kPrinterSpeedCode = 16;  // 57600 baud
constexpr int kReadTimeoutMs = 200;
constexpr int kStatusAttempts = 5;
constexpr int kStatusRetryPauseMs = 100;
constexpr int kResetPauseMs = 500;
constexpr int kInitChecks = 10;
constexpr int kInitRetryPauseMs = 200;

const std::string kReset("\x1B\x40", 2);
const std::string kStatusRequest("\x1B\x76", 2);
const std::string kPreparation[] = {std::string("\x1D\x64\x00", 3), std::string("\x1D\x50\x00\x00", 4),
                                    std::string("\x1B\x74\x07", 3)};

}  // namespace

PrinterLine::PrinterLine(platform::Env* env, const std::string& path)
    : env_(env), port_(new rs::SerialPort(env, path, kPrinterSpeedCode)) {
  port_->setReadTimeout(kReadTimeoutMs);
}

PrinterLine::~PrinterLine() = default;

void PrinterLine::open() {
  if (!port_->isOpen()) port_->open();
}

void PrinterLine::sendPreparation() {
  for (const std::string& bytes : kPreparation) port_->write(bytes);
}

int PrinterLine::statusCheck() {
  for (int attempt = 0; attempt < kStatusAttempts; ++attempt) {
    port_->write(kStatusRequest);
    std::string answer;
    const int n = port_->read(answer, 1);
    if (n < 0) break;
    if (n == 0) {
      env_->SleepMillis(kStatusRetryPauseMs);
      continue;
    }
    const uint8_t b = static_cast<uint8_t>(answer[0]);
    FrStatus::setFlag(FrStatus::kPrinterSilent, false);
    FrStatus::setFlag(FrStatus::kPaperNearEnd, (b & 0x03) == 0x03);
    const bool paper_out = (b & 0x0C) == 0x0C;
    FrStatus::setFlag(FrStatus::kPaperOut, paper_out);
    return paper_out ? rc::kPaperOut : rc::kOk;
  }
  FrStatus::setFlag(FrStatus::kPrinterSilent, true);
  return rc::kPrinterSilent;
}

int PrinterLine::initialise() {
  open();
  port_->write(kReset);
  env_->SleepMillis(kResetPauseMs);
  int status = statusCheck();
  for (int checks = 1; status != rc::kOk && checks < kInitChecks; ++checks) {
    env_->SleepMillis(kInitRetryPauseMs);
    status = statusCheck();
  }
  if (status == rc::kOk) sendPreparation();
  return status;
}

int PrinterLine::printJob(const std::string& text) {
  sendPreparation();
  port_->write(text);
  return statusCheck();
}

int PrinterLine::rawWrite(const std::string& bytes) {
  if (!bytes.empty()) port_->write(bytes);
  return rc::kOk;
}

int PrinterLine::feedAndCut() {
  port_->write(std::string(printer::kFeedAndCut, sizeof(printer::kFeedAndCut)));
  return rc::kOk;
}
