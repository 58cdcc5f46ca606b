#include "bridge/uplink_message.h"

#include <map>

#include <nlohmann/json.hpp>

#include "host/protocol.h"

namespace bridge {

namespace {

bool SiteChar(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-'; }

}  // namespace

bool ValidSite(const std::string& site) {
  if (site.empty() || site.size() > 64) return false;
  for (char c : site) {
    if (!SiteChar(c)) return false;
  }
  return true;
}

bool ValidRequestId(const std::string& id) {
  if (id.empty() || id.size() > 128) return false;
  for (char c : id) {
    const bool ok =
        (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
    if (!ok) return false;
  }
  return true;
}

bool DecodeUplinkRequest(const std::string& register_name, const std::string& payload, size_t max_bytes,
                         UplinkRequest* out, Problem* problem) {
  auto refuse = [&](const std::string& detail, const std::string& pointer = "") {
    *problem = MakeProblem(400, "request.invalid", detail, pointer);
    return false;
  };
  if (payload.size() > max_bytes) {
    *problem =
        MakeProblem(413, "request.too-large", "the request is larger than " + std::to_string(max_bytes) + " bytes");
    return false;
  }
  const nlohmann::json j = nlohmann::json::parse(payload, nullptr, /*allow_exceptions=*/false);
  if (!j.is_object()) return refuse("the request is not a JSON object");
  if (!j.contains("action") || !j["action"].is_string()) return refuse("no action", "/action");
  if (!j.contains("body") || !j["body"].is_object()) return refuse("the body is not a JSON object", "/body");
  // The back office's actions, each the route HTTP serves it by.
  static const std::map<std::string, std::string> kRoutes = {
      {"receipt", "/receipts"}, {"shift-open", "/shift/open"}, {"shift-close", "/shift/close"},
      {"cash-in", "/cash-in"},  {"cash-out", "/cash-out"},     {"copy", "/copies"},
      {"cancel", "/cancel"},    {"report", "/reports/"},
  };
  const std::string action = j["action"].get<std::string>();
  const auto route = kRoutes.find(action);
  if (route == kRoutes.end()) return refuse("no action " + action, "/action");
  nlohmann::json body = j["body"];
  out->path = "/v1/registers/" + register_name + route->second;
  if (action == "report") {
    if (!body.contains("kind") || !body["kind"].is_string()) return refuse("a report names its kind", "/body/kind");
    const std::string kind = body["kind"].get<std::string>();
    if (kind.empty() || kind.size() > 32 ||
        kind.find_first_not_of("abcdefghijklmnopqrstuvwxyz-") != std::string::npos) {
      return refuse("no report " + kind, "/body/kind");
    }
    out->path += kind;
    body.erase("kind");
  }
  out->body = body.dump();
  out->not_after = 0;
  if (j.contains("not_after")) {
    if (!j["not_after"].is_string() || !host::ParseTime(j["not_after"].get<std::string>(), &out->not_after)) {
      return refuse("not_after is not an RFC 3339 time", "/not_after");
    }
  }
  return true;
}

std::string UplinkTopic(const std::string& site, const std::string& register_name, const std::string& leaf) {
  return "fr/v1/" + site + "/" + register_name + "/" + leaf;
}

}  // namespace bridge
