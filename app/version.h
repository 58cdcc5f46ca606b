#ifndef FR_APP_VERSION_H_
#define FR_APP_VERSION_H_

#include <string>

namespace version {

constexpr const char* kText = "0.0.3";

// The version as the host reads it: one byte per dotted number.
std::string Bytes();

}  // namespace version

#endif  // FR_APP_VERSION_H_
