#include "bridge/server.h"

#include <strings.h>

#include <chrono>
#include <functional>
#include <regex>
#include <sstream>

#include <httplib.h>

#include "bridge/console.h"
#include "bridge/crypto.h"
#include "bridge/net.h"
#include "util/coding.h"

namespace bridge {

// docs/bridge-openapi.json, built in.
extern const char kOpenApiJson[];

namespace {

constexpr size_t kListedSheets = 50;  // the newest paper the console shows

// What the logger and the metrics need of the request being served; each
// request is served on one thread from start to end.
thread_local std::string t_route;
thread_local std::string t_task;
thread_local std::chrono::steady_clock::time_point t_started;
thread_local BoundedStream* t_stream = nullptr;
thread_local bool t_close = false;  // end the connection after this answer

// The request may still have a body on the line that nobody read.
bool HasBody(const httplib::Request& req) {
  return req.has_header("Transfer-Encoding") ||
         (req.has_header("Content-Length") && req.get_header_value("Content-Length") != "0");
}

// httplib's server with its connections handed to the door, which calls
// back to serve one request at a time.
class InlineQueue : public httplib::TaskQueue {
 public:
  void enqueue(std::function<void()> fn) override { fn(); }
  void shutdown() override {}
};

// TLS too is the door's: httplib sees plain streams only.
class Guarded : public httplib::Server {
 public:
  explicit Guarded(Door* door) : door_(door) {
    new_task_queue = [] { return new InlineQueue; };
  }
  // httplib listens with a backlog of 5: a burst of tills connecting at
  // once overflows it and some of them lose their request.
  void Widen(int backlog) { net::Listen(svr_sock_, backlog); }
  // True when the connection may carry another request.
  bool Serve(httplib::Stream& s) {
    bool closed = false;
    return process_request(s, false, closed, nullptr) && !closed;
  }

 private:
  bool process_and_close_socket(socket_t sock) override {
    door_->Admit(sock);
    return true;
  }
  Door* const door_;
};

Problem UnknownRegister(const std::string& name) {
  return MakeProblem(404, "route.unknown-register", "no register " + name);
}

bool HeaderKeyOk(const std::string& key) {
  if (key.empty() || key.size() > kMaxKeyLength) return false;
  for (unsigned char c : key) {
    if (c < 0x21 || c > 0x7E) return false;
  }
  return true;
}

// The request as its parsed JSON reads: key order and spacing are not the
// request, values are.
std::string CanonicalBody(const std::string& body) {
  const json j = json::parse(body, nullptr, false);
  return j.is_discarded() ? body : j.dump();
}

// What the journal keeps of a request, so that a job settled by the next
// run of the bridge still knows its document: the path and the body, less
// the cashier's password.
std::string KeptRequest(const std::string& path, const std::string& body) {
  json j = json::parse(body, nullptr, false);
  if (j.is_object() && j.contains("cashier") && j["cashier"].is_object()) j["cashier"].erase("password");
  return Dump({{"path", path}, {"body", j.is_discarded() ? json(nullptr) : j}});
}

// The job of a journaled request; false when it is not there or does not
// decode (a journal from before requests were kept).
bool JobOfRequest(Action action, const std::string& request, Job* job) {
  const json r = json::parse(request, nullptr, false);
  if (!r.is_object() || !r.contains("body") || !r["body"].is_object() || !r.contains("path") ||
      !r["path"].is_string()) {
    return false;
  }
  json body = r["body"];
  if (body.contains("cashier") && body["cashier"].is_object()) body["cashier"]["password"] = 0;  // never sent again
  const std::string path = r["path"];
  Problem p;
  return DecodeJob(action, path.substr(path.rfind('/') + 1), "", body.dump(), job, &p);
}

// A keyed job the register refused stored nothing, and its key answers that
// refusal for good: the POS is told that trying again takes a new key.
Outcome AsKeyedAnswer(Outcome o, bool replayed) {
  if (!o.problem || o.status < 400 || o.status >= 500) return o;
  json j = json::parse(o.body, nullptr, false);
  if (!j.is_object()) return o;
  j["retry"] = "new-key";
  if (replayed) {
    j["detail"] = "this key's request was refused and nothing was stored (" + j.value("detail", std::string()) +
                  "); to try again, send it with a new Idempotency-Key";
  }
  o.body = Dump(j);
  return o;
}

std::string RandomHex(size_t bytes) {
  std::string raw(bytes, '\0');
  if (!crypto::RandomBytes(&raw[0], bytes)) throw std::runtime_error("no random bytes");
  return util::HexUpper(raw);
}

}  // namespace

// ---- tokens and hashes -------------------------------------------------------

std::string Sha256(const std::string& data) {
  std::string digest = crypto::Sha256(data);
  // Never an empty digest: two failures would compare equal.
  if (digest.empty()) throw std::runtime_error("no SHA-256");
  return digest;
}

std::string HmacHex(const std::string& secret, const std::string& data) {
  const std::string mac = crypto::HmacSha256(secret, data);
  if (mac.empty()) throw std::runtime_error("no HMAC-SHA-256");
  return util::HexUpper(mac);
}

std::string NewToken() {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  unsigned char raw[43];
  if (!crypto::RandomBytes(raw, sizeof raw)) throw std::runtime_error("no random bytes");
  std::string t;
  for (unsigned char c : raw) t += kAlphabet[c % 64];
  return t;
}

host::Status ParseTokens(const std::string& text, std::vector<Token>* out) {
  std::istringstream in(text);
  std::string line;
  for (int n = 1; std::getline(in, line); ++n) {
    line = line.substr(0, line.find('#'));
    std::istringstream words(line);
    std::string role, token, name;
    if (!(words >> role)) continue;
    words >> token;
    std::getline(words, name);
    name.erase(0, name.find_first_not_of(" \t"));
    Token t;
    t.role = role == "admin" ? Role::kAdmin : role == "pos" ? Role::kPos : Role::kNone;
    if (t.role == Role::kNone || token.size() < 16) {
      return host::Status::Invalid("line " + std::to_string(n) +
                                   ": expected ROLE TOKEN NAME, ROLE admin or pos, TOKEN 16 characters or more");
    }
    t.digest = Sha256(token);
    t.name = name;
    out->push_back(t);
  }
  return host::Status::OK();
}

// ---- routes ------------------------------------------------------------------

using Req = httplib::Request;
using Res = httplib::Response;

struct Server::Route {
  const char* method;
  const char* path;     // as documented: /v1/registers/{name}/status
  const char* pattern;  // as matched; groups are the path's parameters
  bool open;            // no token needed
  std::function<void(Server*, const Req&, Res&, Role)> serve;
};

const std::vector<Server::Route>& Server::Table() {
  auto job = [](Action action, int segment = 0, int record = 0) {
    return [=](Server* s, const Req& req, Res& res, Role role) {
      s->RunJob(req, res, role, action, segment > 0 ? req.matches[segment].str() : "",
                record > 0 ? req.matches[record].str() : "");
    };
  };
  auto page = [](void (Server::*f)(const Req&, Res&, Role)) {
    return [f](Server* s, const Req& req, Res& res, Role role) { (s->*f)(req, res, role); };
  };
#define FR_REG "/v1/registers/([a-z0-9_-]{1,32})"
  static const std::vector<Route> table = {
      {"GET", "/", "/", true, page(&Server::ConsolePage)},
      {"GET", "/console/{file}", "/console/([a-z0-9_-]{1,32}\\.[a-z]{1,4})", true, page(&Server::ConsolePage)},
      {"GET", "/healthz", "/healthz", true, page(&Server::Health)},
      {"GET", "/metrics", "/metrics", false, page(&Server::MetricsPage)},
      {"GET", "/v1/openapi.json", "/v1/openapi.json", true, page(&Server::OpenApi)},
      {"GET", "/v1/registers", "/v1/registers", false, page(&Server::Registers)},
      {"GET", "/v1/registers/{name}", FR_REG, false, page(&Server::OneRegister)},
      {"GET", "/v1/registers/{name}/status", FR_REG "/status", false, page(&Server::Status)},
      {"GET", "/v1/registers/{name}/documents", FR_REG "/documents", false, page(&Server::Documents)},
      {"GET", "/v1/registers/{name}/documents/{number}", FR_REG "/documents/([0-9]{1,10})", false,
       page(&Server::OneDocument)},
      {"GET", "/v1/registers/{name}/paper", FR_REG "/paper", false, page(&Server::Paper)},
      {"GET", "/v1/registers/{name}/paper/{file}", FR_REG "/paper/([0-9]{4,9}\\.[a-z]{3,4})", false,
       page(&Server::PaperSheet)},
      {"POST", "/v1/registers/{name}/receipts", FR_REG "/receipts", false, job(Action::kReceipt)},
      {"POST", "/v1/registers/{name}/receipts/preview", FR_REG "/receipts/preview", false, job(Action::kPreview)},
      {"GET", "/v1/registers/{name}/tax-rates", FR_REG "/tax-rates", false, job(Action::kTaxRates)},
      {"POST", "/v1/registers/{name}/cancel", FR_REG "/cancel", false, job(Action::kCancel)},
      {"POST", "/v1/registers/{name}/shift/open", FR_REG "/shift/open", false, job(Action::kShiftOpen)},
      {"POST", "/v1/registers/{name}/shift/close", FR_REG "/shift/close", false, job(Action::kShiftClose)},
      {"POST", "/v1/registers/{name}/cash-in", FR_REG "/cash-in", false, job(Action::kCashIn)},
      {"POST", "/v1/registers/{name}/cash-out", FR_REG "/cash-out", false, job(Action::kCashOut)},
      {"POST", "/v1/registers/{name}/reports/{kind}", FR_REG "/reports/([a-z-]{1,32})", false, job(Action::kReport, 2)},
      {"POST", "/v1/registers/{name}/copies", FR_REG "/copies", false, job(Action::kCopy)},
      {"GET", "/v1/registers/{name}/tables/{table}/{number}", FR_REG "/tables/([a-z]{1,16})/([0-9]{1,3})", false,
       job(Action::kReadTable, 2, 3)},
      {"PUT", "/v1/registers/{name}/tables/{table}/{number}", FR_REG "/tables/([a-z]{1,16})/([0-9]{1,3})", false,
       job(Action::kWriteTable, 2, 3)},
      {"GET", "/v1/registers/{name}/clock", FR_REG "/clock", false, job(Action::kReadClock)},
      {"PUT", "/v1/registers/{name}/clock", FR_REG "/clock", false, job(Action::kSetClock)},
      {"PUT", "/v1/registers/{name}/serial-number", FR_REG "/serial-number", false, job(Action::kSetSerial)},
      {"POST", "/v1/registers/{name}/registration", FR_REG "/registration", false, job(Action::kRegistration)},
      {"GET", "/v1/registers/{name}/totals/{record}", FR_REG "/totals/([a-z]{1,16})", false, job(Action::kTotals, 2)},
      {"GET", "/v1/tasks/{id}", "/v1/tasks/([0-9A-F]{1,64})", false, page(&Server::TaskPage)},
      {"GET", "/v1/events", "/v1/events", false, page(&Server::EventStream)},
  };
#undef FR_REG
  return table;
}

std::vector<std::string> Server::Routes() {
  std::vector<std::string> out;
  for (const Route& r : Table()) out.push_back(std::string(r.method) + " " + r.path);
  return out;
}

Outcome Server::Serve(const std::string& method, const std::string& path, const std::string& key,
                      const std::string& body) {
  for (const Route& r : Table()) {
    if (method != r.method) continue;
    httplib::Request req;
    req.method = method;
    req.path = path;
    req.body = body;
    if (!key.empty()) req.set_header("Idempotency-Key", key);
    // The match refers into req.path, which lives as long as req.
    if (!std::regex_match(req.path, req.matches, std::regex(r.pattern))) continue;
    httplib::Response res;
    t_route = r.path;
    t_task.clear();
    r.serve(this, req, res, Role::kAdmin);
    return Outcome{res.status, res.body, res.get_header_value("Content-Type") == "application/problem+json"};
  }
  return ProblemOutcome(MakeProblem(404, "route.not-found", "no route " + method + " " + path), "");
}

// ---- the server ----------------------------------------------------------------

Server::Server(ServerOptions options, Journal* journal, Events* events, Metrics* metrics, Log* log)
    : options_(std::move(options)), journal_(journal), events_(events), metrics_(metrics), log_(log) {
  door_ = std::make_unique<Door>(
      options_.limits, [this](const std::string& authorization) { return RoleOf(authorization) != Role::kNone; },
      [this](int status, const std::string& code, const std::string& address) {
        metrics_->Request("door", status);
        log_->Write({{"route", "door"}, {"status", status}, {"code", code}, {"address", address}});
      });
  if (!options_.tls_cert.empty()) {
    tls_ = TlsContext::Load(options_.tls_cert, options_.tls_key, &tls_error_);
    door_->set_tls(tls_.get());
  }
  auto h = std::make_unique<Guarded>(door_.get());
  std::function<bool(httplib::Stream&)> serve = [p = h.get()](httplib::Stream& s) { return p->Serve(s); };
  widen_ = [p = h.get()](int backlog) { p->Widen(backlog); };
  http_ = std::move(h);
  door_->set_serve([serve](BoundedStream& s) {
    // Whatever the request turns out to be, it is logged as itself.
    t_route = "invalid";
    t_task.clear();
    t_started = std::chrono::steady_clock::now();
    t_close = false;
    t_stream = &s;
    const bool again = serve(s);
    t_stream = nullptr;
    return again && !t_close;
  });
  // The listening address as a client names it, and the names it was given.
  const std::string port = ":" + std::to_string(options_.port);
  std::vector<std::string> names = options_.allow_hosts;
  names.push_back(options_.host.find(':') != std::string::npos ? "[" + options_.host + "]" : options_.host);
  if (options_.host == "127.0.0.1" || options_.host == "::1" || options_.host == "localhost") {
    names.insert(names.end(), {"localhost", "127.0.0.1", "[::1]"});
  }
  for (const std::string& n : names) {
    hosts_.push_back(n);
    hosts_.push_back(n + port);
  }
  Install();
}

Server::~Server() {
  Stop();
  door_->Stop();
}

void Server::AddWorker(Worker* w) { workers_.push_back(w); }

void Server::AddInDoubt(const JournalEntry& e) {
  auto t = std::make_shared<Ticket>();
  t->id = RandomHex(8);
  t->key = e.key;
  t->hash = e.hash;
  t->register_name = e.register_name;
  t->route = e.action;
  t->created = e.created;
  t->request = e.request;
  Action action = Action::kReceipt;
  t->job_known = ActionByName(e.action, &action) && JobOfRequest(action, e.request, &t->job);
  Worker* w = Find(e.register_name);
  if (w == nullptr) {
    log_->Write({{"key", e.key}, {"register", e.register_name}, {"error", "journal entry of an unknown register"}});
    return;
  }
  {
    std::lock_guard<std::mutex> l(mu_);
    running_[e.key] = t;
  }
  Remember(t);
  w->AddInDoubt(t, e);
}

Worker* Server::Find(const std::string& name) {
  for (Worker* w : workers_) {
    if (w->config().name == name) return w;
  }
  return nullptr;
}

void Server::Install() {
  httplib::Server& h = *http_;
  h.set_payload_max_length(options_.limits.body_bytes);
  h.set_keep_alive_timeout(options_.limits.idle_ms / 1000);
  h.set_keep_alive_max_count(100000);
  // An answer's head and body go out in two writes; without this the body
  // waits for the client's delayed acknowledgement (40 ms).
  h.set_tcp_nodelay(true);

  h.set_pre_routing_handler([this](const Req& req, Res& res) {
    using Handled = httplib::Server::HandlerResponse;
    return PreRoute(req, res) ? Handled::Handled : Handled::Unhandled;
  });
  h.set_post_routing_handler([](const Req& req, Res& res) {
    // Answers about registers and jobs are never for a cache, and never
    // read as another type than they say.
    const bool problem = res.get_header_value("Content-Type") == "application/problem+json";
    if ((req.path.compare(0, 4, "/v1/") == 0 || req.path == "/v1" || problem) && !res.has_header("Cache-Control")) {
      res.set_header("Cache-Control", "no-store");
    }
    if (!res.has_header("X-Content-Type-Options")) res.set_header("X-Content-Type-Options", "nosniff");
  });

  for (const Route& r : Table()) {
    const Route* route = &r;
    auto serve = [this, route](const Req& req, Res& res) {
      t_route = route->path;
      Role role = Role::kNone;
      if (!route->open) {
        role = Authenticate(req);
        if (role == Role::kNone) {
          res.set_header("WWW-Authenticate", "Bearer");
          return ReplyProblem(res, MakeProblem(401, "auth.token-required", "a bearer token is required"));
        }
      }
      route->serve(this, req, res, role);
    };
    const std::string method = r.method;
    if (method == "GET") h.Get(r.pattern, serve);
    if (method == "POST") h.Post(r.pattern, serve);
    if (method == "PUT") h.Put(r.pattern, serve);
  }

  h.set_error_handler([this](const Req& req, Res& res) { AnswerError(req, res); });
  h.set_exception_handler([this](const Req&, Res& res, std::exception_ptr e) {
    std::string what = "unknown";
    try {
      std::rethrow_exception(e);
    } catch (const std::exception& x) {
      what = x.what();
    } catch (...) {}
    log_->Write({{"error", what}, {"route", t_route}});
    ReplyProblem(res, MakeProblem(500, "bridge.error", "the bridge failed to serve the request"));
  });
  h.set_logger([this](const Req& req, const Res& res) { LogRequest(req, res); });
}

bool Server::PreRoute(const Req& req, Res& res) {
  // Each route's pattern, compiled once: the checks below need to know the
  // route before the body is read.
  static const std::vector<std::regex> patterns = [] {
    std::vector<std::regex> out;
    for (const Route& r : Table()) out.emplace_back(r.pattern);
    return out;
  }();
  t_route = "unmatched";
  const Route* route = nullptr;
  const std::string method = req.method == "HEAD" ? "GET" : req.method;  // httplib serves HEAD as GET
  for (size_t i = 0; i < Table().size() && route == nullptr; ++i) {
    if (method == Table()[i].method && std::regex_match(req.path, patterns[i])) route = &Table()[i];
  }
  if (route != nullptr) t_route = route->path;
  // Nothing refused here reads the body: the connection ends with the answer.
  auto refuse = [&](const Problem& p) {
    ReplyProblem(res, p);
    if (HasBody(req)) {
      t_close = true;
      res.set_header("Connection", "close");
    }
    return true;
  };
  if (!HostAllowed(req)) {
    return refuse(
        MakeProblem(403, "auth.host",
                    "this bridge does not answer to the name " + req.get_header_value("Host") + "; see --allow-host"));
  }
  std::string origin;
  if (!OriginAllowed(req, &origin)) {
    t_route = "cors";
    return refuse(MakeProblem(403, "auth.origin", "the origin " + origin + " may not call this bridge"));
  }
  if (!origin.empty()) {
    res.set_header("Access-Control-Allow-Origin", origin);
    res.set_header("Vary", "Origin");
    res.set_header("Access-Control-Expose-Headers", "Location, Idempotent-Replayed, Preference-Applied, Server-Timing");
  }
  if (req.method == "OPTIONS") {
    t_route = "preflight";
    Preflight(req, res);
    if (HasBody(req)) t_close = true;
    return true;
  }
  // A compressed body could grow past every limit once inflated.
  const std::string encoding = req.get_header_value("Content-Encoding");
  if (!encoding.empty() && strcasecmp(encoding.c_str(), "identity") != 0) {
    return refuse(MakeProblem(415, "request.encoding", "a body is sent as it is, without Content-Encoding"));
  }
  // Without a token nothing past the door reads a body.
  if ((route == nullptr || !route->open) && Authenticate(req) == Role::kNone) {
    res.set_header("WWW-Authenticate", "Bearer");
    return refuse(MakeProblem(401, "auth.token-required", "a bearer token is required"));
  }
  return false;
}

void Server::AnswerError(const Req& req, Res& res) {
  if (!res.body.empty()) return;
  // httplib's own refusals (a head it cannot read, a body too large or
  // cut short) may leave bytes on the line: the connection ends.
  t_close = true;
  if (t_stream != nullptr && t_stream->breach() != Breach::kNone) {
    const Breach b = t_stream->breach();
    ReplyProblem(res, MakeProblem(StatusOf(b), ProblemCodeOf(b),
                                  b == Breach::kBodyTooLarge   ? "the body is too large"
                                  : b == Breach::kHeadTooLarge ? "the request's head is too large"
                                                               : "the request did not come in time"));
  } else if (res.status == 404) {
    t_close = false;
    ReplyProblem(res, MakeProblem(404, "route.not-found", "no route " + req.method + " " + req.path));
  } else if (res.status == 413) {
    Problem p = MakeProblem(413, "request.too-large", "the body is too large");
    ReplyProblem(res, p);
  } else if ((req.method == "POST" || req.method == "PUT") && !req.has_header("Content-Length")) {
    ReplyProblem(res, MakeProblem(res.status, "request.invalid",
                                  "a POST or PUT needs a Content-Length header (0 when there is no body)"));
  } else {
    ReplyProblem(res, MakeProblem(res.status, "request.invalid", "the request could not be served"));
  }
}

void Server::LogRequest(const Req& req, const Res& res) {
  const auto ms =
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t_started).count() /
      1000.0;
  metrics_->Request(t_route, res.status);
  json line = {{"method", req.method}, {"path", req.path}, {"route", t_route}, {"status", res.status}, {"ms", ms}};
  const std::string key = req.get_header_value("Idempotency-Key");
  if (!key.empty() && HeaderKeyOk(key)) line["key"] = key;
  if (!t_task.empty()) line["task"] = t_task;
  log_->Write(line);
}

host::Status Server::Bind() {
  if (!tls_error_.empty()) return host::Status::Invalid(tls_error_);
  bound_port_ = options_.port == 0 ? http_->bind_to_any_port(options_.host) : options_.port;
  if (options_.port != 0 && !http_->bind_to_port(options_.host, options_.port)) bound_port_ = -1;
  if (bound_port_ <= 0)
    return host::Status::IoError("cannot listen on " + options_.host + ":" + std::to_string(options_.port));
  widen_(static_cast<int>(std::min<size_t>(options_.limits.connections, 4096)));
  return host::Status::OK();
}

void Server::Run() {
  door_->Start();
  http_->listen_after_bind();
  door_->Stop();
}

void Server::Stop() {
  events_->Close();
  http_->stop();
}

Role Server::Authenticate(const Req& req) { return RoleOf(req.get_header_value("Authorization")); }

bool Server::HostAllowed(const Req& req) {
  const std::string host = req.get_header_value("Host");
  for (const std::string& h : hosts_) {
    if (strcasecmp(h.c_str(), host.c_str()) == 0) return true;
  }
  return false;
}

Role Server::RoleOf(const std::string& header) {
  static const std::string kBearer = "Bearer ";
  if (header.size() <= kBearer.size() || header.compare(0, kBearer.size(), kBearer) != 0) return Role::kNone;
  const std::string digest = Sha256(header.substr(kBearer.size()));
  Role role = Role::kNone;
  // Every token is compared, each in constant time: the answer's timing
  // tells nothing of how close a guess came.
  for (const Token& t : options_.tokens) {
    if (crypto::SameBytes(digest, t.digest)) role = t.role;
  }
  return role;
}

bool Server::OriginAllowed(const Req& req, std::string* origin) {
  *origin = req.get_header_value("Origin");
  if (origin->empty()) return true;
  // The bridge's own pages (the console) are same-origin; the Host was
  // checked to be this bridge's before.
  const char* scheme = options_.tls_cert.empty() ? "http://" : "https://";
  if (*origin == scheme + req.get_header_value("Host")) {
    origin->clear();
    return true;
  }
  for (const std::string& o : options_.allow_origins) {
    if (o == *origin) return true;
  }
  return false;
}

void Server::Preflight(const Req& req, Res& res) {
  res.status = 204;
  res.set_header("Access-Control-Allow-Methods", "GET, POST, PUT, OPTIONS");
  res.set_header("Access-Control-Allow-Headers", "Authorization, Content-Type, Idempotency-Key, Prefer, Last-Event-ID");
  res.set_header("Access-Control-Max-Age", "600");
  // Browsers ask before a public page may reach a server on this machine.
  if (req.get_header_value("Access-Control-Request-Private-Network") == "true") {
    res.set_header("Access-Control-Allow-Private-Network", "true");
  }
}

void Server::Reply(Res& res, const Outcome& o) {
  res.status = o.status;
  // What the register took of the answer's time (this job's commands, and
  // waiting for the ones before it); the rest is the bridge's.
  if (o.register_ms > 0) {
    res.set_header("Server-Timing",
                   "register;dur=" + std::to_string(o.register_ms) + ", queue;dur=" + std::to_string(o.queued_ms));
  }
  res.set_content(o.body, o.problem ? "application/problem+json" : "application/json");
}

void Server::ReplyProblem(Res& res, const Problem& p) {
  res.status = p.status;
  res.set_content(Dump(ProblemJson(p)), "application/problem+json");
}

// ---- pages -----------------------------------------------------------------------

void Server::Health(const Req&, Res& res, Role) {
  json regs = json::object();
  bool starting = false;
  for (Worker* w : workers_) {
    regs[w->config().name] = w->online() ? "online" : "offline";
    starting = starting || !w->reached();
  }
  json health = {{"status", "ok"}, {"registers", regs}};
  // A supervisor waits for this before it sends tills: until every
  // register has answered once, nothing is known of them.
  if (starting) {
    res.status = 503;
    health["status"] = "starting";
  }
  const std::string lost = journal_->lost();
  if (!lost.empty()) {
    res.status = 503;
    health["status"] = "degraded";
    health["journal"] = lost;
  }
  res.set_content(Dump(health), "application/json");
}

void Server::MetricsPage(const Req&, Res& res, Role) {
  res.set_content(metrics_->Render(), "text/plain; version=0.0.4");
}

void Server::OpenApi(const Req&, Res& res, Role) { res.set_content(kOpenApiJson, "application/json"); }

namespace {

json RegisterJson(Worker* w) {
  return {{"name", w->config().name},  {"device", w->config().device},
          {"online", w->online()},     {"virtual", !w->config().emu_dir.empty()},
          {"queue", w->queue_depth()}, {"in_doubt", w->in_doubt()}};
}

}  // namespace

void Server::Registers(const Req&, Res& res, Role) {
  json list = json::array();
  for (Worker* w : workers_) list.push_back(RegisterJson(w));
  res.set_content(Dump({{"registers", list}}), "application/json");
}

void Server::OneRegister(const Req& req, Res& res, Role) {
  Worker* w = Find(req.matches[1]);
  if (w == nullptr) return ReplyProblem(res, UnknownRegister(req.matches[1]));
  res.set_content(Dump(RegisterJson(w)), "application/json");
}

void Server::Status(const Req& req, Res& res, Role) {
  Worker* w = Find(req.matches[1]);
  if (w == nullptr) return ReplyProblem(res, UnknownRegister(req.matches[1]));
  json status;
  if (req.get_param_value("fresh") == "1") {
    if (!w->FreshStatusJson(options_.wait_ms, &status)) {
      Problem p = MakeProblem(503, "register.offline", "the register does not answer");
      p.register_name = w->config().name;
      return ReplyProblem(res, p);
    }
  } else {
    status = w->StatusJson();
  }
  res.set_content(Dump(status), "application/json");
}

void Server::ConsolePage(const Req& req, Res& res, Role) {
  const std::string name = req.matches.size() > 1 ? req.matches[1].str() : "index.html";
  const ConsoleFile* f = FindConsoleFile(name);
  // The page's names of documents and receipts: the host library's tables.
  const bool names = name == "names.json";
  if (f == nullptr && !names) return ReplyProblem(res, MakeProblem(404, "route.not-found", "no console file " + name));
  // The console is the bridge's own page: nothing from elsewhere, no framing.
  res.set_header(
      "Content-Security-Policy",
      "default-src 'self'; img-src 'self' blob:; frame-ancestors 'none'; base-uri 'none'; form-action 'self'");
  res.set_header("X-Content-Type-Options", "nosniff");
  res.set_header("Cache-Control", "no-cache");
  if (names) return res.set_content(Dump(host::NamesJson()), "application/json");
  res.set_content(reinterpret_cast<const char*>(f->data), f->size, ContentTypeOf(name));
}

namespace {

constexpr size_t kDefaultListed = 100, kMaxListed = 500;

// The listing's query: times as RFC 3339, numbers as digits; false with
// *problem naming the parameter.
bool ParseDocumentQuery(const Req& req, DocumentQuery* q, Problem* problem) {
  auto number = [&](const char* name, uint32_t min, uint32_t max, uint32_t* out) {
    if (!req.has_param(name)) return true;
    const std::string v = req.get_param_value(name);
    if (v.empty() || v.size() > 10 || v.find_first_not_of("0123456789") != std::string::npos || std::stoull(v) < min ||
        std::stoull(v) > max) {
      *problem = MakeProblem(400, "request.invalid",
                             std::string("the query parameter ") + name + " must be a number " + std::to_string(min) +
                                 " to " + std::to_string(max));
      return false;
    }
    *out = static_cast<uint32_t>(std::stoull(v));
    return true;
  };
  auto time = [&](const char* name, uint32_t* out) {
    if (!req.has_param(name) || ParseTime(req.get_param_value(name), out)) return true;
    *problem = MakeProblem(
        400, "request.invalid",
        std::string("the query parameter ") + name + " must be an RFC 3339 time such as 2035-01-02T10:00:00Z");
    return false;
  };
  uint32_t limit = kDefaultListed;
  if (!number("limit", 1, kMaxListed, &limit) || !number("shift", 1, UINT16_MAX, &q->shift) ||
      !number("after", 0, UINT32_MAX, &q->after) || !number("before", 1, UINT32_MAX, &q->before) ||
      !time("from", &q->from_time) || !time("to", &q->to_time)) {
    return false;
  }
  q->limit = limit;
  return true;
}

Problem JournalUnreadable(Journal* journal) {
  const std::string lost = journal->lost();
  return lost.empty() ? MakeProblem(500, "bridge.journal", "the journal cannot be read")
                      : MakeProblem(503, "bridge.journal-lost", lost);
}

}  // namespace

void Server::Documents(const Req& req, Res& res, Role) {
  Worker* w = Find(req.matches[1]);
  if (w == nullptr) return ReplyProblem(res, UnknownRegister(req.matches[1]));
  DocumentQuery q;
  q.register_name = w->config().name;
  Problem p;
  if (!ParseDocumentQuery(req, &q, &p)) return ReplyProblem(res, p);
  std::vector<JournalDocument> docs;
  if (!journal_->Documents(q, &docs)) return ReplyProblem(res, JournalUnreadable(journal_));
  const bool more = docs.size() > q.limit;
  if (more) docs.pop_back();
  json list = json::array();
  std::vector<uint32_t> numbers;
  for (const JournalDocument& d : docs) {
    list.push_back(json::parse(d.body, nullptr, false));
    numbers.push_back(d.number);
  }
  // Numbers the journal does not hold were stored by another program on the
  // line (or before this journal was made): named, never invented. Times and
  // shifts bound a listing where the journal cannot tell which numbers fall.
  const bool bounded = req.has_param("from") || req.has_param("to") || req.has_param("shift");
  uint32_t last = 0;
  if (bounded || req.has_param("before") || !w->LastDocument(&last)) last = 0;
  const json gaps = ListingGaps(numbers, q.after, last, !bounded && !more);
  res.set_content(Dump({{"register", w->config().name}, {"documents", list}, {"gaps", gaps}, {"more", more}}),
                  "application/json");
}

void Server::OneDocument(const Req& req, Res& res, Role) {
  Worker* w = Find(req.matches[1]);
  if (w == nullptr) return ReplyProblem(res, UnknownRegister(req.matches[1]));
  const std::string number = req.matches[2];
  JournalDocument d;
  bool failed = false;
  if (std::stoull(number) > UINT32_MAX ||
      !journal_->Document(w->config().name, static_cast<uint32_t>(std::stoull(number)), &d, &failed)) {
    if (failed) return ReplyProblem(res, JournalUnreadable(journal_));
    Problem p = MakeProblem(404, "document.not-found",
                            "this bridge never stored document " + number + " of register " + w->config().name +
                                ": one another program stored is read from the register's card with fr-archive");
    p.register_name = w->config().name;
    return ReplyProblem(res, p);
  }
  res.set_content(d.body, "application/json");
}

void Server::Paper(const Req& req, Res& res, Role) {
  Worker* w = Find(req.matches[1]);
  if (w == nullptr) return ReplyProblem(res, UnknownRegister(req.matches[1]));
  const std::string& dir = w->config().emu_dir;
  json sheets = dir.empty() ? json::array() : PaperSheets(dir, kListedSheets);
  res.set_content(Dump({{"register", w->config().name}, {"virtual", !dir.empty()}, {"sheets", sheets}}),
                  "application/json");
}

void Server::PaperSheet(const Req& req, Res& res, Role) {
  Worker* w = Find(req.matches[1]);
  if (w == nullptr) return ReplyProblem(res, UnknownRegister(req.matches[1]));
  const std::string file = req.matches[2];
  std::string bytes;
  if (w->config().emu_dir.empty() || !ReadPaper(w->config().emu_dir, file, &bytes)) {
    return ReplyProblem(res, MakeProblem(404, "paper.not-found", "no sheet " + file));
  }
  // A sheet's HTML is the emulator's drawing of printed text: shown, never run.
  res.set_header("Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'; sandbox");
  res.set_header("X-Content-Type-Options", "nosniff");
  res.set_content(bytes, ContentTypeOf(file));
}

json Server::TaskJson(const std::shared_ptr<Ticket>& t) {
  Outcome o;
  const std::string state = t->state(&o);
  json j = {{"id", t->id},
            {"register", t->register_name},
            {"route", t->route},
            {"state", state},
            {"created", FormatTime(static_cast<uint32_t>(t->created))}};
  if (!t->key.empty()) j["key"] = t->key;
  if (state == "done") {
    j["status"] = o.status;
    j["result"] = json::parse(o.body, nullptr, false);
  }
  return j;
}

void Server::Remember(const std::shared_ptr<Ticket>& t) {
  std::lock_guard<std::mutex> l(mu_);
  tasks_[t->id] = t;
  task_order_.push_back(t->id);
  if (task_order_.size() > options_.kept_tasks) {
    tasks_.erase(task_order_.front());
    task_order_.erase(task_order_.begin());
  }
  // Keys whose jobs ended are answered from the journal from then on.
  if (running_.size() > options_.kept_tasks) {
    for (auto it = running_.begin(); it != running_.end();) {
      it = it->second->state(nullptr) == "done" ? running_.erase(it) : std::next(it);
    }
  }
}

void Server::Forget(const std::string& key, const std::shared_ptr<Ticket>& t) {
  std::lock_guard<std::mutex> l(mu_);
  auto it = running_.find(key);
  if (it != running_.end() && it->second == t) running_.erase(it);
}

void Server::TaskPage(const Req& req, Res& res, Role) {
  std::shared_ptr<Ticket> t;
  {
    std::lock_guard<std::mutex> l(mu_);
    auto it = tasks_.find(req.matches[1]);
    if (it != tasks_.end()) t = it->second;
  }
  if (t == nullptr) return ReplyProblem(res, MakeProblem(404, "task.not-found", "no task " + req.matches[1].str()));
  res.set_content(Dump(TaskJson(t)), "application/json");
}

void Server::EventStream(const Req& req, Res& res, Role) {
  if (streams_.fetch_add(1) >= options_.max_streams) {
    streams_.fetch_sub(1);
    return ReplyProblem(res, MakeProblem(503, "bridge.busy", "too many event streams are open"));
  }
  struct Position {
    uint64_t last;
    bool reset = false;
  };
  auto at = std::make_shared<Position>(Position{events_->last_id()});
  const std::string resume = req.get_header_value("Last-Event-ID");
  if (!resume.empty() && resume.size() < 20 && resume.find_first_not_of("0123456789") == std::string::npos) {
    const uint64_t id = std::stoull(resume);
    // An id this run has not given yet came from an earlier run of the
    // bridge: what happened since is unknown, so the client starts afresh.
    if (id <= at->last) {
      at->last = id;
    } else {
      at->reset = true;
    }
  }
  res.set_header("Cache-Control", "no-store");
  res.set_chunked_content_provider(
      "text/event-stream",
      [this, at](size_t, httplib::DataSink& sink) {
        std::vector<Event> got;
        std::string out;
        if (at->reset) {
          out += "event: reset\ndata: {}\n\n";
          at->reset = false;
        } else if (!events_->Since(at->last, 15000, &got)) {
          // Some were no longer kept: the client starts afresh from now on.
          out += "event: reset\ndata: {}\n\n";
          at->last = events_->last_id();
        }
        for (const Event& e : got) {
          out += "id: " + std::to_string(e.id) + "\nevent: " + e.name + "\ndata: " + e.data + "\n\n";
          at->last = e.id;
        }
        if (out.empty()) out = ": still here\n\n";
        if (events_->closed()) {
          sink.done();
          return false;
        }
        return sink.write(out.data(), out.size());
      },
      [this](bool) { streams_.fetch_sub(1); });
}

// ---- jobs ------------------------------------------------------------------------

void Server::RunJob(const Req& req, Res& res, Role role, Action action, const std::string& segment,
                    const std::string& record) {
  Worker* w = nullptr;
  std::shared_ptr<Ticket> t;
  if (!MakeTicket(req, res, role, action, segment, record, &w, &t)) return;
  const bool async = req.get_header_value("Prefer").find("respond-async") != std::string::npos;
  if (!t->key.empty() && !ClaimKey(res, t, async, w)) return;
  Dispatch(res, t, async, w);
}

bool Server::MakeTicket(const Req& req, Res& res, Role role, Action action, const std::string& segment,
                        const std::string& record, Worker** worker, std::shared_ptr<Ticket>* ticket) {
  const ActionInfo& info = InfoOf(action);
  auto refuse = [&](const Problem& p) {
    ReplyProblem(res, p);
    return false;
  };
  // A pos token prints X reports (with or without sections); the rest is
  // the back office's.
  const bool admin_only = info.admin || (action == Action::kReport && segment != "x" && segment != "x-sections");
  if (admin_only && role != Role::kAdmin)
    return refuse(MakeProblem(403, "auth.forbidden", "this needs an admin token"));
  Worker* w = Find(req.matches[1]);
  if (w == nullptr) return refuse(UnknownRegister(req.matches[1]));
  auto t = std::make_shared<Ticket>();
  Problem p;
  if (!DecodeJob(action, segment, record, req.body, &t->job, &p)) return refuse(p);
  const std::string key = req.get_header_value("Idempotency-Key");
  if (req.has_header("Idempotency-Key") && !HeaderKeyOk(key)) {
    return refuse(MakeProblem(400, "request.invalid", "an Idempotency-Key is 1 to 128 printable characters"));
  }
  if (key.empty() && info.key_required) {
    return refuse(MakeProblem(400, "request.idempotency-key-required",
                              std::string("a ") + info.name +
                                  " needs an Idempotency-Key header, so that "
                                  "a repeat of this request cannot make a second document"));
  }
  const bool keyed = !key.empty() && info.changes_state;
  const std::string lost = keyed ? journal_->lost() : "";
  if (!lost.empty()) {
    // Its keys are unknown now: any of them might run a second time.
    return refuse(MakeProblem(503, "bridge.journal-lost",
                              lost + "; requests with an Idempotency-Key are refused until the journal is "
                                     "restored or a person runs fr-bridge journal reset --state DIR"));
  }
  t->id = RandomHex(8);
  t->key = keyed ? key : "";
  t->hash = keyed ? HmacHex(options_.secret, req.method + " " + req.path + "\n" + CanonicalBody(req.body)) : "";
  t->register_name = w->config().name;
  t->route = t_route;
  t->created = static_cast<int64_t>(time(nullptr));
  if (keyed && (info.document || info.prints)) t->request = KeptRequest(req.path, req.body);
  *worker = w;
  *ticket = t;
  return true;
}

bool Server::ClaimKey(Res& res, const std::shared_ptr<Ticket>& t, bool async, Worker* w) {
  const Problem conflict =
      MakeProblem(409, "idempotency.conflict", "this Idempotency-Key was used with another request");
  for (int attempt = 0; attempt < 3; ++attempt) {
    std::shared_ptr<Ticket> earlier;
    {
      std::lock_guard<std::mutex> l(mu_);
      auto it = running_.find(t->key);
      if (it != running_.end()) earlier = it->second;
      if (earlier == nullptr) {
        JournalEntry e;
        bool failed = false;
        if (journal_->Find(t->key, &e, &failed)) {
          if (e.hash != t->hash) {
            ReplyProblem(res, conflict);
            return false;
          }
          if (!e.done) {
            ReplyProblem(
                res, MakeProblem(504, "register.unsettled", "the outcome of this key is not settled yet; ask again"));
            return false;
          }
          res.set_header("Idempotent-Replayed", "true");
          Reply(res, AsKeyedAnswer(Outcome{e.status, e.response, e.status >= 400, false}, true));
          return false;
        }
        if (failed) {
          log_->Write({{"key", t->key}, {"journal", journal_->last_error()}});
          ReplyProblem(res, MakeProblem(500, "bridge.journal", "the journal cannot be read; nothing was sent"));
          return false;
        }
        running_[t->key] = t;
        return true;
      }
      if (earlier->hash != t->hash) {
        ReplyProblem(res, conflict);
        return false;
      }
    }
    if (!FollowEarlier(res, earlier, async, w)) return false;
  }
  ReplyProblem(res, MakeProblem(503, "register.offline", "try again"));
  return false;
}

bool Server::FollowEarlier(Res& res, const std::shared_ptr<Ticket>& earlier, bool async, Worker* w) {
  // The same request is running: its outcome is ours.
  Outcome o;
  const bool done = earlier->Wait(async ? 0 : options_.wait_ms, &o);
  if (done && o.released) {
    Forget(earlier->key, earlier);
    return true;  // it left no trace: run it afresh
  }
  t_task = earlier->id;
  if (async || !done) {
    res.set_header("Location", "/v1/tasks/" + earlier->id);
    if (!async) {
      Problem p = MakeProblem(504, "register.unsettled", "the job is still running; ask again with the same key");
      p.register_name = w->config().name;
      ReplyProblem(res, p);
      return false;
    }
    res.status = 202;
    res.set_header("Preference-Applied", "respond-async");
    res.set_content(Dump(TaskJson(earlier)), "application/json");
    return false;
  }
  res.set_header("Idempotent-Replayed", "true");
  Reply(res, AsKeyedAnswer(o, true));
  return false;
}

void Server::Dispatch(Res& res, const std::shared_ptr<Ticket>& t, bool async, Worker* w) {
  const bool keyed = !t->key.empty();
  t_task = t->id;
  Remember(t);
  const Worker::Submitted submitted = w->Submit(t);
  if (submitted != Worker::Submitted::kQueued) {
    if (keyed) Forget(t->key, t);
    const bool full = submitted == Worker::Submitted::kFull;
    Problem p = full ? MakeProblem(503, "bridge.busy", "the register has too many jobs waiting; nothing was sent")
                     : MakeProblem(503, "register.offline", "the register does not answer; nothing was sent");
    p.register_name = w->config().name;
    if (full) res.set_header("Retry-After", "1");
    return ReplyProblem(res, p);
  }
  if (async) {
    res.status = 202;
    res.set_header("Location", "/v1/tasks/" + t->id);
    res.set_header("Preference-Applied", "respond-async");
    return res.set_content(Dump(TaskJson(t)), "application/json");
  }
  Outcome o;
  if (!t->Wait(options_.wait_ms, &o)) {
    res.set_header("Location", "/v1/tasks/" + t->id);
    Problem p = MakeProblem(504, "register.unsettled", "the job is not finished yet; ask again with the same key");
    p.register_name = w->config().name;
    return ReplyProblem(res, p);
  }
  if (keyed) Forget(t->key, t);
  Reply(res, keyed ? AsKeyedAnswer(o, false) : o);
}

}  // namespace bridge
