// A Windows error code as the system words it (FormatMessage), for the
// failures the Windows programs and their board layer report;
// system_error_win.cpp. POSIX code uses strerror.
#ifndef FR_UTIL_SYSTEM_ERROR_H_
#define FR_UTIL_SYSTEM_ERROR_H_

#include <string>

namespace util {

// "Access is denied", say; "error N" when the system has no words for it.
std::string SystemMessage(unsigned long code);

}  // namespace util

#endif  // FR_UTIL_SYSTEM_ERROR_H_
