// The SD card that holds the fiscal archive: present as /dev/mmcblk0p1,
// mounted on /mnt/sd/ at start-up, 80 per cent of its free space usable.
#ifndef FR_STORAGE_SD_CARD_H_
#define FR_STORAGE_SD_CARD_H_

#include <cstdint>
#include <string>

#include "platform/env.h"

namespace sdcard {

constexpr const char* kDevice = "/dev/mmcblk0p1";
constexpr const char* kMountPoint = "/mnt/sd/";
constexpr const char* kArchiveName = "V0XD24TX";
constexpr uint64_t kDocumentSlot = 32768;    // the largest document
constexpr uint32_t kMaxDocuments = 250000;  // the archive's index

bool present(platform::Env* env);
bool mountPointPresent(platform::Env* env);
// The mount point is another file system than its parent.
bool mounted(platform::Env* env);
// Start-up: mounts the card unless it already is; prints what went wrong.
bool mount(platform::Env* env);
// "/mnt/sd/V0XD24TX" when mounted, else empty.
std::string archivePath(platform::Env* env);
uint64_t usableBytes(platform::Env* env);
uint32_t maxDocuments(platform::Env* env);

}  // namespace sdcard

#endif  // FR_STORAGE_SD_CARD_H_
