#include "serial/serialport.h"

#include <utility>

namespace rs {

SerialPort::SerialPort(platform::Env* env, std::string path, int speed_code)
    : env_(env), path_(std::move(path)), speed_code_(speed_code) {}

SerialPort::SerialPort(platform::Env* env, std::string path, CustomSpeed speed)
    : env_(env), path_(std::move(path)), speed_mode_(kCustomSpeed), custom_speed_(speed.baud) {}

SerialPort::SerialPort(platform::Env* env, std::string path, int speed_code, int data_bits_code,
                       int parity, int stop_bits)
    : env_(env),
      path_(std::move(path)),
      speed_code_(speed_code),
      data_bits_code_(data_bits_code),
      parity_(parity),
      stop_bits_(stop_bits) {}

SerialPort::~SerialPort() { close(); }

bool SerialPort::isOpen() const { return state_ == kOpen && fd_ > 0; }

bool SerialPort::reconfigureIfOpen() { return state_ == kOpen ? configureTermios() : true; }

bool SerialPort::setSpeedCode(int code) {
  speed_mode_ = kStandardSpeed;
  speed_code_ = code;
  return reconfigureIfOpen();
}

bool SerialPort::setCustomSpeed(uint32_t baud) {
  speed_mode_ = kCustomSpeed;
  custom_speed_ = baud;
  return reconfigureIfOpen();
}

bool SerialPort::setDataBitsCode(int code) {
  data_bits_code_ = code;
  return reconfigureIfOpen();
}

bool SerialPort::setParity(int parity) {
  parity_ = parity;
  return reconfigureIfOpen();
}

bool SerialPort::setStopBits(int stop_bits) {
  stop_bits_ = stop_bits;
  return reconfigureIfOpen();
}

bool SerialPort::setEcho(bool echo) {
  echo_ = echo;
  return reconfigureIfOpen();
}

bool SerialPort::setReadTimeout(int timeout_ms) {
  // VMIN/VTIME are only written by configureTermios at open.
  if (state_ == kOpen || timeout_ms < kBlockingRead || timeout_ms > kMaxReadTimeout) return false;
  read_timeout_ms_ = timeout_ms;
  return true;
}

bool SerialPort::setPath(const std::string& path) {
  path_ = path;
  return reconfigureIfOpen();
}

}  // namespace rs
