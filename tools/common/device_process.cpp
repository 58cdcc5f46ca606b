#include "tools/common/device_process.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <thread>

extern char** environ;

namespace sim {
namespace {

constexpr int kPollMillis = 5;
constexpr int kKillGraceMillis = 2000;

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs in the forked child: async-signal-safe calls only.
void MoveFd(int fd, int target) {
  if (fd == target) {
    fcntl(fd, F_SETFD, 0);  // keep it across exec
  } else {
    dup2(fd, target);  // the copy is not close-on-exec
  }
}

// The device program may be swapped at run time (see Start); other programs
// the tests run keep their path.
std::string DeviceBinary(const std::string& binary) {
  const char* core = getenv("FR_CORE");
  if (core == nullptr || *core == '\0') return binary;
  const size_t slash = binary.rfind('/');
  const std::string name = slash == std::string::npos ? binary : binary.substr(slash + 1);
  return name == "fr-core" ? std::string(core) : binary;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (std::string& s : strings) out.push_back(&s[0]);
  out.push_back(nullptr);
  return out;
}

}  // namespace

DeviceProcess::~DeviceProcess() { Kill(SIGKILL); }

bool DeviceProcess::Start(const std::string& binary, const std::vector<std::string>& args, const std::string& root,
                          const std::string& log_dir) {
  if (running()) return false;
  std::error_code ec;
  std::filesystem::create_directories(log_dir, ec);
  stdout_path_ = log_dir + "/stdout.log";
  stderr_path_ = log_dir + "/stderr.log";

  // Everything the child needs is made before fork: between fork and exec a
  // multi-threaded parent's child may not allocate.
  std::vector<std::string> argv_strings = {DeviceBinary(binary)};
  argv_strings.insert(argv_strings.end(), args.begin(), args.end());
  std::vector<std::string> env_strings;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::string(*e).compare(0, 8, "FR_ROOT=") != 0) env_strings.push_back(*e);
  }
  env_strings.push_back("FR_ROOT=" + root);
  std::vector<char*> argv = Pointers(argv_strings);
  std::vector<char*> envp = Pointers(env_strings);

  const int flags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC;
  const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
  const int out = open(stdout_path_.c_str(), flags, 0644);
  const int err = open(stderr_path_.c_str(), flags, 0644);
  const pid_t parent = getpid();
  pid_t pid = -1;
  if (in >= 0 && out >= 0 && err >= 0) pid = fork();
  if (pid == 0) {
    // A device left running alone would hold its lines and its board.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);  // the parent died before that
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);  // the parent's threads may block some
    MoveFd(in, 0);
    MoveFd(out, 1);
    MoveFd(err, 2);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  for (int fd : {in, out, err}) {
    if (fd >= 0) close(fd);
  }
  if (pid < 0) return false;
  pid_ = pid;
  exited_ = false;
  return true;
}

bool DeviceProcess::Reap(bool block) {
  if (exited_) return true;
  int status = 0;
  pid_t r;
  do {
    r = waitpid(pid_, &status, block ? 0 : WNOHANG);
  } while (r < 0 && errno == EINTR);
  if (r == 0) return false;
  exited_ = true;
  if (r < 0) {
    exit_status_ = -1;  // reaped elsewhere: the status is lost
  } else {
    exit_status_ = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
  }
  return true;
}

bool DeviceProcess::running() { return !Reap(false); }

void DeviceProcess::Kill(int sig) {
  if (!running()) return;
  kill(pid_, sig);
  if (sig != SIGKILL && Wait(kKillGraceMillis, nullptr)) return;
  if (sig != SIGKILL) kill(pid_, SIGKILL);
  Reap(true);
}

bool DeviceProcess::Wait(int timeout_ms, int* status) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!Reap(false)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollMillis));
  }
  if (status != nullptr) *status = exit_status_;
  return true;
}

std::string DeviceProcess::Stdout() const { return ReadWholeFile(stdout_path_); }
std::string DeviceProcess::Stderr() const { return ReadWholeFile(stderr_path_); }

std::vector<std::string> DeviceProcess::StdoutLines() const {
  const std::string text = Stdout();
  std::vector<std::string> lines;
  size_t begin = 0;
  while (begin < text.size()) {
    size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(begin, end - begin));
    begin = end + 1;
  }
  return lines;
}

bool DeviceProcess::WaitForStdout(const std::string& needle, int timeout_ms) const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    if (Stdout().find(needle) != std::string::npos) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace sim
