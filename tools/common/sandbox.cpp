#include "tools/common/sandbox.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <utility>

#include "platform/sandbox_env.h"

namespace sim {

namespace fs = std::filesystem;

Sandbox::Sandbox(std::string dir) : Sandbox(std::move(dir), false) {}

Sandbox::Sandbox(std::string dir, bool owned) : dir_(std::move(dir)), owned_(owned) {}

Sandbox Sandbox::Temp() {
  const char* tmp = getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/fr-sandbox-XXXXXX";
  if (mkdtemp(&pattern[0]) == nullptr) return Sandbox(std::string(), false);
  return Sandbox(pattern, true);
}

Sandbox::Sandbox(Sandbox&& other) noexcept : dir_(std::move(other.dir_)), owned_(std::exchange(other.owned_, false)) {}

Sandbox& Sandbox::operator=(Sandbox&& other) noexcept {
  if (this != &other) {
    RemoveIfOwned();
    dir_ = std::move(other.dir_);
    owned_ = std::exchange(other.owned_, false);
  }
  return *this;
}

Sandbox::~Sandbox() { RemoveIfOwned(); }

void Sandbox::RemoveIfOwned() {
  if (owned_ && !dir_.empty()) {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  owned_ = false;
}

bool Sandbox::Create() {
  if (dir_.empty()) return false;
  const std::string eeprom_dir = fs::path(kEepromPath).parent_path().string();
  for (const std::string& sub :
       {std::string("/dev"), std::string("/nv"), std::string("/mnt"), std::string("/sandbox"), eeprom_dir}) {
    std::error_code ec;
    fs::create_directories(Path(sub), ec);
    if (!fs::is_directory(Path(sub), ec)) return false;
  }
  return true;
}

bool Sandbox::WriteBlankEeprom() {
  std::error_code ec;
  if (fs::exists(Path(kEepromPath), ec)) return true;
  return WriteEeprom(std::string(kEepromSize, '\xFF'));
}

bool Sandbox::WriteEeprom(const std::string& bytes) { return WriteFile(kEepromPath, bytes); }

bool Sandbox::ReadFile(const std::string& device_path, std::string* out) const {
  std::ifstream in(Path(device_path), std::ios::binary);
  if (!in) return false;
  out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool Sandbox::WriteFile(const std::string& device_path, const std::string& bytes) {
  if (dir_.empty()) return false;
  std::error_code ec;
  fs::create_directories(fs::path(Path(device_path)).parent_path(), ec);
  std::ofstream out(Path(device_path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return !out.fail();
}

bool Sandbox::RemoveFile(const std::string& device_path) {
  std::error_code ec;
  fs::remove(Path(device_path), ec);
  return !ec;
}

bool Sandbox::InsertCard() { return WriteFile(kCardPath, std::string()); }
bool Sandbox::RemoveCard() { return RemoveFile(kCardPath); }

bool Sandbox::SetMountFails(bool fails) {
  return fails ? WriteFile(kMountFailsPath, std::string()) : RemoveFile(kMountFailsPath);
}

bool Sandbox::SetNoPauses(bool no_pauses) {
  return no_pauses ? WriteFile(kNoPausesPath, std::string()) : RemoveFile(kNoPausesPath);
}

bool Sandbox::SetFixedClock(int64_t t) {
  const std::string path = platform::SandboxEnv::kFixedClock;
  if (t < 0) return RemoveFile(path);
  // Renamed into place: the running device never reads a half-written file.
  std::error_code ec;
  if (!WriteFile(path + ".new", std::to_string(t) + "\n")) return false;
  fs::rename(Path(path + ".new"), Path(path), ec);
  return !ec;
}

bool Sandbox::SetFreeBytes(int64_t bytes) {
  if (bytes < 0) return RemoveFile(kFreeBytesPath);
  return WriteFile(kFreeBytesPath, std::to_string(bytes) + "\n");
}

}  // namespace sim
