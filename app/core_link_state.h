// The host link's view of the register: the status records and the current
// identity, each read under its own lock.
#ifndef FR_APP_CORE_LINK_STATE_H_
#define FR_APP_CORE_LINK_STATE_H_

#include "link/link_state.h"

class CoreLinkState : public LinkState {
 public:
  bool modelData(std::string* record, std::string* serial) override;
  std::string deviceKey() override;
  bool registrationField(uint16_t field, std::string* value) override;
  void statusRecords(std::string* status, std::string* cycle) override;
  void markStatusConstant() override;
};

#endif  // FR_APP_CORE_LINK_STATE_H_
