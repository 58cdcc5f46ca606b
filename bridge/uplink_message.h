// The uplink's messages and settings, apart from the MQTT client: the
// site's name, the topics, and a
// back-office request decoded into the HTTP route that serves it.
#ifndef FR_BRIDGE_UPLINK_MESSAGE_H_
#define FR_BRIDGE_UPLINK_MESSAGE_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "bridge/request.h"
#include "host/broker.h"
#include "host/status.h"

namespace bridge {

struct UplinkOptions {
  host::Broker broker;
  std::string site;
  size_t max_request_bytes = 1024 * 1024;
};

// A site is 1 to 64 of [a-z0-9_-].
bool ValidSite(const std::string& site);

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
