// CP866 to UTF-8 with the system's converter (iconv), independent of the
// device's own table.
#include <iconv.h>

#include "tools/common/print_decoder.h"

namespace sim {

std::string Cp866ToUtf8(const std::string& cp866) {
  iconv_t cd = iconv_open("UTF-8", "CP866");
  if (cd == reinterpret_cast<iconv_t>(-1)) return cp866;
  std::string in = cp866;
  std::string out(in.size() * 4 + 4, '\0');
  char* src = &in[0];
  char* dst = &out[0];
  size_t in_left = in.size(), out_left = out.size();
  while (in_left > 0) {
    if (iconv(cd, &src, &in_left, &dst, &out_left) != static_cast<size_t>(-1)) break;
    // A byte the converter refuses shows as '?'.
    *dst++ = '?';
    --out_left;
    ++src;
    --in_left;
  }
  iconv_close(cd);
  out.resize(out.size() - out_left);
  return out;
}

}  // namespace sim
