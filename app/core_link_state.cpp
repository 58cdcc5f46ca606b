#include "app/core_link_state.h"

#include "app/fr_status.h"
#include "app/identity.h"

bool CoreLinkState::modelData(std::string* record, std::string* serial) {
  const ModelData model = CoreIdentity::modelData();
  if (!model.isValid()) return false;
  *record = model.image();
  *serial = model.serialNumber();
  return true;
}

std::string CoreLinkState::deviceKey() { return CoreIdentity::deviceKey(); }

bool CoreLinkState::registrationField(uint16_t field, std::string* value) {
  const RegData reg = CoreIdentity::regData();
  if (!reg.isValid()) return false;
  // The field travels as its TLV element, so the host learns its form too.
  *value = reg.fieldAsTlv(field).encode();
  return true;
}

void CoreLinkState::statusRecords(std::string* status, std::string* cycle) {
  FrStatus::copyRecords(status, cycle);
}

void CoreLinkState::markStatusConstant() { FrStatus::markConstant(); }
