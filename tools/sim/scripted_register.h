// A register's side of a line that follows a script instead of the device
// program: each frame that arrives takes the script's next step (carried out
// and answered, its reply lost or garbled, refused in pieces, never seen, or
// the register restarted), and 05 is answered with the last reply, as the
// register does. Past the script's end every frame is answered 0.
#ifndef FR_TOOLS_SIM_SCRIPTED_REGISTER_H_
#define FR_TOOLS_SIM_SCRIPTED_REGISTER_H_

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/frame.h"

namespace sim {

enum class Act {
  kAnswer,   // carries it out and answers
  kLose,     // carries it out; the reply is lost on the way back
  kGarble,   // carries it out; the reply arrives with a bad CRC
  kRefuse,   // the frame arrived in pieces: answered 11, identifier 0
  kMiss,     // the frame never arrived
  kRestart,  // the register restarted before reading it: last reply 17, id 0
};

struct Step {
  Act act = Act::kAnswer;
  int code = 0;
  std::string data;  // the reply's data
};

class ScriptedRegister {
 public:
  // `fd`: the register's end of the line.
  ScriptedRegister(int fd, std::vector<Step> script);
  ~ScriptedRegister();
  ScriptedRegister(const ScriptedRegister&) = delete;
  ScriptedRegister& operator=(const ScriptedRegister&) = delete;

  int frames();       // frames read
  int carried_out();  // frames carried out
  // The command codes of the frames read, in order.
  std::vector<uint8_t> commands();

 private:
  void Run();
  void Serve(const host::Reply& request);

  const int fd_;
  const std::vector<Step> script_;
  std::atomic<bool> stop_{false};
  std::mutex mu_;
  int frames_ = 0;                 // guarded by mu_
  int carried_out_ = 0;            // guarded by mu_
  std::vector<uint8_t> commands_;  // guarded by mu_
  std::string last_;               // the register's thread only
  std::thread thread_;             // last: starts once the rest is made
};

}  // namespace sim

#endif  // FR_TOOLS_SIM_SCRIPTED_REGISTER_H_
