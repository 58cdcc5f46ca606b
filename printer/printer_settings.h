// The printer width setting kept in /nv/PRINTER_SETTINGS: one byte at 0.
#ifndef FR_PRINTER_PRINTER_SETTINGS_H_
#define FR_PRINTER_PRINTER_SETTINGS_H_

#include <cstdint>

#include "platform/env.h"

namespace printer {

constexpr const char* kSettingsPath = "/nv/PRINTER_SETTINGS";

// Applies the stored setting; a missing or unreadable file keeps the default.
void loadWidthSetting(platform::Env* env);
// Writes the setting, then applies it; false, with the old setting kept,
// when the file was not written.
bool saveWidthSetting(platform::Env* env, uint8_t setting);

}  // namespace printer

#endif  // FR_PRINTER_PRINTER_SETTINGS_H_
