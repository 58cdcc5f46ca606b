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

host::Status ParseUplinkUrl(const std::string& url, UplinkOptions* out) {
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
    return host::Status::Invalid("--uplink: not mqtt://HOST:PORT or mqtts://HOST:PORT: " + url);
  }
  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  const size_t colon = rest.rfind(':');
  out->host = rest.substr(0, colon);
  if (colon != std::string::npos) {
    const std::string port = rest.substr(colon + 1);
    if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(port) < 1 || std::stoi(port) > 65535) {
      return host::Status::Invalid("--uplink: bad port in " + url);
    }
    out->port = std::stoi(port);
  }
  if (out->host.empty() || out->host.find_first_of("/@?# ") != std::string::npos) {
    return host::Status::Invalid("--uplink: bad host in " + url);
  }
  return host::Status::OK();
}

host::Status ParseUplinkCredentials(const std::string& text, UplinkOptions* out) {
  std::string line = text.substr(0, text.find('\n'));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  const size_t space = line.find(' ');
  if (space == std::string::npos || space == 0 || space + 1 == line.size()) {
    return host::Status::Invalid("the uplink's credentials are not one line \"USER PASSWORD\"");
  }
  out->user = line.substr(0, space);
  out->password = line.substr(space + 1);
  return host::Status::OK();
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
