#include "platform/env.h"

#include <cstdlib>

#include "platform/sandbox_env.h"

namespace platform {

std::unique_ptr<Env> NewSandboxEnv(const std::string& root) {
  return std::unique_ptr<Env>(new SandboxEnv(root));
}

Env* Env::Default() {
  static Env* const env = [] {
    const char* root = getenv("FR_ROOT");
    // Never freed: both threads use it until the process is killed.
    return (root != nullptr && root[0] != '\0') ? NewSandboxEnv(root).release()
                                                : NewBoardEnv().release();
  }();
  return env;
}

}  // namespace platform
