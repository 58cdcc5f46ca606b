// Identity records signed with a test key, as the tests of documents, the
// signature and the archive need them.
#ifndef FR_STORAGE_IDENTITY_TEST_UTIL_H_
#define FR_STORAGE_IDENTITY_TEST_UTIL_H_

#include <cstdint>
#include <string>
#include <vector>

#include "storage/model_data.h"
#include "storage/reg_data.h"

namespace identitytest {

// The model record of `serial`, its check value made with `key`.
inline ModelData SignedModel(const std::string& serial, const std::string& key) {
  ModelData m;
  m.setSerialNumber(serial);
  m.setCheckValue(m.computeCheckValue(key));
  return m;
}

// A registration (ФН 9999078900012345, ИНН `inn`, texts "text", the given
// tax rate images from the first on) made at `time`, its check value over
// `serial` and `key`.
inline RegData SignedReg(const std::string& serial, const std::string& key, uint32_t time,
                         const std::string& inn = "7701234567", const std::vector<std::string>& tax_images = {}) {
  RegData r;
  r.setFnNumber("9999078900012345");
  r.setInn(inn);
  for (int i = 0; i < 3; ++i) r.setText(i, "text");
  for (size_t i = 0; i < tax_images.size(); ++i) r.setTaxRateImage(i, tax_images[i]);
  r.setRegistrationTime(time);
  r.setCheckValue(r.computeCheckValue(serial, key));
  return r;
}

}  // namespace identitytest

#endif  // FR_STORAGE_IDENTITY_TEST_UTIL_H_
