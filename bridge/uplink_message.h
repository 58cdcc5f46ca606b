// The uplink's messages and settings, apart from the MQTT client: the
// broker's address, the site's name, the credentials file, the topics, and a
// back-office request decoded into the HTTP route that serves it.
#ifndef FR_BRIDGE_UPLINK_MESSAGE_H_
#define FR_BRIDGE_UPLINK_MESSAGE_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "bridge/request.h"
#include "host/status.h"

namespace bridge {

struct UplinkOptions {
  std::string host;
  int port = 1883;
  bool tls = false;
  std::string site;
  std::string user, password;  // none when user is empty
  std::string ca_file;         // TLS: the broker's CA; empty: the system's
  size_t max_request_bytes = 1024 * 1024;
};

// `url` is mqtt://HOST:PORT or mqtts://HOST:PORT (the port defaults to 1883
// and 8883); a site is 1 to 64 of [a-z0-9_-].
host::Status ParseUplinkUrl(const std::string& url, UplinkOptions* out);
bool ValidSite(const std::string& site);
// One line "USER PASSWORD".
host::Status ParseUplinkCredentials(const std::string& text, UplinkOptions* out);

// A back-office request, decoded: the route under /v1/registers/{name} and
// the body it takes.
struct UplinkRequest {
  std::string path;
  std::string body;
  uint32_t not_after = 0;  // seconds since 1970; 0: none
};
// 1 to 128 of A-Z a-z 0-9 . _ - (one topic level, and an Idempotency-Key).
bool ValidRequestId(const std::string& id);
// False with *problem (a 400) for anything that must not reach the register.
bool DecodeUplinkRequest(const std::string& register_name, const std::string& payload, size_t max_bytes,
                         UplinkRequest* out, Problem* problem);

// The topic under fr/v1/{site}/{register}/.
std::string UplinkTopic(const std::string& site, const std::string& register_name, const std::string& leaf);

}  // namespace bridge

#endif  // FR_BRIDGE_UPLINK_MESSAGE_H_
