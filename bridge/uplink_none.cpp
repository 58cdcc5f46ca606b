// The uplink where no MQTT client library can be built (the Windows build):
// a bridge configured with one refuses to start instead of running without
// it.
#include "bridge/uplink.h"

namespace bridge {

Uplink::Uplink(const UplinkOptions& options, Server* server, Worker* worker, Journal* journal, Events* events, Log* log)
    : options_(options), server_(server), worker_(worker), journal_(journal), events_(events), log_(log) {}

Uplink::~Uplink() = default;

host::Status Uplink::Start() {
  return host::Status::Invalid(
      "--uplink: this build of fr-bridge has no MQTT client; run the uplink from a Linux bridge");
}

void Uplink::Stop() {}

}  // namespace bridge
