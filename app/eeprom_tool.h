// The service modes on the identity EEPROM: wipe it to blank, dump it.
#ifndef FR_APP_EEPROM_TOOL_H_
#define FR_APP_EEPROM_TOOL_H_

#include <string>

#include "platform/env.h"

namespace eeprom {

// Each returns false with *error set when the EEPROM cannot be used.
bool Wipe(platform::Env* env, std::string* error);
// 64 lines of 8 groups of 16 hexadecimal digits, two spaces apart; an
// EEPROM shorter than its 4096 bytes is an error, not blank lines.
bool Dump(platform::Env* env, std::string* error);

// One dump line for 64 bytes.
std::string DumpLine(const unsigned char* row);

}  // namespace eeprom

#endif  // FR_APP_EEPROM_TOOL_H_
