#include "app/eeprom_tool.h"

#include <cerrno>
#include <cstring>

#include "storage/eeprom_format.h"
#include "util/coding.h"

namespace eeprom {
namespace {

constexpr size_t kWipeBlock = 512;
constexpr size_t kDumpRow = 64;
constexpr size_t kDigitsPerGroup = 16;

std::unique_ptr<platform::File> OpenEeprom(platform::Env* env, std::string* error) {
  std::unique_ptr<platform::File> f = env->OpenFile(kPath, "r+");
  if (!f) {
    *error = "cannot open the identity EEPROM " + env->Resolve(kPath) + ": " + strerror(errno);
  }
  return f;
}

}  // namespace

std::string DumpLine(const unsigned char* row) {
  const std::string hex = util::HexUpper(std::string(reinterpret_cast<const char*>(row), kDumpRow));
  std::string line;
  for (size_t i = 0; i < hex.size(); i += kDigitsPerGroup) {
    if (i != 0) line += "  ";
    line += hex.substr(i, kDigitsPerGroup);
  }
  return line;
}

bool Wipe(platform::Env* env, std::string* error) {
  std::unique_ptr<platform::File> f = OpenEeprom(env, error);
  if (!f) return false;
  const std::string block(kWipeBlock, static_cast<char>(kBlank));
  bool ok = f->Seek(0);
  for (size_t done = 0; ok && done < kSize; done += kWipeBlock) {
    ok = f->Write(block.data(), block.size()) == block.size() && f->Flush();
  }
  if (!f->Close()) ok = false;
  if (!ok) {
    *error = "cannot write the identity EEPROM " + env->Resolve(kPath);
    return false;
  }
  return Dump(env, error);
}

bool Dump(platform::Env* env, std::string* error) {
  std::unique_ptr<platform::File> f = OpenEeprom(env, error);
  if (!f) return false;
  // Bytes that are not there would print as blank ones: a short chip or
  // file says so instead of showing an identity it does not hold.
  uint64_t size = 0;
  if (env->FileSize(kPath, &size) && size < kSize) {
    *error = "the identity EEPROM " + env->Resolve(kPath) + " holds " + std::to_string(size) + " bytes, not " +
             std::to_string(kSize);
    return false;
  }
  for (size_t offset = 0; offset < kSize; offset += kDumpRow) {
    unsigned char row[kDumpRow];
    memset(row, kBlank, sizeof(row));
    if (!f->Seek(offset) || f->Read(row, sizeof(row)) != sizeof(row)) {
      *error = "cannot read the identity EEPROM " + env->Resolve(kPath) + " at byte " + std::to_string(offset);
      return false;
    }
    env->WriteLine(DumpLine(row));
  }
  f->Close();
  return true;
}

}  // namespace eeprom
