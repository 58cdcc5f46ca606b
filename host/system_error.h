// A Windows error code as the system words it (FormatMessage), for the
// failures the Windows programs report; system_error_win.cpp. POSIX code
// uses strerror.
#ifndef FR_HOST_SYSTEM_ERROR_H_
#define FR_HOST_SYSTEM_ERROR_H_

#include <string>

namespace host {

// "Access is denied", say; "error N" when the system has no words for it.
std::string SystemMessage(unsigned long code);

}  // namespace host

#endif  // FR_HOST_SYSTEM_ERROR_H_
