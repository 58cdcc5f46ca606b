// The board layer: the one door to the platform. Every file, file-system
// query, shell command, clock reading, sleep, random number and serial device
// of the register goes through an Env handed to the code.
//
// Paths given to an Env are always the device's own fixed paths
// ("/dev/ttyGS0", "/nv/CASHIERS", ...); a sandbox Env maps them itself.
#ifndef FR_PLATFORM_ENV_H_
#define FR_PLATFORM_ENV_H_

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

namespace platform {

// An open file with stdio semantics and 64-bit offsets.
class File {
 public:
  virtual ~File() = default;
  virtual bool Seek(uint64_t offset) = 0;
  // Returns the number of bytes transferred; short on end of file or error.
  virtual size_t Read(void* buf, size_t n) = 0;
  virtual size_t Write(const void* buf, size_t n) = 0;
  virtual bool Flush() = 0;
  // Flushes and asks the system to put the data on the medium, so that a
  // power cut cannot reorder it with later writes.
  virtual bool Sync() { return Flush(); }
  // Closes the file; later calls fail. The destructor closes too.
  virtual bool Close() = 0;
};

class Env {
 public:
  virtual ~Env() = default;

  // Where a fixed device path lives on this machine (for messages and tools).
  virtual std::string Resolve(const std::string& path) const = 0;

  // Files. `mode` is an fopen mode ("r+", "w+", ...). nullptr on failure.
  virtual std::unique_ptr<File> OpenFile(const std::string& path, const char* mode) = 0;
  // File-system status query: true when the path exists.
  virtual bool PathExists(const std::string& path) = 0;
  virtual bool FileSize(const std::string& path, uint64_t* size) = 0;
  // Device number of the file system holding the path; false when unknown.
  virtual bool DeviceId(const std::string& path, uint64_t* dev) = 0;
  virtual bool CreateDirectory(const std::string& path) = 0;
  // Space available to the process on the file system holding the path.
  virtual bool AvailableBytes(const std::string& path, uint64_t* bytes) = 0;

  // Runs a command line through the shell; returns its status.
  virtual int RunShell(const std::string& command) = 0;

  // Seconds since 1970.
  virtual int64_t Now() = 0;
  virtual bool LocalTime(int64_t t, struct tm* out) = 0;
  // Local broken-down time to seconds since 1970; -1 when not representable.
  virtual int64_t MakeLocalTime(struct tm* tm) = 0;
  virtual void SleepMillis(int ms) = 0;

  // The standard pseudo-random generator (srand and rand).
  virtual void SeedRandom(unsigned seed) = 0;
  virtual int Random() = 0;
  // Bytes from the platform's random device.
  virtual bool RandomBytes(void* buf, size_t n) = 0;

  // Opens a serial device with open(2) flags; returns the descriptor or -1.
  virtual int OpenSerial(const std::string& path, int flags) = 0;

  // Takes an exclusive lock on the file at `path` (made, with its folder,
  // when missing) for the rest of the process's life, and writes the
  // process's number into it: one process per board. False when it cannot
  // be taken; *holder is then the process that holds it (0 when unknown or
  // the file cannot be made) and *error says why.
  virtual bool LockFile(const std::string& path, int64_t* holder, std::string* error) = 0;

  // One diagnostic line on standard output, newline added, flushed.
  virtual void WriteLine(const std::string& line) = 0;
  // Diagnostic text without a line end, flushed.
  virtual void WriteText(const std::string& text) = 0;

  // The real board when FR_ROOT is unset; otherwise the sandbox board
  // rooted at $FR_ROOT. Lives for the whole process.
  static Env* Default();
};

// A board that forwards everything to another one: the base of boards that
// change a few of its calls (the fault boards of the tests).
class EnvWrapper : public Env {
 public:
  // REQUIRES: target outlives the wrapper.
  explicit EnvWrapper(Env* target) : target_(target) {}
  Env* target() const { return target_; }

  std::string Resolve(const std::string& path) const override { return target_->Resolve(path); }
  std::unique_ptr<File> OpenFile(const std::string& path, const char* mode) override {
    return target_->OpenFile(path, mode);
  }
  bool PathExists(const std::string& path) override { return target_->PathExists(path); }
  bool FileSize(const std::string& path, uint64_t* size) override { return target_->FileSize(path, size); }
  bool DeviceId(const std::string& path, uint64_t* dev) override { return target_->DeviceId(path, dev); }
  bool CreateDirectory(const std::string& path) override { return target_->CreateDirectory(path); }
  bool AvailableBytes(const std::string& path, uint64_t* bytes) override {
    return target_->AvailableBytes(path, bytes);
  }
  int RunShell(const std::string& command) override { return target_->RunShell(command); }
  int64_t Now() override { return target_->Now(); }
  bool LocalTime(int64_t t, struct tm* out) override { return target_->LocalTime(t, out); }
  int64_t MakeLocalTime(struct tm* tm) override { return target_->MakeLocalTime(tm); }
  void SleepMillis(int ms) override { target_->SleepMillis(ms); }
  void SeedRandom(unsigned seed) override { target_->SeedRandom(seed); }
  int Random() override { return target_->Random(); }
  bool RandomBytes(void* buf, size_t n) override { return target_->RandomBytes(buf, n); }
  int OpenSerial(const std::string& path, int flags) override { return target_->OpenSerial(path, flags); }
  bool LockFile(const std::string& path, int64_t* holder, std::string* error) override {
    return target_->LockFile(path, holder, error);
  }
  void WriteLine(const std::string& line) override { target_->WriteLine(line); }
  void WriteText(const std::string& text) override { target_->WriteText(text); }

 private:
  Env* const target_;
};

// The real board: exactly the platform's own calls.
std::unique_ptr<Env> NewBoardEnv();

// The sandbox board rooted at `root` (see SandboxEnv in sandbox_env.h).
std::unique_ptr<Env> NewSandboxEnv(const std::string& root);

}  // namespace platform

#endif  // FR_PLATFORM_ENV_H_
