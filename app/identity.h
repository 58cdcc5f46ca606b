// The register's current identity: model data, registration data and the
// device key, under the identity lock (a leaf). Getters return snapshots;
// nobody keeps a live reference across commands.
#ifndef FR_APP_IDENTITY_H_
#define FR_APP_IDENTITY_H_

#include <string>

#include "storage/model_data.h"
#include "storage/reg_data.h"

namespace CoreIdentity {

void replaceModelData(const ModelData& model);
void replaceRegData(const RegData& reg);
ModelData modelData();
RegData regData();
void storeDeviceKey(const std::string& key);
// Empty until start-up has read the key.
std::string deviceKey();

}  // namespace CoreIdentity

#endif  // FR_APP_IDENTITY_H_
