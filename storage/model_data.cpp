#include "storage/model_data.h"

#include <cstring>

#include "util/coding.h"
#include "util/cp866.h"
#include "util/crc.h"

using namespace identity;

namespace {

std::string FieldText(const uint8_t* field, size_t size) {
  const char* p = reinterpret_cast<const char*>(field);
  if (field[size - 1] != 0) return std::string(p, size);
  return std::string(p, strnlen(p, size));
}

}  // namespace

ModelData::ModelData() {
  memset(bytes_, 0, sizeof(bytes_));
  setModelCode(kModelCode);
  setModelName(util::Utf8ToCp866(kModelNameUtf8));
}

bool ModelData::parse(const std::string& image) {
  if (image.size() != sizeof(bytes_)) return false;
  memcpy(bytes_, image.data(), sizeof(bytes_));
  return true;
}

uint16_t ModelData::modelCode() const { return util::DecodeFixed16(bytes_ + kModelCodeOffset); }
void ModelData::setModelCode(uint16_t code) { util::EncodeFixed16(bytes_ + kModelCodeOffset, code); }

std::string ModelData::serialNumber() const { return FieldText(bytes_ + kSerialOffset, kSerialSize); }
std::string ModelData::modelName() const { return FieldText(bytes_ + kModelNameOffset, kModelNameSize); }

void ModelData::setSerialNumber(const std::string& digits) {
  if (digits.size() > kSerialSize) return;
  memcpy(bytes_ + kSerialOffset, digits.data(), digits.size());
}

void ModelData::setModelName(const std::string& cp866) {
  if (cp866.size() > kModelNameSize) return;
  memset(bytes_ + kModelNameOffset, 0, kModelNameSize);
  memcpy(bytes_ + kModelNameOffset, cp866.data(), cp866.size());
}

uint32_t ModelData::checkValue() const { return util::DecodeFixed32(bytes_ + kModelCheckOffset); }
void ModelData::setCheckValue(uint32_t value) { util::EncodeFixed32(bytes_ + kModelCheckOffset, value); }

uint32_t ModelData::computeCheckValue(const std::string& key) const {
  return util::Crc32(std::to_string(modelCode()) + serialNumber() + key);
}

bool ModelData::isValid() const {
  const std::string serial = serialNumber();
  if (modelCode() == 0 || modelName().empty() || serial.empty()) return false;
  if (checkValue() == 0 || checkValue() == 0xFFFFFFFFu) return false;
  for (char c : serial) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

bool ModelData::operator==(const ModelData& other) const {
  return modelCode() == other.modelCode() && modelName() == other.modelName() &&
         serialNumber() == other.serialNumber() && checkValue() == other.checkValue();
}
