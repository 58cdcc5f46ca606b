// Windows only, beside bridge/files.h: for the service's installer, which
// runs as an administrator and makes the state another account's.
#ifndef FR_BRIDGE_FILES_WIN_H_
#define FR_BRIDGE_FILES_WIN_H_

#include <string>

namespace bridge {

// Makes `dir` (made when missing) private to `account`, the service's
// (LocalService, say), instead of the account this process runs as: a
// protected access list that lets in that account, the administrators and
// SYSTEM, passed down to what `dir` holds. False with GetLastError()
// telling why.
bool MakeDirectoryPrivateTo(const std::string& dir, const std::string& account);

}  // namespace bridge

#endif  // FR_BRIDGE_FILES_WIN_H_
