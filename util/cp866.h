// CP866, the code page of every printed and stored text. Source texts are
// UTF-8; they become CP866 bytes before they reach a record or the printer.
#ifndef FR_UTIL_CP866_H_
#define FR_UTIL_CP866_H_

#include <string>

namespace util {

// Characters with no CP866 byte become '?'.
std::string Utf8ToCp866(const std::string& utf8);
std::string Cp866ToUtf8(const std::string& cp866);

}  // namespace util

#endif  // FR_UTIL_CP866_H_
