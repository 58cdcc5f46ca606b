// A Linux serial device in raw mode with an exact baud rate. The kernel's
// termios2 interface (BOTHER) carries any speed, standard or not. Reads and
// writes are single system calls: framing and retrying belong to the caller.
//
// REQUIRES: External synchronization (one thread per instance).
#ifndef FR_SERIAL_SERIALPORT_H_
#define FR_SERIAL_SERIALPORT_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/env.h"

// Only declared here: the kernel's <asm/termbits.h> clashes with libc's
// <termios.h>, and includers must stay free to use either.
struct termios2;

namespace rs {

// A baud rate outside the standard table; tags the custom-speed constructor
// so that it cannot be mistaken for a speed code.
struct CustomSpeed {
  uint32_t baud;
};

class SerialPort {
 public:
  enum SpeedMode { kStandardSpeed = 0, kCustomSpeed = 1 };

  // Speed codes index the standard table: 0 -> 0, 1 -> 50, ... 13 -> 9600,
  // 16 -> 57600, 17 -> 115200, 18 -> 230400, 19 -> 460800.
  static constexpr int kDefaultSpeedCode = 16;
  // Data bits codes 0..3 are 5..8 bits.
  static constexpr int kDefaultDataBitsCode = 3;
  // Parity: 0 none, 1 even, 2 odd. Stop bits: 0 one, 1 two.
  static constexpr int kNoParity = 0;
  static constexpr int kEvenParity = 1;
  static constexpr int kOddParity = 2;
  // Read time-out in milliseconds: -1 blocks for the first byte, 0 returns at
  // once, up to kMaxReadTimeout waits in tenths of a second (rounded down).
  static constexpr int kBlockingRead = -1;
  static constexpr int kMaxReadTimeout = 25500;

  // None of the constructors opens the device. `env` must outlive the port.
  SerialPort(platform::Env* env, std::string path, int speed_code);
  SerialPort(platform::Env* env, std::string path, CustomSpeed speed);
  SerialPort(platform::Env* env, std::string path, int speed_code, int data_bits_code,
             int parity, int stop_bits);
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;
  // Closes the device; a failing close is ignored.
  virtual ~SerialPort();

  // Opens the device through the Env and configures it. On any failure the
  // port stays closed with no descriptor held. An already open port is
  // closed first. Throws std::runtime_error for a speed code outside 0..19.
  bool open();
  // Returns the result of close(2), or 0 when nothing was open.
  int close();
  bool isOpen() const;

  // One read(2) of at most n bytes. On a positive count `buffer` holds
  // exactly the bytes read; on 0 (time-out, end of data) it is untouched.
  // -1 when closed or on failure.
  int read(std::string& buffer, size_t n);
  // One write(2) of all the bytes; a short count is not retried. -1 when
  // closed or on failure.
  int write(const std::string& bytes);
  // Bytes ready to read (FIONREAD); -1 when closed or on failure.
  int bytesWaiting();

  // Each setter stores the value; on an open port it also reconfigures the
  // device at once and returns what configureTermios() returned.
  bool setSpeedCode(int code);  // selects standard mode
  bool setCustomSpeed(uint32_t baud);  // selects custom mode
  bool setDataBitsCode(int code);
  bool setParity(int parity);
  bool setStopBits(int stop_bits);
  bool setEcho(bool echo);
  // Takes effect at the next open. Returns false (value kept) while open or
  // for t outside -1..kMaxReadTimeout.
  bool setReadTimeout(int timeout_ms);
  // An open descriptor is reconfigured, not reopened.
  bool setPath(const std::string& path);

  SpeedMode speedMode() const { return speed_mode_; }
  int speedCode() const { return speed_code_; }
  uint32_t customSpeed() const { return custom_speed_; }
  int dataBitsCode() const { return data_bits_code_; }
  int parity() const { return parity_; }
  int stopBits() const { return stop_bits_; }
  bool echo() const { return echo_; }
  int readTimeout() const { return read_timeout_ms_; }
  const std::string& path() const { return path_; }
  int descriptor() const { return fd_; }

  // The raw settings of the descriptor (TCGETS2 / TCSETS2).
  bool getTermios(struct termios2* tio) const;
  bool setTermios(const struct termios2& tio);

  // Applies the stored settings to the descriptor: raw mode, framing, speed
  // and read timing. False for a bad data bits, parity or stop bits value
  // (nothing applied) or when the settings cannot be read. Throws
  // std::runtime_error for a speed code outside the table.
  bool configureTermios();

 private:
  enum State { kClosed = 0, kOpen = 1 };

  // Reconfigures when open; a closed port only stores.
  bool reconfigureIfOpen();

  platform::Env* const env_;
  State state_ = kClosed;
  std::string path_;
  SpeedMode speed_mode_ = kStandardSpeed;
  int speed_code_ = kDefaultSpeedCode;
  uint32_t custom_speed_ = 0;
  int data_bits_code_ = kDefaultDataBitsCode;
  int parity_ = kNoParity;
  int stop_bits_ = 0;
  int fd_ = -1;
  bool echo_ = false;
  int read_timeout_ms_ = kBlockingRead;
};

}  // namespace rs

#endif  // FR_SERIAL_SERIALPORT_H_
