#include <cstdio>

#include "bridge/service.h"

namespace bridge {

int RunServiceCommand(int argc, char** argv, ServeFunction serve) {
  std::fprintf(stderr,
               "fr-bridge: 'service' manages the Windows service; on Linux the system's service "
               "manager (systemd) runs fr-bridge\n");
  return 2;
}

}  // namespace bridge
