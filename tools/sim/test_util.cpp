#include "tools/sim/test_util.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sim {

int FreeLoopbackPort() {
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return 0;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t n = sizeof a;
  const bool ok = bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                  getsockname(s, reinterpret_cast<sockaddr*>(&a), &n) == 0;
  close(s);
  return ok ? ntohs(a.sin_port) : 0;
}

}  // namespace sim
