// The fiscal sign: a CRC-32 over the device key, the serial number and a
// document's signed data, given only when the document's identity records
// verify with that key.
#ifndef FR_STORAGE_SIGNATURE_H_
#define FR_STORAGE_SIGNATURE_H_

#include <cstdint>
#include <string>

#include "storage/model_data.h"
#include "storage/reg_data.h"

namespace signature {

bool verifyModelData(const ModelData& model, const std::string& key);
// Requires a valid record whose check value matches.
bool verifyRegData(const RegData& reg, const std::string& serial, const std::string& key);

// Any document but the fiscalisation report. False, *sign untouched, when
// the model or the registration does not verify.
bool documentSign(const ModelData& model, const RegData& reg, const std::string& key,
                  const std::string& serial, const std::string& signed_data, uint32_t* sign);

// The fiscalisation report: its registration is new, so a registration that
// is not valid yet gets its check value here instead of being verified.
bool fiscalisationSign(const ModelData& model, RegData* reg, const std::string& key,
                       const std::string& serial, const std::string& signed_data, uint32_t* sign);

}  // namespace signature

#endif  // FR_STORAGE_SIGNATURE_H_
