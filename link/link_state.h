// What the host link reads of the register's shared state to serve its own
// commands. The implementation takes the status and identity locks; every
// call returns a snapshot.
#ifndef FR_LINK_LINK_STATE_H_
#define FR_LINK_LINK_STATE_H_

#include <cstdint>
#include <string>

class LinkState {
 public:
  virtual ~LinkState() = default;

  // False when the model data is not valid; otherwise its record bytes and
  // the factory serial number text.
  virtual bool modelData(std::string* record, std::string* serial) = 0;
  // The device key read at start-up; empty when there is none.
  virtual std::string deviceKey() = 0;
  // One registration data field; false when the registration data is
  // missing or not valid.
  virtual bool registrationField(uint16_t field, std::string* value) = 0;
  // The device status (21 bytes) and shift status (24 bytes), as stored.
  virtual void statusRecords(std::string* status, std::string* cycle) = 0;
  // Puts the constant 50 back into byte 3 of the device status.
  virtual void markStatusConstant() = 0;
};

#endif  // FR_LINK_LINK_STATE_H_
