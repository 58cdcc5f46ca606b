#include "platform/board_env.h"

#include <io.h>
#include <windows.h>  // first: bcrypt.h uses its types

#include <bcrypt.h>

// windows.h makes CreateDirectory a macro, which would rename the Env call.
#undef CreateDirectory

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>
#include <system_error>
#include <thread>

#include "platform/stdio_file.h"
#include "util/system_error.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

// A path as the program was given it (main's arguments, fopen) is in the
// system's ANSI code page; every call here reads it the same way.
std::wstring Wide(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
  return out;
}

class WindowsFile : public StdioFile {
 public:
  explicit WindowsFile(FILE* f) : StdioFile(f) {}

  bool Seek(uint64_t offset) override {
    if (f_ == nullptr || offset > static_cast<uint64_t>(std::numeric_limits<long long>::max())) return false;
    // fseek's long has 32 bits here.
    return _fseeki64(f_, static_cast<long long>(offset), SEEK_SET) == 0;
  }
  // A new file's name is not flushed with its directory as on the board:
  // Windows gives programs no such call (NTFS journals the name itself).
  bool Sync() override { return Flush() && _commit(_fileno(f_)) == 0; }
};

}  // namespace

std::unique_ptr<File> BoardEnv::OpenFile(const std::string& path, const char* mode) {
  // Binary always: text mode would turn "\n" into "\r\n" and stop at 0x1A.
  std::string m = mode;
  if (m.find('b') == std::string::npos) m += 'b';
  FILE* f = _wfopen(Wide(Resolve(path)).c_str(), Wide(m).c_str());
  if (f == nullptr) return nullptr;
  return std::unique_ptr<File>(new WindowsFile(f));
}

bool BoardEnv::PathExists(const std::string& path) {
  std::error_code ec;
  return fs::exists(Wide(Resolve(path)), ec);
}

bool BoardEnv::FileSize(const std::string& path, uint64_t* size) {
  std::error_code ec;
  const uintmax_t n = fs::file_size(Wide(Resolve(path)), ec);
  if (ec) return false;
  *size = static_cast<uint64_t>(n);
  return true;
}

// Only the device asks (whether the SD card is mounted); the host tools never do.
bool BoardEnv::DeviceId(const std::string& path, uint64_t* dev) { return false; }

bool BoardEnv::CreateDirectory(const std::string& path) {
  const fs::path p = Wide(Resolve(path));
  std::error_code ec;
  // As mkdir(2) with EEXIST: anything already there counts as made.
  return fs::create_directory(p, ec) || fs::exists(p, ec);
}

bool BoardEnv::AvailableBytes(const std::string& path, uint64_t* bytes) {
  std::error_code ec;
  const fs::space_info space = fs::space(Wide(Resolve(path)), ec);
  if (ec) return false;
  *bytes = static_cast<uint64_t>(space.available);
  return true;
}

int BoardEnv::RunShell(const std::string& command) { return system(command.c_str()); }

int64_t BoardEnv::Now() { return static_cast<int64_t>(time(nullptr)); }

bool BoardEnv::LocalTime(int64_t t, struct tm* out) {
  const time_t tt = static_cast<time_t>(t);
  return localtime_s(out, &tt) == 0;
}

int64_t BoardEnv::MakeLocalTime(struct tm* tm) { return static_cast<int64_t>(mktime(tm)); }

void BoardEnv::SleepMillis(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

void BoardEnv::SeedRandom(unsigned seed) { srand(seed); }

int BoardEnv::Random() { return rand(); }

bool BoardEnv::RandomBytes(void* buf, size_t n) {
  auto* p = static_cast<PUCHAR>(buf);
  // BCryptGenRandom takes a ULONG count: larger requests go in pieces.
  while (n > 0) {
    const ULONG piece = static_cast<ULONG>(std::min<size_t>(n, std::numeric_limits<ULONG>::max()));
    if (BCryptGenRandom(nullptr, p, piece, BCRYPT_USE_SYSTEM_PREFERRED_RNG) < 0) return false;
    p += piece;
    n -= piece;
  }
  return true;
}

// The host tools reach a register through the host library's own line,
// never through the board's serial devices.
int BoardEnv::OpenSerial(const std::string& path, int flags) { return -1; }

bool BoardEnv::LockFile(const std::string& path, int64_t* holder, std::string* error) {
  *holder = 0;
  const std::string real = Resolve(path);
  const fs::path file = Wide(real);
  std::error_code ec;
  fs::create_directories(file.parent_path(), ec);  // its folder; a failure shows in the open below
  // Never closed: the lock lasts as long as the handle, and the system
  // drops it when the process ends, however it ends. Shared read and write,
  // so that others can read the holder's number.
  const HANDLE h = CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *error = "cannot open the lock file " + real + ": " + util::SystemMessage(GetLastError());
    return false;
  }
  // Windows locks are mandatory: the byte locked lies far past the end, so
  // that the number written at the start stays readable to others.
  OVERLAPPED at = {};
  at.Offset = 0;
  at.OffsetHigh = 0x7FFFFFFF;
  if (LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    // The holder's number in the file, as on the board: "1234\n".
    const std::string pid = std::to_string(GetCurrentProcessId()) + "\n";
    DWORD written = 0;
    const bool noted = SetEndOfFile(h) && WriteFile(h, pid.data(), static_cast<DWORD>(pid.size()), &written, nullptr);
    static_cast<void>(noted);  // without the note the lock holds all the same
    return true;
  }
  const DWORD taken = GetLastError();
  // Windows names no lock's holder: the number it wrote is the best word.
  char text[32] = {};
  DWORD n = 0;
  if (taken == ERROR_LOCK_VIOLATION && ReadFile(h, text, sizeof text - 1, &n, nullptr)) {
    *holder = strtoll(text, nullptr, 10);
  }
  CloseHandle(h);
  *error = *holder > 0 ? "process " + std::to_string(*holder) + " holds the lock " + real
                       : "cannot lock " + real + ": " + util::SystemMessage(taken);
  return false;
}

}  // namespace platform
