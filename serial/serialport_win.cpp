// The serial device on Windows, where only the host tools are built: the
// board layer opens no serial device there (BoardEnv::OpenSerial fails),
// so a port never opens and every call on it fails as on a closed port.
#include "serial/serialport.h"

namespace rs {

bool SerialPort::open() {
  close();
  return false;
}

int SerialPort::close() {
  fd_ = -1;
  state_ = kClosed;
  return 0;
}

int SerialPort::read(std::string& buffer, size_t n) { return -1; }
int SerialPort::write(const std::string& bytes) { return -1; }
int SerialPort::bytesWaiting() { return -1; }
bool SerialPort::getTermios(struct termios2* tio) const { return false; }
bool SerialPort::setTermios(const struct termios2& tio) { return false; }
bool SerialPort::configureTermios() { return false; }

}  // namespace rs
