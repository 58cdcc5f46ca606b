// The whole command core of one register inside this process, on a board
// directory (BoardEnv: fake clock) with a primed printer line (no waits),
// driven by host commands exactly as the host link hands them over. Used by
// the archive generator, the benchmarks and the instruction-count driver.
//
// The core keeps process-wide state (status, identity, tables, the open
// document): one Device at a time per process.
#ifndef FR_TOOLS_GEN_DEVICE_H_
#define FR_TOOLS_GEN_DEVICE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/core_worker.h"
#include "tools/common/sandbox.h"
#include "tools/gen/board_env.h"
#include "tools/gen/primed_printer.h"

namespace gen {

// Host request data, as a POS program sends it.
namespace host {

constexpr uint8_t kServiceCashier = 20;
constexpr int32_t kServicePassword = 30;

std::string Prefix(uint8_t cashier = kServiceCashier, int32_t password = kServicePassword);
// One length byte, then the CP866 name.
std::string Name(const std::string& cp866);
std::string Amount(int64_t kopecks);                  // 8 bytes
std::string Payment(int64_t cash, int64_t cashless);  // 16 bytes
// A receipt line element (11059); quantity = quantity / 10^places.
struct Line {
  std::string name;  // CP866
  int64_t price = 0;
  uint8_t places = 0;
  int64_t quantity = 1;
  uint8_t tax = 1, section = 1, discount = 0;
};
std::string LineElement(const Line& line);

}  // namespace host

// The register every generated board and benchmark sets up.
struct Profile {
  static constexpr const char* kSerial = "4200012345";
  static constexpr const char* kInn = "7701234567";
  static constexpr const char* kFn = "9999078900012345";
  // Sales, cash and returns; the reports need the cash right.
  static constexpr uint16_t kClerkRights = 0x0013;
};

class Device {
 public:
  enum class PrinterMode {
    kThread,  // the printer drains the line from a thread of its own
    kPump,    // Call drains it after every command: one thread, repeatable
  };

  // `dir` holds (or will hold) the board.
  Device(std::string dir, int64_t start_time, PrinterMode mode);
  ~Device();
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  // The board's directories, a blank EEPROM unless one is there, the card
  // and the printer line. False with error() set.
  bool Prepare();
  // What fr-core does at start: CoreWorker::initialise.
  void StartUp();
  // One host command through the command core; its result code, and its
  // reply data into *reply when given.
  int Call(uint8_t command, const std::string& data, std::string* reply = nullptr);
  // The same, recording the first failure in error(); true on 0.
  bool Expect(uint8_t command, const std::string& data, std::string* reply = nullptr);

  BoardEnv& env() { return *env_; }
  CoreWorker& core() { return *core_; }
  PrimedPrinter& printer() { return printer_; }
  sim::Sandbox& sandbox() { return sandbox_; }
  const std::string& error() const { return error_; }
  uint64_t calls() const { return calls_; }

  // ---- a register's work, each a few host commands -------------------------
  // Tables (cashiers 1 and 2, sections 1 to 3, a 5 % discount), the serial
  // number and the registration with two VAT rates.
  bool SetUp();
  bool OpenShift(uint8_t cashier = 1);
  bool CloseShift(uint8_t cashier = 1);
  bool CashIn(int64_t kopecks, uint8_t cashier = 1);
  bool CashOut(int64_t kopecks, uint8_t cashier = 1);
  // Opens, adds the lines, pays as told and closes.
  bool Receipt(uint8_t type, const std::vector<host::Line>& lines, int64_t cash, int64_t cashless, uint8_t cashier = 1);
  // The same in steps, for a payment that depends on the total.
  bool OpenReceipt(uint8_t type, uint8_t cashier = 1);
  bool AddLine(const host::Line& line);
  // The open receipt's total (command 176); -1 when it cannot be had.
  int64_t OpenTotal();
  bool CloseReceipt(int64_t cash, int64_t cashless);
  // Command 177 of that kind with its arguments.
  bool Report(uint8_t kind, const std::string& args = "", uint8_t cashier = 1);

 private:
  bool Document(uint8_t open, const std::string& open_data, uint8_t close, const std::string& close_data,
                uint8_t cashier);

  sim::Sandbox sandbox_;
  std::unique_ptr<BoardEnv> env_;
  PrimedPrinter printer_;
  PrinterMode mode_;
  std::unique_ptr<CoreWorker> core_;
  uint32_t next_id_ = 1;
  uint64_t calls_ = 0;
  std::string error_;
};

// The CP866 name of cashier n (1 or 2) as the tables hold it.
std::string ClerkName(uint8_t n);

// A shop's ten-line receipt: pieces, weighed goods, both tax rates, three
// sections, a discount.
std::vector<host::Line> TenLines();

}  // namespace gen

#endif  // FR_TOOLS_GEN_DEVICE_H_
