// The device's model record: model code, factory serial number, model name
// and a check value bound to the device key.
#ifndef FR_STORAGE_MODEL_DATA_H_
#define FR_STORAGE_MODEL_DATA_H_

#include <cstdint>
#include <string>

#include "storage/identity_format.h"

class ModelData {
 public:
  // Model code 33299, serial all zero bytes, the model name, check value 0.
  ModelData();
  // From a record image; false when it is not 48 bytes.
  bool parse(const std::string& image);
  std::string image() const { return std::string(reinterpret_cast<const char*>(bytes_), sizeof(bytes_)); }

  uint16_t modelCode() const;
  void setModelCode(uint16_t code);
  // A text field ends at its first NUL, unless its last byte is not NUL:
  // then it is the whole field.
  std::string serialNumber() const;
  std::string modelName() const;
  // Each leaves the field unchanged when the text is longer than the field.
  void setSerialNumber(const std::string& digits);  // over the start of the field
  void setModelName(const std::string& cp866);      // zero-filled first
  uint32_t checkValue() const;
  void setCheckValue(uint32_t value);

  // CRC-32 of the model code in decimal, the serial number and the key.
  uint32_t computeCheckValue(const std::string& key) const;
  bool isValid() const;
  bool operator==(const ModelData& other) const;

 private:
  uint8_t bytes_[identity::kModelDataSize];
};

#endif  // FR_STORAGE_MODEL_DATA_H_
