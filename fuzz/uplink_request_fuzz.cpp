// A back-office request message on arbitrary bytes, and its topic's id:
// whatever the broker delivers, a decoded request names one of the
// register's routes with a JSON object for its body, and a refusal is a
// problem of the request's own (400 or 413) with a reason.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <nlohmann/json.hpp>

#include "bridge/uplink_message.h"

namespace {

void Check(bool ok) {
  if (!ok) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string payload(reinterpret_cast<const char*>(data), size);
  bridge::UplinkRequest r;
  bridge::Problem p;
  if (bridge::DecodeUplinkRequest("main", payload, 4096, &r, &p)) {
    Check(payload.size() <= 4096);
    Check(r.path.rfind("/v1/registers/main/", 0) == 0);
    Check(nlohmann::json::parse(r.body, nullptr, false).is_object());
  } else {
    Check(p.status == 400 || p.status == 413);
    Check(p.code.rfind("request.", 0) == 0 && !p.detail.empty());
  }
  // An id is one topic level: no separator, wildcard or control byte.
  if (bridge::ValidRequestId(payload)) {
    Check(!payload.empty() && payload.size() <= 128);
    Check(payload.find_first_of("/+#\0 ", 0, 5) == std::string::npos);
  }
  return 0;
}
