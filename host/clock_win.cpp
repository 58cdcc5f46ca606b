#include <time.h>

#include "host/clock.h"

namespace host {

std::tm UtcOf(std::time_t t) {
  std::tm tm = {};
  gmtime_s(&tm, &t);
  return tm;
}

std::tm LocalOf(std::time_t t) {
  std::tm tm = {};
  localtime_s(&tm, &t);
  return tm;
}

std::time_t TimeOfUtc(std::tm tm) { return _mkgmtime(&tm); }

}  // namespace host
