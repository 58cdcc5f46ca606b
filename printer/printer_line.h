// The thermal printer on its serial line (57600 baud, 8N1, 200 ms read
// time-out). Result codes: 0, 53 (no printer or no answer), 54 (paper out).
//
// Bytes: init ESC @ | status request ESC v, one byte back |
//        preparation GS d 0, GS P 0 0, ESC t 7 (code table 7) |
//        feed and cut ESC 3 FF, LF, ESC i
#ifndef FR_PRINTER_PRINTER_LINE_H_
#define FR_PRINTER_PRINTER_LINE_H_

#include <memory>
#include <string>

#include "platform/env.h"

namespace rs {
class SerialPort;
}

class PrinterLine {
 public:
  static constexpr const char* kDevicePath = "/dev/ttyS0";

  // REQUIRES: env outlives the line. Nothing is opened here.
  explicit PrinterLine(platform::Env* env, const std::string& path = kDevicePath);
  ~PrinterLine();

  PrinterLine(const PrinterLine&) = delete;
  PrinterLine& operator=(const PrinterLine&) = delete;

  void open();
  // Reset, then up to 10 status checks until one is 0; then the preparation.
  int initialise();
  // Up to 5 requests; keeps the printer bits of the device status.
  int statusCheck();
  // Preparation, the text in one write, then a status check.
  int printJob(const std::string& text);
  int rawWrite(const std::string& bytes);
  int feedAndCut();

 private:
  void sendPreparation();

  platform::Env* const env_;
  std::unique_ptr<rs::SerialPort> port_;
};

#endif  // FR_PRINTER_PRINTER_LINE_H_
