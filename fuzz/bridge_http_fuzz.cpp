// The bridge's HTTP front on arbitrary bytes: the door's reading of a head,
// the bounded stream, httplib's parsing, and the checks before the routes
// (host, origin, encoding, token) with their answers, over a real loopback
// connection to a bridge that has no register. Whatever comes, the bridge
// answers or closes, and an answer is a well-formed HTTP/1.1 status line.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "bridge/console.h"
#include "bridge/server.h"

namespace bridge {
// The built-in files: none needed here.
extern const ConsoleFile kConsoleFiles[];
extern const size_t kConsoleFileCount;
extern const char kOpenApiJson[];
const ConsoleFile kConsoleFiles[] = {{"index.html", reinterpret_cast<const unsigned char*>("<p>"), 3}};
const size_t kConsoleFileCount = 1;
const char kOpenApiJson[] = "{}";
}  // namespace bridge

namespace {

// The token the seed corpus carries, so that inputs reach past the door.
constexpr const char* kTokens = "admin fuzz-token-0123456789abcdef fuzz\n";

struct Bridge {
  bridge::Journal journal;
  bridge::Events events{8};
  bridge::Metrics metrics;
  bridge::Log log{std::fopen("/dev/null", "w")};
  std::unique_ptr<bridge::Server> server;
  std::thread runner;
  int port = 0;

  Bridge() {
    if (!journal.Open(":memory:").ok()) abort();
    bridge::ServerOptions o;
    o.port = 0;
    o.secret = "fuzz-secret-0123456789abcdef0123456789";
    if (!bridge::ParseTokens(kTokens, &o.tokens).ok()) abort();
    o.allow_origins = {"http://till.example"};
    o.max_streams = 0;  // a stream waits for events for seconds: not what this target is for
    // Short limits: every input ends quickly, cut or whole.
    o.limits.head_ms = o.limits.idle_ms = o.limits.body_ms = 300;
    o.limits.threads = 4;
    o.limits.reserved = 1;
    server = std::make_unique<bridge::Server>(o, &journal, &events, &metrics, &log);
    if (!server->Bind().ok()) abort();
    port = server->port();
    runner = std::thread([this] { server->Run(); });
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Bridge* b = new Bridge;  // lives for the run: its threads serve every input
  if (size > 256 * 1024) return 0;
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(b->port));
  inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
  if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) abort();
  // The input with "{port}" made the bridge's own, so Host checks can pass.
  std::string input(reinterpret_cast<const char*>(data), size);
  for (size_t at = input.find("{port}"); at != std::string::npos; at = input.find("{port}", at)) {
    input.replace(at, 6, std::to_string(b->port));
  }
  (void)!send(fd, input.data(), input.size(), MSG_NOSIGNAL);
  shutdown(fd, SHUT_WR);
  std::string got;
  char buf[4096];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    // The bridge's own limits end every connection well within this.
    if (poll(&p, 1, 10000) <= 0) abort();
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    got.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  if (!got.empty() && (got.compare(0, 9, "HTTP/1.1 ") != 0 || got.size() < 12 || got[9] < '1' || got[9] > '5')) {
    abort();
  }
  return 0;
}
