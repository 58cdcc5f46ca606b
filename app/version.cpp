#include "app/version.h"

#include <cstdlib>

namespace version {

std::string Bytes() {
  std::string out;
  const char* p = kText;
  while (*p != '\0') {
    char* end = nullptr;
    out.push_back(static_cast<char>(strtoul(p, &end, 10)));
    p = (*end == '.') ? end + 1 : end;
  }
  return out;
}

}  // namespace version
