// The bridge's HTTP side: routes, tokens, CORS, idempotency keys, tasks,
// events, metrics and the request log. Each register's commands go through
// its Worker.
#ifndef FR_BRIDGE_SERVER_H_
#define FR_BRIDGE_SERVER_H_

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bridge/door.h"
#include "bridge/events.h"
#include "bridge/journal.h"
#include "bridge/log.h"
#include "bridge/metrics.h"
#include "bridge/worker.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace bridge {

enum class Role { kNone, kPos, kAdmin };

struct Token {
  Role role = Role::kNone;
  std::string digest;  // SHA-256 of the token: compared in constant time
  std::string name;
};

// Reads `ROLE TOKEN NAME` lines ('#' starts a comment). False with *error
// naming the line for anything else.
host::Status ParseTokens(const std::string& text, std::vector<Token>* out);
// A new random token, 43 URL-safe characters.
std::string NewToken();
std::string Sha256(const std::string& data);
// HMAC-SHA-256 in hexadecimal.
std::string HmacHex(const std::string& secret, const std::string& data);

struct ServerOptions {
  std::string host = "127.0.0.1";
  int port = 8780;
  std::vector<std::string> allow_origins;
  // Names besides the listening address that a request's Host may give:
  // any other is a page on a foreign name that resolves to this machine.
  std::vector<std::string> allow_hosts;
  std::string tls_cert, tls_key;  // PEM files; both or neither
  std::vector<Token> tokens;
  std::string secret;         // keys the hashes of request bodies
  int wait_ms = 60000;        // a synchronous request's longest wait for its job
  int max_streams = 32;       // event streams at once
  size_t kept_tasks = 10000;  // tasks (and settled keys) kept in memory
  DoorLimits limits;
};

class Server {
 public:
  Server(ServerOptions options, Journal* journal, Events* events, Metrics* metrics, Log* log);
  ~Server();

  // Registers a worker (before Listen); the server does not own it.
  void AddWorker(Worker* w);
  // A journal entry left without an outcome: its key waits for its settling.
  void AddInDoubt(const JournalEntry& e);

  // Binds; false with *error when the address is taken or bad, or the TLS
  // certificate or key do not load. Then Run serves until Stop.
  host::Status Bind();
  int port() const { return bound_port_; }
  void Run();
  void Stop();

  // "METHOD /route/{param}" for every route served.
  static std::vector<std::string> Routes();

  // A request that came another way than over HTTP (the uplink's, which the
  // broker authenticated): served by the route that serves it over HTTP, as
  // with an admin token, and answered with the status and body HTTP would
  // give. `key` is its Idempotency-Key (may be empty).
  Outcome Serve(const std::string& method, const std::string& path, const std::string& key, const std::string& body);

 private:
  struct Route;
  static const std::vector<Route>& Table();

  void Install();
  // Before routing: the Host and Origin rules, pre-flights, encodings, and no
  // body read without a token. True when it answered the request itself.
  bool PreRoute(const httplib::Request& req, httplib::Response& res);
  // httplib's own refusals as problems.
  void AnswerError(const httplib::Request& req, httplib::Response& res);
  void LogRequest(const httplib::Request& req, const httplib::Response& res);
  Role Authenticate(const httplib::Request& req);
  Role RoleOf(const std::string& authorization);
  bool HostAllowed(const httplib::Request& req);
  bool OriginAllowed(const httplib::Request& req, std::string* origin);
  void Preflight(const httplib::Request& req, httplib::Response& res);

  void Health(const httplib::Request&, httplib::Response&, Role);
  void MetricsPage(const httplib::Request&, httplib::Response&, Role);
  void OpenApi(const httplib::Request&, httplib::Response&, Role);
  void Registers(const httplib::Request&, httplib::Response&, Role);
  void OneRegister(const httplib::Request&, httplib::Response&, Role);
  void Status(const httplib::Request&, httplib::Response&, Role);
  void TaskPage(const httplib::Request&, httplib::Response&, Role);
  void ConsolePage(const httplib::Request&, httplib::Response&, Role);
  void Documents(const httplib::Request&, httplib::Response&, Role);
  void OneDocument(const httplib::Request&, httplib::Response&, Role);
  void Paper(const httplib::Request&, httplib::Response&, Role);
  void PaperSheet(const httplib::Request&, httplib::Response&, Role);
  void EventStream(const httplib::Request&, httplib::Response&, Role);
  void RunJob(const httplib::Request& req, httplib::Response& res, Role role, Action action, const std::string& segment,
              const std::string& record);
  // RunJob's steps. Each answers `res` itself when it returns false.
  // The request checked and decoded into a ticket for the register's worker.
  bool MakeTicket(const httplib::Request& req, httplib::Response& res, Role role, Action action,
                  const std::string& segment, const std::string& record, Worker** worker,
                  std::shared_ptr<Ticket>* ticket);
  // The key is this ticket's to run: not running, not in the journal.
  bool ClaimKey(httplib::Response& res, const std::shared_ptr<Ticket>& t, bool async, Worker* w);
  // The same request runs already: its answer (true: it left no trace, run again).
  bool FollowEarlier(httplib::Response& res, const std::shared_ptr<Ticket>& earlier, bool async, Worker* w);
  // Queues the ticket and answers its outcome, or its task when asynchronous.
  void Dispatch(httplib::Response& res, const std::shared_ptr<Ticket>& t, bool async, Worker* w);

  Worker* Find(const std::string& name);
  void Reply(httplib::Response& res, const Outcome& o);
  void ReplyProblem(httplib::Response& res, const Problem& p);
  json TaskJson(const std::shared_ptr<Ticket>& t);
  void Remember(const std::shared_ptr<Ticket>& t);
  // Drops the key's running ticket, if it still is `t`.
  void Forget(const std::string& key, const std::shared_ptr<Ticket>& t);

  const ServerOptions options_;
  Journal* const journal_;
  Events* const events_;
  Metrics* const metrics_;
  Log* const log_;
  std::vector<std::string> hosts_;   // what a request's Host may be
  std::unique_ptr<TlsContext> tls_;  // outlives the door that uses it
  std::unique_ptr<Door> door_;
  std::unique_ptr<httplib::Server> http_;
  std::function<void(int)> widen_;  // the listening socket's backlog
  std::string tls_error_;
  int bound_port_ = 0;
  std::vector<Worker*> workers_;
  std::atomic<int> streams_{0};

  std::mutex mu_;                                           // guards the two maps
  std::map<std::string, std::shared_ptr<Ticket>> running_;  // by key, until settled
  std::map<std::string, std::shared_ptr<Ticket>> tasks_;    // by task id, the newest kept
  std::vector<std::string> task_order_;
};

}  // namespace bridge

#endif  // FR_BRIDGE_SERVER_H_
