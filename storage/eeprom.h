// The identity EEPROM operations. Each opens the file with "r+", seeks
// absolutely and closes it before returning; a file that does not open
// makes every operation fail.
#ifndef FR_STORAGE_EEPROM_H_
#define FR_STORAGE_EEPROM_H_

#include <string>

#include "platform/env.h"
#include "storage/model_data.h"
#include "storage/reg_data.h"

namespace eeprom {

// Blank (0xFF) bytes of the model name read as NUL.
bool readModelData(platform::Env* env, ModelData* model);
bool writeModelData(platform::Env* env, const ModelData& model);
bool readRegData(platform::Env* env, RegData* reg);
bool writeRegData(platform::Env* env, const RegData& reg);
// Reads the 16-byte key; a blank one is replaced from the random device.
// The key is written back and read again; *key is what was read.
bool ensureDeviceKey(platform::Env* env, std::string* key);

// What start-up learnt from the EEPROM. Records that did not read stay
// unset (has_* false); ok is false when any step failed.
struct Identity {
  bool ok = false;
  bool has_key = false, has_model = false, has_reg = false;
  std::string key;
  ModelData model;
  RegData reg;
};
Identity loadIdentity(platform::Env* env);

}  // namespace eeprom

#endif  // FR_STORAGE_EEPROM_H_
