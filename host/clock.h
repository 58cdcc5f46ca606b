// The calendar, the part of the C library that differs by system: the
// thread-safe conversions are gmtime_r/localtime_r/timegm on POSIX
// (clock_posix.cpp) and gmtime_s/localtime_s/_mkgmtime on Windows
// (clock_win.cpp).
#ifndef FR_HOST_CLOCK_H_
#define FR_HOST_CLOCK_H_

#include <ctime>

namespace host {

// `t` in UTC's calendar, and in the local one. Thread-safe.
std::tm UtcOf(std::time_t t);
std::tm LocalOf(std::time_t t);
// The instant of a UTC calendar time (tm_wday and tm_yday ignored); -1
// when it cannot be told.
std::time_t TimeOfUtc(std::tm tm);

}  // namespace host

#endif  // FR_HOST_CLOCK_H_
