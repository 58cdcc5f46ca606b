#include "tools/sim/scripted_register.h"

#include <poll.h>
#include <unistd.h>

#include "host/host_line.h"
#include "link/frame_format.h"

namespace sim {

ScriptedRegister::ScriptedRegister(int fd, std::vector<Step> script)
    : fd_(fd), script_(std::move(script)), thread_([this] { Run(); }) {}

ScriptedRegister::~ScriptedRegister() {
  stop_ = true;
  thread_.join();
}

int ScriptedRegister::frames() {
  std::lock_guard<std::mutex> l(mu_);
  return frames_;
}

int ScriptedRegister::carried_out() {
  std::lock_guard<std::mutex> l(mu_);
  return carried_out_;
}

std::vector<uint8_t> ScriptedRegister::commands() {
  std::lock_guard<std::mutex> l(mu_);
  return commands_;
}

void ScriptedRegister::Run() {
  std::string in;
  last_ = host::EncodeFrame(std::string("\x11\0\0\0\0", 5));
  while (!stop_) {
    struct pollfd p = {fd_, POLLIN, 0};
    if (poll(&p, 1, 10) > 0) {
      char buf[512];
      const ssize_t n = read(fd_, buf, sizeof buf);
      if (n > 0) in.append(buf, static_cast<size_t>(n));
    }
    while (!in.empty()) {
      if (static_cast<uint8_t>(in[0]) == frame::kResend) {
        host::HostLine(fd_).Send(last_);
        in.erase(0, 1);
        continue;
      }
      size_t used = 0;
      host::Reply request;  // a request has a reply's layout
      const host::ParseStatus s = host::ParseFrame(in, &used, &request);
      if (s == host::ParseStatus::kNeedMore) break;
      in.erase(0, used);
      if (s == host::ParseStatus::kComplete) Serve(request);
    }
  }
}

void ScriptedRegister::Serve(const host::Reply& request) {
  std::lock_guard<std::mutex> l(mu_);
  const Step step = frames_ < static_cast<int>(script_.size()) ? script_[frames_] : Step{};
  ++frames_;
  commands_.push_back(request.code);
  const std::string reply = host::EncodeRequest(static_cast<uint8_t>(step.code), request.id, step.data);
  switch (step.act) {
    case Act::kAnswer:
    case Act::kLose:
    case Act::kGarble: {
      ++carried_out_;
      last_ = reply;
      std::string sent = reply;
      if (step.act == Act::kGarble) sent.back() ^= 1;
      if (step.act != Act::kLose) host::HostLine(fd_).Send(sent);
      break;
    }
    case Act::kRefuse:
      last_ = host::EncodeRequest(11, 0, "");
      host::HostLine(fd_).Send(last_);
      break;
    case Act::kMiss: break;
    case Act::kRestart: last_ = host::EncodeRequest(17, 0, ""); break;
  }
}

}  // namespace sim
