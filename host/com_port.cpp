#include "host/com_port.h"

#include <cctype>

namespace host {

std::string ComDevicePath(const std::string& name) {
  static const char kDevicePrefix[] = "\\\\.\\";
  const bool prefixed = name.compare(0, sizeof kDevicePrefix - 1, kDevicePrefix) == 0;
  const std::string port = prefixed ? name.substr(sizeof kDevicePrefix - 1) : name;
  if (port.size() < 4 || port.size() > 6) return "";  // COM1 to COM255
  for (size_t i = 0; i < 3; ++i) {
    if (std::toupper(static_cast<unsigned char>(port[i])) != "COM"[i]) return "";
  }
  if (port[3] == '0') return "";
  for (size_t i = 3; i < port.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(port[i]))) return "";
  }
  if (std::stoi(port.substr(3)) > 255) return "";
  return kDevicePrefix + std::string("COM") + port.substr(3);
}

ComTimeouts ComReadTimeouts(int64_t wait_ms) {
  ComTimeouts t;
  t.read_interval = kMaxDword;
  if (wait_ms > 0) {
    t.read_multiplier = kMaxDword;
    t.read_constant = wait_ms < kMaxDword - 1 ? static_cast<uint32_t>(wait_ms) : kMaxDword - 1;
  }
  t.write_constant = kComWriteMs;
  return t;
}

}  // namespace host
