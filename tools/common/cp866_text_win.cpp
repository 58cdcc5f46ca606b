// CP866 to UTF-8 with the system's converter (code page 866), independent
// of the device's own table.
#include <windows.h>

#include "tools/common/print_decoder.h"

namespace sim {

std::string Cp866ToUtf8(const std::string& cp866) {
  if (cp866.empty()) return cp866;
  const int n = static_cast<int>(cp866.size());
  std::wstring wide(cp866.size(), L'\0');
  if (MultiByteToWideChar(866, 0, cp866.data(), n, &wide[0], n) != n) return cp866;
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), n, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size > 0 ? size : 0), '\0');
  if (size <= 0 || WideCharToMultiByte(CP_UTF8, 0, wide.data(), n, &out[0], size, nullptr, nullptr) != size) {
    return cp866;
  }
  return out;
}

}  // namespace sim
