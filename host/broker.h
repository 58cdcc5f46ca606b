// An MQTT broker as host programs name it: mqtt://HOST:PORT or
// mqtts://HOST:PORT (the port defaults to 1883 and 8883), and a credentials
// file of one line "USER PASSWORD".
#ifndef FR_HOST_BROKER_H_
#define FR_HOST_BROKER_H_

#include <string>

#include "host/status.h"

namespace host {

struct Broker {
  std::string host;
  int port = 1883;
  bool tls = false;
  std::string user, password;  // none when user is empty
  std::string ca_file;         // TLS: the broker's CA; empty: the system's
};

Status ParseBrokerUrl(const std::string& url, Broker* out);
Status ParseBrokerCredentials(const std::string& text, Broker* out);

}  // namespace host

#endif  // FR_HOST_BROKER_H_
