#include <time.h>

#include "host/clock.h"

namespace host {

std::tm UtcOf(std::time_t t) {
  std::tm tm = {};
  gmtime_r(&t, &tm);
  return tm;
}

std::tm LocalOf(std::time_t t) {
  std::tm tm = {};
  localtime_r(&t, &tm);
  return tm;
}

std::time_t TimeOfUtc(std::tm tm) { return timegm(&tm); }

}  // namespace host
