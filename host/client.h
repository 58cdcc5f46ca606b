// The host's side of the protocol: one request at a time over a HostLine,
// with the client's retry policy built in.
//
// The retry policy (each part switchable, RetryPolicy):
// - A reply lost or garbled on the way back (time-out, bad frame): once the
//   line is quiet, send 05, which makes the register send its last reply
//   again. It serves a 05 only after finishing the command in progress, so
//   the answer settles what happened: our identifier is our reply; the
//   previous request's reply, or a frame error with identifier 0, means our
//   frame was not carried out, and it is sent again. Anything else (a
//   register that restarted answers 17 with identifier 0) leaves the outcome
//   unknown: a request that changes state is then never sent a second time;
//   the caller reads the register's state (16, 48, 176) and decides.
// - A frame answered 9, 11 or 12 with identifier 0 (it arrived garbled or
//   in pieces) was not carried out. The rest of a broken frame is read by
//   the register as stray bytes (a 05 among them resends its last reply, a
//   04 starts another frame), so the client waits until the line has been
//   quiet for quiet_ms, drops what came, sends one 05 to bring the register
//   back to waiting for a frame (its answer is dropped too, unless it shows
//   the request was carried out after all), and then sends the frame again.
// - 23 at the opening of a document: the register refuses a document whose
//   time is not later than the last one's (one per second). The client
//   waits until the next whole second and opens again.
// - Time-outs come from the register's own pauses: a command it serves
//   itself answers after 10 ms, a queued one within about 60 ms; a command
//   that prints waits for the printer's answer after each print job, up to
//   1.5 s when the printer is silent. So documents, reports, copies, the
//   control tape and printed text get CommandInfo::wait_ms of 20 s, 48 and
//   192 (one printer poll) 5 s, the rest 1 s (self-served) or 3 s. A reply
//   not there after 2 s is asked for with 05 at once (the register answers
//   it after the command in progress), so a lost reply costs 2 s.
//
// REQUIRES: External synchronization (one request at a time).
#ifndef FR_HOST_CLIENT_H_
#define FR_HOST_CLIENT_H_

#include <cstdint>
#include <functional>
#include <string>

#include "host/host_line.h"
#include "host/protocol.h"
#include "host/status.h"

namespace host {

// What a host needs to know of a command code.
struct CommandInfo {
  uint8_t code;
  const char* name;     // "open receipt"
  bool changes_state;   // never sent twice while its outcome is unknown
  bool opens_document;  // 23 here is the one-second rule
  int wait_ms;          // how long a reply may take
};
// nullptr for a code the register does not know.
const CommandInfo* FindCommand(uint8_t code);

struct RetryPolicy {
  int ask_again = 3;    // 05s after a lost or garbled reply
  int send_again = 2;   // sends after a frame refused unread (9, 11, 12)
  int clock_waits = 3;  // openings again after 23
  int quiet_ms = 100;   // silence that makes the line quiet
  int wait_ms = 0;      // a reply's time-out; 0: the command's own wait_ms
  // A reply not there by then is asked for with 05 at once: harmless, as the
  // register answers a 05 only after the command in progress.
  int ask_after_ms = 2000;
  // Every request sent once, its first answer taken as it is.
  static RetryPolicy None() { return RetryPolicy{0, 0, 0, 100, 0, 0}; }
};

// The outcome of one request.
struct Answer {
  uint8_t command = 0;
  uint32_t id = 0;        // the identifier the request went with
  bool answered = false;  // the register answered it; else `error` says why
  int code = -1;          // result code, when answered
  std::string data;       // reply data, when answered
  std::string error;
  bool ok() const { return answered && code == rc::kOk; }
  // Offline when unanswered, Refused with the code, else OK.
  Status status() const;
};

class Client {
 public:
  // REQUIRES: `line` is open and outlives the client.
  explicit Client(HostLine* line, RetryPolicy policy = RetryPolicy());

  Answer Call(uint8_t command, const std::string& data);
  // A refused request (Request::refused) is answered at once, unsent: not
  // answered, with the refusal as its error.
  Answer Call(const Request& r);

  void set_policy(const RetryPolicy& p) { policy_ = p; }
  const RetryPolicy& policy() const { return policy_; }
  // Bytes as they go out (true) and come in (false), for traces.
  void set_trace(std::function<void(bool out, const std::string& bytes)> trace) { trace_ = std::move(trace); }
  // Identifiers are the client's: consecutive, never 0, from this one on.
  void set_next_id(uint32_t id) { next_id_ = id; }
  // The identifier the next request will go with.
  uint32_t next_id() const { return next_id_ == 0 ? 1 : next_id_; }

  // The register's last reply, asked for with 05 once the line is quiet: how
  // a request whose reply was lost (before a restart of this program too)
  // is settled. True with *r when it is request `id`'s; false when it is
  // another's or none came, with *line_gone when the line itself failed.
  bool LastReplyIs(uint32_t id, Reply* r, bool* line_gone);

  // How often the policy stepped in.
  struct Stats {
    int asked_again = 0;
    int sent_again = 0;
    int clock_waits = 0;
  };
  const Stats& stats() const { return stats_; }

 private:
  enum class Heard { kOurs, kRefused, kNotCarriedOut, kUnknown, kNothing };

  Answer Exchange(uint8_t command, const std::string& data);
  // Reads replies until ours (skipping earlier ones sent again) or a frame error.
  Heard Await(uint32_t id, int wait_ms, Reply* r);
  // 05 until the register's last reply comes back, and what it shows.
  Heard AskAgain(uint32_t id, int wait_ms, Reply* r);
  // After a refused frame: quiet, one 05, quiet. True when our reply turned up.
  bool Settle(uint32_t id, int wait_ms, Reply* r);
  bool Send(const std::string& bytes);
  void Trace(bool out, const std::string& bytes);
  uint32_t NextId();

  HostLine* const line_;
  RetryPolicy policy_;
  std::function<void(bool, const std::string&)> trace_;
  uint32_t next_id_;
  uint32_t last_answered_ = 0;  // identifier of the last request answered
  Stats stats_;
};

}  // namespace host

#endif  // FR_HOST_CLIENT_H_
