// What the real board does the same on every system: the console's lines,
// and the board itself. The system's calls are in posix_env.cpp and
// windows_env.cpp.
#include "platform/board_env.h"

#include <cstdio>

namespace platform {

void BoardEnv::WriteLine(const std::string& line) {
  fwrite(line.data(), 1, line.size(), stdout);
  fputc('\n', stdout);
  fflush(stdout);
}

void BoardEnv::WriteText(const std::string& text) {
  fwrite(text.data(), 1, text.size(), stdout);
  fflush(stdout);
}

std::unique_ptr<Env> NewBoardEnv() { return std::unique_ptr<Env>(new BoardEnv); }

}  // namespace platform
