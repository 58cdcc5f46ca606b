#include "storage/eeprom.h"

#include <memory>

#include "storage/eeprom_format.h"
#include "storage/identity_format.h"

namespace eeprom {
namespace {

bool ReadAt(platform::Env* env, size_t offset, size_t size, std::string* out) {
  std::unique_ptr<platform::File> f = env->OpenFile(kPath, "r+");
  if (!f || !f->Seek(offset)) return false;
  out->assign(size, '\0');
  const bool ok = f->Read(&(*out)[0], size) == size;
  f->Close();
  return ok;
}

bool WriteAt(platform::Env* env, size_t offset, const std::string& bytes) {
  std::unique_ptr<platform::File> f = env->OpenFile(kPath, "r+");
  if (!f || !f->Seek(offset)) return false;
  bool ok = f->Write(bytes.data(), bytes.size()) == bytes.size();
  ok = f->Flush() && ok;
  return f->Close() && ok;
}

}  // namespace

bool readModelData(platform::Env* env, ModelData* model) {
  std::string image;
  if (!ReadAt(env, kModelDataOffset, identity::kModelDataSize, &image)) return false;
  for (size_t i = identity::kModelNameOffset;
       i < identity::kModelNameOffset + identity::kModelNameSize; ++i) {
    if (static_cast<uint8_t>(image[i]) == kBlank) image[i] = '\0';
  }
  return model->parse(image);
}

bool writeModelData(platform::Env* env, const ModelData& model) {
  return WriteAt(env, kModelDataOffset, model.image());
}

bool readRegData(platform::Env* env, RegData* reg) {
  std::string image;
  return ReadAt(env, kRegDataOffset, identity::kRegDataSize, &image) && reg->parse(image);
}

bool writeRegData(platform::Env* env, const RegData& reg) {
  return WriteAt(env, kRegDataOffset, reg.image());
}

bool ensureDeviceKey(platform::Env* env, std::string* key) {
  std::string bytes;
  if (!ReadAt(env, kKeyOffset, kKeySize, &bytes)) return false;
  if (bytes == std::string(kKeySize, static_cast<char>(kBlank))) {
    if (!env->RandomBytes(&bytes[0], bytes.size())) return false;
  }
  if (!WriteAt(env, kKeyOffset, bytes)) return false;
  return ReadAt(env, kKeyOffset, kKeySize, key);
}

Identity loadIdentity(platform::Env* env) {
  Identity id;
  id.has_key = ensureDeviceKey(env, &id.key);
  id.has_model = readModelData(env, &id.model);
  id.has_reg = readRegData(env, &id.reg);
  id.ok = id.has_key && id.has_model && id.has_reg;
  return id;
}

}  // namespace eeprom
