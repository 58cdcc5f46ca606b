// The device program as a child process with its own sandbox root.
//
// REQUIRES: External synchronization (one thread per instance).
#ifndef FR_TOOLS_COMMON_DEVICE_PROCESS_H_
#define FR_TOOLS_COMMON_DEVICE_PROCESS_H_

#include <signal.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace sim {

class DeviceProcess {
 public:
  DeviceProcess() = default;
  DeviceProcess(const DeviceProcess&) = delete;
  DeviceProcess& operator=(const DeviceProcess&) = delete;
  // Kills (SIGKILL) and reaps a child still running.
  ~DeviceProcess();

  // Runs `binary` (a path; no PATH search) with `args`, the current
  // environment plus FR_ROOT=root, stdin from /dev/null, and stdout and
  // stderr appended to <log_dir>/stdout.log and <log_dir>/stderr.log, so a
  // restarted device adds to the same logs. False if a child is still running
  // or it could not be started; a binary that cannot be executed exits 127.
  // When $FR_CORE is set, a `binary` named fr-core runs that program instead
  // (a cross-built fr-core behind an emulator, say) with the same arguments.
  // The child is killed when the thread that started it ends (the whole
  // parent process, as a rule): it never runs on alone.
  bool Start(const std::string& binary, const std::vector<std::string>& args, const std::string& root,
             const std::string& log_dir);
  // Started and not exited yet.
  bool running();
  // Sends `sig` and reaps the child; one that outlives `sig` by 2 s is killed.
  void Kill(int sig = SIGKILL);
  // True once the child has exited, within `timeout_ms`; *status (may be null)
  // is then its exit status, or 128 + the signal that ended it.
  bool Wait(int timeout_ms, int* status);

  std::string Stdout() const;
  std::string Stderr() const;
  // Stdout() split at newlines, without them.
  std::vector<std::string> StdoutLines() const;
  // True as soon as the stdout log contains `needle`; false after `timeout_ms`.
  bool WaitForStdout(const std::string& needle, int timeout_ms) const;
  // The last child started, or -1.
  pid_t pid() const { return pid_; }

 private:
  bool Reap(bool block);

  pid_t pid_ = -1;
  bool exited_ = true;
  int exit_status_ = 0;
  std::string stdout_path_;
  std::string stderr_path_;
};

}  // namespace sim

#endif  // FR_TOOLS_COMMON_DEVICE_PROCESS_H_
