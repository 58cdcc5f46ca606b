#include "host/broker.h"

namespace host {

Status ParseBrokerUrl(const std::string& url, Broker* out) {
  std::string rest;
  if (url.rfind("mqtt://", 0) == 0) {
    out->tls = false;
    out->port = 1883;
    rest = url.substr(7);
  } else if (url.rfind("mqtts://", 0) == 0) {
    out->tls = true;
    out->port = 8883;
    rest = url.substr(8);
  } else {
    return Status::Invalid("not mqtt://HOST:PORT or mqtts://HOST:PORT: " + url);
  }
  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  const size_t colon = rest.rfind(':');
  out->host = rest.substr(0, colon);
  if (colon != std::string::npos) {
    const std::string port = rest.substr(colon + 1);
    if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(port) < 1 || std::stoi(port) > 65535) {
      return Status::Invalid("bad port in " + url);
    }
    out->port = std::stoi(port);
  }
  if (out->host.empty() || out->host.find_first_of("/@?# ") != std::string::npos) {
    return Status::Invalid("bad host in " + url);
  }
  return Status::OK();
}

Status ParseBrokerCredentials(const std::string& text, Broker* out) {
  std::string line = text.substr(0, text.find('\n'));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  const size_t space = line.find(' ');
  if (space == std::string::npos || space == 0 || space + 1 == line.size()) {
    return Status::Invalid("the broker's credentials are not one line \"USER PASSWORD\"");
  }
  out->user = line.substr(0, space);
  out->password = line.substr(space + 1);
  return Status::OK();
}

}  // namespace host
