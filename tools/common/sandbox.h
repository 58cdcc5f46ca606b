// A directory standing for the board's file system: the device runs with
// FR_ROOT=<dir> and finds each of its fixed paths P at <dir>P.
//
//   <dir>/dev/            serial line links, the card <dir>/dev/mmcblk0p1
//   <dir>/nv/             the tables
//   <dir>/mnt/            mount points
//   <dir>/sandbox/        control files (mount-fails, free-bytes, no-pauses, clock)
//   <dir>/sys/bus/i2c/devices/0-0050/eeprom   the identity EEPROM, 4096 bytes
#ifndef FR_TOOLS_COMMON_SANDBOX_H_
#define FR_TOOLS_COMMON_SANDBOX_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace sim {

class Sandbox {
 public:
  static constexpr const char* kEepromPath = "/sys/bus/i2c/devices/0-0050/eeprom";
  static constexpr size_t kEepromSize = 4096;
  static constexpr const char* kCardPath = "/dev/mmcblk0p1";
  static constexpr const char* kMountFailsPath = "/sandbox/mount-fails";
  static constexpr const char* kFreeBytesPath = "/sandbox/free-bytes";
  static constexpr const char* kNoPausesPath = "/sandbox/no-pauses";

  // Does not touch the disk; the directory is not removed later.
  explicit Sandbox(std::string dir);
  // A fresh directory under $TMPDIR (or /tmp), removed by the destructor.
  // dir() is empty when it could not be made.
  static Sandbox Temp();
  Sandbox(Sandbox&& other) noexcept;
  Sandbox& operator=(Sandbox&& other) noexcept;
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;
  ~Sandbox();

  // Makes the directories of the layout; true when they all exist.
  bool Create();
  const std::string& dir() const { return dir_; }
  // Where the device's `device_path` lives here: "/nv/CASHIERS" -> <dir>/nv/CASHIERS.
  std::string Path(const std::string& device_path) const { return dir_ + device_path; }

  // An erased EEPROM (all 0xFF), unless one is there already.
  bool WriteBlankEeprom();
  bool WriteEeprom(const std::string& bytes);

  bool ReadFile(const std::string& device_path, std::string* out) const;
  // Replaces the file, making its parent directories as needed.
  bool WriteFile(const std::string& device_path, const std::string& bytes);

  bool InsertCard();
  bool RemoveCard();
  bool SetMountFails(bool fails);
  // What the board reports as free space on the card; negative: the real figure.
  bool SetFreeBytes(int64_t bytes);
  // The device's pauses only yield the processor; read when the device starts.
  bool SetNoPauses(bool no_pauses);
  // The board's clock stands at `t` (seconds since 1970) and can be moved by
  // calling this again while the device runs, when set before it starts;
  // negative: the running clock.
  bool SetFixedClock(int64_t t);

 private:
  Sandbox(std::string dir, bool owned);
  bool RemoveFile(const std::string& device_path);
  void RemoveIfOwned();

  std::string dir_;
  bool owned_ = false;
};

}  // namespace sim

#endif  // FR_TOOLS_COMMON_SANDBOX_H_
