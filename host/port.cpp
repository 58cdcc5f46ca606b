#include "host/port.h"

#include <climits>

namespace host {
namespace {
constexpr char kTcpScheme[] = "tcp://";
}  // namespace

bool IsTcpAddress(const std::string& address) { return address.compare(0, sizeof kTcpScheme - 1, kTcpScheme) == 0; }

bool ParseTcpAddress(const std::string& address, std::string* host, std::string* port) {
  if (!IsTcpAddress(address)) return false;
  const std::string rest = address.substr(sizeof kTcpScheme - 1);
  const size_t colon = rest.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == rest.size()) return false;
  *host = rest.substr(0, colon);
  if (host->size() > 2 && host->front() == '[' && host->back() == ']') *host = host->substr(1, host->size() - 2);
  *port = rest.substr(colon + 1);
  return port->find_first_not_of("0123456789") == std::string::npos;
}

int MillisLeft(Port::Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Port::Clock::now()).count();
  return left <= 0 ? 0 : left >= INT_MAX ? INT_MAX : static_cast<int>(left);
}

}  // namespace host
