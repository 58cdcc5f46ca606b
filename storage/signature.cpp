#include "storage/signature.h"

#include "util/crc.h"

namespace signature {

bool verifyModelData(const ModelData& model, const std::string& key) {
  return model.checkValue() == model.computeCheckValue(key);
}

bool verifyRegData(const RegData& reg, const std::string& serial, const std::string& key) {
  return reg.isValid() && reg.checkValue() == reg.computeCheckValue(serial, key);
}

bool documentSign(const ModelData& model, const RegData& reg, const std::string& key,
                  const std::string& serial, const std::string& signed_data, uint32_t* sign) {
  if (!verifyModelData(model, key) || !verifyRegData(reg, serial, key)) return false;
  *sign = util::Crc32(key + serial + signed_data);
  return true;
}

bool fiscalisationSign(const ModelData& model, RegData* reg, const std::string& key,
                       const std::string& serial, const std::string& signed_data, uint32_t* sign) {
  if (!verifyModelData(model, key)) return false;
  if (!reg->isValid()) reg->setCheckValue(reg->computeCheckValue(serial, key));
  *sign = util::Crc32(key + serial + signed_data);
  return true;
}

}  // namespace signature
