// The host link: owns the host line, reads one request frame at a time,
// serves the identity and status queries itself and hands every other
// command to the main thread through the transaction queue.
#ifndef FR_LINK_HOST_LINK_H_
#define FR_LINK_HOST_LINK_H_

#include <atomic>
#include <memory>
#include <string>

#include "link/link_state.h"
#include "link/processing_queue.h"
#include "link/transaction.h"
#include "platform/env.h"

namespace rs {
class SerialPort;
}

class HostLink {
 public:
  static constexpr const char* kDevicePath = "/dev/ttyGS0";

  // REQUIRES: env and state outlive the link. The port is not opened here.
  HostLink(platform::Env* env, LinkState* state, const std::string& path = kDevicePath);
  ~HostLink();

  HostLink(const HostLink&) = delete;
  HostLink& operator=(const HostLink&) = delete;

  // Opens the port and serves frames until a stop is requested (checked
  // between frames) or there is no port.
  void run();
  // May be called from any thread.
  void requestStop() { stop_ = true; }

  // One request: 0 and the request, or the error code to answer.
  int readFrame(CoreTransaction* request);
  // Serves a good request; false when no result could be had.
  bool handle(const CoreTransaction& request, CoreApiResult* result);
  void sendReply(const CoreApiResult& result);

  // The whole reply frame for a result.
  static std::string encodeReply(const CoreApiResult& result);

 private:
  uint32_t assignIdentifier(const CoreTransaction& request);
  // "read <position> <before><buffer in hex or EMPTY BUF><after>"
  void logReadError(int position, const std::string& buffer, const std::string& before = "",
                    const std::string& after = "");

  platform::Env* const env_;
  LinkState* const state_;
  const std::string path_;
  std::unique_ptr<rs::SerialPort> port_;
  std::unique_ptr<CoreQueue> queue_;
  std::atomic<bool> stop_{false};
  CoreApiResult last_reply_;  // code 17 until the first reply goes out
};

#endif  // FR_LINK_HOST_LINK_H_
