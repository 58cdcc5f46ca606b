#include "storage/sd_card.h"

namespace sdcard {

bool present(platform::Env* env) { return env->PathExists(kDevice); }

bool mountPointPresent(platform::Env* env) { return env->PathExists(kMountPoint); }

bool mounted(platform::Env* env) {
  uint64_t mine = 0, parent = 0;
  return env->DeviceId(kMountPoint, &mine) &&
         env->DeviceId(std::string(kMountPoint) + "..", &parent) && mine != parent;
}

bool mount(platform::Env* env) {
  if (!present(env)) {
    env->WriteLine("NO SD CARD");
    return false;
  }
  if (!mountPointPresent(env)) {
    env->CreateDirectory(kMountPoint);
    if (!mountPointPresent(env)) {
      env->WriteLine("NO MOUNT POINT");
      return false;
    }
  }
  if (!mounted(env)) {
    // The command's own status is not looked at: the result is what counts.
    env->RunShell(std::string("mount -t vfat ") + kDevice + " " + kMountPoint + " -o sync");
    if (!mounted(env)) env->WriteLine("SD CARD MOUNT ERROR");
  }
  return mounted(env);
}

std::string archivePath(platform::Env* env) {
  return mounted(env) ? std::string(kMountPoint) + kArchiveName : std::string();
}

uint64_t usableBytes(platform::Env* env) {
  uint64_t available = 0;
  if (!mounted(env) || !env->AvailableBytes(kMountPoint, &available)) return 0;
  return available / 10 * 8;
}

uint32_t maxDocuments(platform::Env* env) {
  const uint64_t documents = usableBytes(env) / kDocumentSlot;
  return documents < kMaxDocuments ? static_cast<uint32_t>(documents) : kMaxDocuments;
}

}  // namespace sdcard
