// A Windows COM port's name and settings, as the Win32 calls take them
// (CreateFile, SetCommState, SetCommTimeouts); kept apart from the calls so
// that the tests on every system check them.
#ifndef FR_HOST_COM_PORT_H_
#define FR_HOST_COM_PORT_H_

#include <cstdint>
#include <string>

namespace host {

// The device path CreateFile opens for a COM port's name: COM3 and com3 as
// \\.\COM3 (the only form that reaches COM10 and above), \\.\COM12 as it
// is; "" when `name` is not a COM port.
std::string ComDevicePath(const std::string& name);

// The register's line: 115200 baud, 8 data bits, no parity, one stop bit,
// no flow control of either kind, DTR and RTS raised (USB adapters and
// device servers pass them to the register's side).
struct ComSettings {
  uint32_t baud = 115200;
  uint8_t byte_size = 8;
  uint8_t parity = 0;     // NOPARITY
  uint8_t stop_bits = 0;  // ONESTOPBIT
  bool rts_cts = false, dtr_dsr = false, xon_xoff = false;
};

// COMMTIMEOUTS for one read that waits up to `wait_ms` for its first byte.
// With ReadIntervalTimeout and ReadTotalTimeoutMultiplier both MAXDWORD,
// ReadFile returns at once with what is there, else with the first bytes to
// come, else after ReadTotalTimeoutConstant ms, which must then lie between
// 1 and MAXDWORD - 1. A wait of 0 instead asks for what is there and no more
// (interval MAXDWORD, both totals 0). A write that the port cannot pass on
// (a stalled adapter) fails after kComWriteMs instead of hanging.
struct ComTimeouts {
  uint32_t read_interval = 0, read_multiplier = 0, read_constant = 0;
  uint32_t write_multiplier = 0, write_constant = 0;
};
constexpr uint32_t kMaxDword = 0xFFFFFFFFu;
constexpr uint32_t kComWriteMs = 2000;
ComTimeouts ComReadTimeouts(int64_t wait_ms);

}  // namespace host

#endif  // FR_HOST_COM_PORT_H_
