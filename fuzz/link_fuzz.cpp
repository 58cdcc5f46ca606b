// Bytes a host puts on the POS line, into the host link's own serving loop
// (HostLink::run: readFrame, handle, sendReply) over a pseudo-terminal linked
// at <root>/dev/ttyGS0 of a fake board, whose pauses cost nothing. Whatever
// comes back out must be whole reply frames with a good CRC, and exactly the
// replies the frame rules of docs/host-protocol.md give for the input: one
// per frame or framing error, 05 answered with the last reply byte for byte,
// identifiers and data carried through. All of the input must be read, and a
// call that never returns is turned into a crash by a watchdog.
//
// The link reads its line blocking, so a host that stops sending would hold
// it for ever. Every input is therefore led by one stray byte; once the link
// has logged skipping it, the line is switched to reads that return 0 when
// nothing is waiting, which the link sees as a host gone quiet.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/codes.h"
#include "app/core_link_state.h"
#include "app/fr_status.h"
#include "app/identity.h"
#include "app/reply_format.h"
#include "app/version.h"
#include "host/frame.h"
#include "link/frame_format.h"
#include "link/host_link.h"
#include "platform/fake_env.h"
#include "storage/model_data.h"
#include "storage/reg_data.h"
#include "storage/tax_rate.h"
#include "util/coding.h"

namespace {

// A pty's input buffer holds 4095 bytes. A longer input would reach the link
// in pieces that depend on timing, and a finding would not repeat.
constexpr size_t kLineCapacity = 4095;
constexpr char kLeadByte = 0x00;
constexpr size_t kMaxInput = kLineCapacity - 1;
constexpr size_t kHeaderSize = 1 + frame::kLengthSize;
constexpr int64_t kStartTime = 1704067200;
constexpr unsigned kRandomSeed = 1;
// An input that keeps the process busy this long (CPU time) is stuck in a
// loop; one that takes this long on the clock is stuck in a call that never
// returns. The clock's limit is long: a run niced behind other work can wait
// many seconds for a core, and that must not pass for a hang.
constexpr int64_t kWatchdogCpuNanos = 10LL * 1000 * 1000 * 1000;
constexpr auto kWatchdogWall = std::chrono::seconds(120);
constexpr auto kLoadLimit = std::chrono::seconds(2);
const char kDeviceKey[] = "0123456789ABCDEF";

[[noreturn]] void Fail(const char* what) {
  fprintf(stderr, "link_fuzz: %s\n", what);
  abort();
}

void Check(bool ok, const char* what) {
  if (!ok) Fail(what);
}

int64_t ProcessCpuNanos() {
  struct timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000 * 1000 * 1000 + t.tv_nsec;
}

// The host's end of the line (master, non-blocking) and one slave descriptor
// held open, so that the pty keeps its settings while the link closes and
// reopens its side between inputs.
class Line {
 public:
  void Open(const std::string& link_path) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128];
    Check(master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0 &&
              ptsname_r(master_, name, sizeof(name)) == 0,
          "no pseudo-terminal");
    slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    Check(slave_ >= 0 && MakeRaw(master_) && MakeRaw(slave_) && tcgetattr(slave_, &raw_) == 0,
          "pseudo-terminal not set up");
    Check(fcntl(master_, F_SETFL, O_NONBLOCK) == 0, "master not made non-blocking");
    unlink(link_path.c_str());
    Check(symlink(name, link_path.c_str()) == 0, "line not linked into the board");
  }

  // The settings the line had before the link configured it.
  void Reset() { Check(tcsetattr(slave_, TCSANOW, &raw_) == 0, "line settings not restored"); }

  // Queues the host's bytes and waits until all of them are readable at once.
  void Load(const std::string& bytes) {
    size_t put = 0;
    while (put < bytes.size()) {
      const ssize_t n = write(master_, bytes.data() + put, bytes.size() - put);
      Check(n > 0, "host bytes not written");
      put += static_cast<size_t>(n);
    }
    const auto deadline = std::chrono::steady_clock::now() + kLoadLimit;
    while (Waiting() != bytes.size()) {
      Check(std::chrono::steady_clock::now() < deadline, "host bytes never reached the line");
      std::this_thread::yield();
    }
  }

  // Bytes on the line that the link has not read.
  size_t Waiting() {
    int n = 0;
    Check(ioctl(slave_, FIONREAD, &n) == 0 && n >= 0, "FIONREAD failed");
    return static_cast<size_t>(n);
  }

  // From now on a read of an empty line returns 0 at once.
  void EndWhenEmpty() {
    struct termios t;
    Check(tcgetattr(slave_, &t) == 0, "line settings not read");
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    Check(tcsetattr(slave_, TCSANOW, &t) == 0, "line settings not written");
  }

  // Everything the link has written so far.
  void Drain(std::string* out) {
    char buf[4096];
    for (;;) {
      const ssize_t n = read(master_, buf, sizeof(buf));
      if (n > 0) {
        out->append(buf, static_cast<size_t>(n));
        continue;
      }
      Check(n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK), "host end of the line failed");
      return;
    }
  }

 private:
  static bool MakeRaw(int fd) {
    struct termios t;
    if (tcgetattr(fd, &t) != 0) return false;
    cfmakeraw(&t);
    return tcsetattr(fd, TCSANOW, &t) == 0;
  }

  int master_ = -1;
  int slave_ = -1;
  struct termios raw_ = {};
};

// The fake board, watching the link through the two calls it makes around
// every reply: a pause before each reply of the loop, a log line before each
// byte skipped while hunting for a frame start (a 05 is then answered).
class LineEnv : public platform::FakeEnv {
 public:
  Line line;
  HostLink* link = nullptr;
  bool armed = false;  // the lead byte was read; the line now ends when empty
  size_t skipped = 0;  // input bytes the link logged as skipped
  std::string out;     // what came back on the host's end

  void StartInput() {
    set_now(kStartTime);
    SeedRandom(kRandomSeed);
    armed = false;
    skipped = 0;
    out.clear();
  }

  void SleepMillis(int ms) override {
    FakeEnv::SleepMillis(ms);
    Check(armed, "a reply came before the lead byte was read: the line did not open");
    line.Drain(&out);
    // The host has nothing more to say: the loop may stop after this reply.
    if (line.Waiting() == 0) link->requestStop();
  }

  // Kept out of lines(): a long run would pile them up.
  void WriteLine(const std::string& text) override {
    if (text.compare(0, 3, "<< ") == 0) {
      if (!armed) {
        Check(text.compare(0, 5, "<< 0 ") == 0, "the first skipped byte is not the lead byte");
        line.EndWhenEmpty();
        armed = true;
        return;
      }
      ++skipped;
    }
    line.Drain(&out);
  }
};

// The main thread's side of the queue: each transaction is answered at once
// with code 10 and the request's own data, so the reply shows what the link
// handed on. Also the watchdog of the input being served.
class Consumer {
 public:
  Consumer() : thread_([this] { Loop(); }) {}

  void Begin() {
    std::lock_guard<std::mutex> lock(mu_);
    active_ = true;
    started_ = std::chrono::steady_clock::now();
    started_cpu_ = ProcessCpuNanos();
    cv_.notify_all();
  }
  void End() {
    std::lock_guard<std::mutex> lock(mu_);
    active_ = false;
  }

 private:
  void Loop() {
    CoreQueue queue;
    for (;;) {
      {
        std::unique_lock<std::mutex> lock(mu_);
        cv_.wait(lock, [this] { return active_; });
        if (ProcessCpuNanos() - started_cpu_ > kWatchdogCpuNanos) {
          Fail("the link spent 10 s of CPU time on one input");
        }
        if (std::chrono::steady_clock::now() - started_ > kWatchdogWall) {
          Fail("the link did not finish an input within 120 s");
        }
      }
      CoreTransaction t;
      if (!queue.pop(&t)) {
        std::this_thread::yield();
        continue;
      }
      // pushResult refuses identifier 0, so that exec would wait for ever.
      Check(t.id != 0, "a transaction with identifier 0 reached the queue: exec never returns");
      queue.pushResult(CoreApiResult(rc::kUnknownCommand, t.id, t.data));
    }
  }

  std::mutex mu_;
  std::condition_variable cv_;
  bool active_ = false;                             // guarded by mu_
  std::chrono::steady_clock::time_point started_;  // guarded by mu_
  int64_t started_cpu_ = 0;                        // guarded by mu_
  std::thread thread_;
};

struct Board {
  LineEnv env;
  CoreLinkState state;
  Consumer* consumer = new Consumer;  // never destroyed: its thread runs to the end

  Board() {
    Check(env.CreateDirectory("/dev"), "no /dev on the board");
    env.line.Open(env.Resolve(HostLink::kDevicePath));

    // A registered register with an open shift, so every self-served
    // command answers with data.
    ModelData model;
    model.setSerialNumber("0000000042");
    model.setCheckValue(model.computeCheckValue(kDeviceKey));
    CoreIdentity::replaceModelData(model);
    CoreIdentity::storeDeviceKey(kDeviceKey);
    RegData reg;
    reg.setFnNumber("9999078900012345");
    reg.setInn("7701234567");
    reg.setText(0, "Romashka");
    reg.setText(1, "Lesnaya 1");
    reg.setText(2, "Moskva");
    reg.setRegistrationTime(static_cast<int32_t>(kStartTime - 86400));
    reg.setArchiveNumber(1);
    TaxRate rate;
    rate.setType(TaxRate::kIncluded);
    rate.setRate(2000);
    rate.setName("VAT 20");
    reg.setTaxRateImage(0, rate.image());
    reg.setCheckValue(reg.computeCheckValue(model.serialNumber(), kDeviceKey));
    CoreIdentity::replaceRegData(reg);
    Check(model.isValid() && reg.isValid(), "identity not valid");

    FrStatus::reset();
    FrStatus::setFlags(FrStatus::kArchivePresent | FrStatus::kRegistered | FrStatus::kShiftOpen |
                       FrStatus::kArchiveUsable);
    FrStatus::setShiftNumber(7);
    FrStatus::setReceiptsInShift(3);
    FrStatus::setLastDocumentNumber(41);
    FrStatus::setShiftOpenDocument(38);
    FrStatus::setCashInDrawer(1234500);
    FrStatus::markConstant();
  }
};

Board& GetBoard() {
  static Board board;
  return board;
}

struct Reply {
  bool resend = false;  // the previous reply again, byte for byte
  int code = 0;
  bool id_known = true;  // false when the link assigns it
  uint32_t id = 0;
  std::string data;
};

Reply Error(int code) {
  Reply r;
  r.code = code;
  return r;
}

Reply Resend() {
  Reply r;
  r.resend = true;
  return r;
}

// The reply to a good request body, from the state the board was given.
Reply Serve(const std::string& body) {
  Reply r;
  const uint8_t command = static_cast<uint8_t>(body[0]);
  std::string data;
  if (body.size() >= 1 + frame::kIdSize) {
    r.id = util::GetFixed32(body, 1);
    data = body.substr(1 + frame::kIdSize);
  }
  r.id_known = r.id != 0;
  r.code = rc::kOk;
  const ModelData model = CoreIdentity::modelData();
  switch (command) {
    case cmd::kShiftStatus: {
      r.data.push_back(FrStatus::testFlags(FrStatus::kShiftOpen) ? 1 : 0);
      util::PutFixed16(&r.data, FrStatus::shiftNumber());
      util::PutFixed16(&r.data, FrStatus::receiptsInShift());
      const FrStatus::CycleStatus cycle = FrStatus::cycle();
      r.data.append(reinterpret_cast<const char*>(cycle.bytes), sizeof(cycle.bytes));
      break;
    }
    case cmd::kDeviceStatus: {
      const FrStatus::StatusStruct status = FrStatus::status();
      r.data = model.serialNumber();
      r.data.append(reinterpret_cast<const char*>(status.bytes), sizeof(status.bytes));
      break;
    }
    case cmd::kModelData:
      r.data = model.image().substr(0, reply::kModelDataSize);
      break;
    case cmd::kDeviceKey:
      r.data.assign(reply::kKeyHeader, reply::kKeyHeaderSize);
      r.data += kDeviceKey;
      break;
    case cmd::kVersion:
      r.data = version::Bytes();
      break;
    case cmd::kRegistrationField:
      if (data.size() != 2) {
        r.code = rc::kBadData;
      } else {
        r.data = CoreIdentity::regData().fieldAsTlv(util::GetFixed16(data, 0)).encode();
      }
      break;
    default:
      r.code = rc::kUnknownCommand;  // the queue's answer
      r.data = data;
      break;
  }
  return r;
}

// What the link owes a host for `in`. The line is read a byte at a time while
// hunting for 04 (05 asks for the last reply again, other bytes are skipped),
// then the length field with one read and body and CRC with one more; a read
// comes back short only at the end of the input. The loop stops after the
// reply that leaves the line empty.
std::vector<Reply> Expect(const std::string& in, size_t* skipped) {
  std::vector<Reply> replies;
  size_t pos = 0;
  *skipped = 0;
  do {
    bool start = false;
    while (pos < in.size()) {
      const uint8_t b = static_cast<uint8_t>(in[pos++]);
      if (b == frame::kStart) {
        start = true;
        break;
      }
      ++*skipped;
      if (b == frame::kResend) replies.push_back(Resend());
    }
    if (!start) {
      replies.push_back(Error(rc::kNoFrame));
      continue;
    }
    if (in.size() - pos < frame::kLengthSize) {
      pos = in.size();
      replies.push_back(Error(rc::kFrameLength));
      continue;
    }
    const std::string length_field = in.substr(pos, frame::kLengthSize);
    pos += frame::kLengthSize;
    const size_t length = util::GetFixed16(length_field, 0);
    if (length > frame::kMaxBody) {
      replies.push_back(Error(rc::kFrameLength));
      continue;
    }
    if (in.size() - pos < length + frame::kCrcSize) {
      pos = in.size();
      replies.push_back(Error(rc::kFrameLength));
      continue;
    }
    const std::string body = in.substr(pos, length);
    const uint16_t crc = util::GetFixed16(in, pos + length);
    pos += length + frame::kCrcSize;
    if (length == 0) {
      replies.push_back(Error(rc::kFrameLength));
    } else if (host::FrameCrc(length_field + body) != crc) {
      replies.push_back(Error(rc::kCrcMismatch));
    } else {
      replies.push_back(Serve(body));
    }
  } while (pos < in.size());
  return replies;
}

// Splits the host's end of the line into reply frames; anything that is not
// a whole, well-formed frame is a finding.
std::vector<host::Reply> SplitReplies(const std::string& out) {
  std::vector<host::Reply> frames;
  size_t pos = 0;
  while (pos < out.size()) {
    // Only the frame begun here: after it may come thousands of resent replies.
    const std::string head = out.substr(pos, kHeaderSize);
    size_t used = 0;
    host::Reply r;
    const host::ParseStatus parsed =
        host::ParseFrame(out.substr(pos, head.size() + host::MissingBytes(head)), &used, &r);
    Check(parsed != host::ParseStatus::kNeedMore, "reply cut short");
    Check(parsed == host::ParseStatus::kComplete, "reply not a frame: start byte, empty body or CRC wrong");
    const size_t length = used - kHeaderSize - frame::kCrcSize;
    Check(length <= 1 + frame::kMaxReplyPayload, "reply longer than the format allows");
    // Nothing served here is larger than a request may be.
    Check(length <= frame::kMaxBody, "reply longer than 1024 bytes of body");
    // A body is result and identifier, or the lone 11 of an oversize reply.
    Check(r.has_id || (length == 1 && r.code == rc::kFrameLength), "reply body too short");
    frames.push_back(r);
    pos += used;
  }
  return frames;
}

// The reply a 05 gets before anything has been answered: code 17, id 0.
std::string FirstLastReply() {
  std::string body(1, static_cast<char>(rc::kNotFound));
  util::PutFixed32(&body, 0);
  return host::EncodeFrame(body);
}

void CheckReplies(const std::vector<host::Reply>& frames, const std::vector<Reply>& expected) {
  Check(frames.size() == expected.size(), "not one reply per frame, error and 05");
  std::string last = FirstLastReply();
  for (size_t i = 0; i < frames.size(); ++i) {
    const host::Reply& f = frames[i];
    const Reply& e = expected[i];
    if (e.resend) {
      Check(f.raw == last, "05 did not get the last reply again");
    } else {
      Check(f.has_id, "reply without an identifier");
      Check(f.code == e.code, "wrong result code");
      Check(e.id_known ? f.id == e.id : f.id != 0, "wrong identifier");
      Check(f.data == e.data, "wrong reply data");
    }
    last = f.raw;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Board& board = GetBoard();
  LineEnv& env = board.env;
  const std::string in(reinterpret_cast<const char*>(data), std::min(size, kMaxInput));

  env.StartInput();
  env.line.Reset();
  env.line.Load(std::string(1, kLeadByte) + in);
  {
    HostLink link(&env, &board.state);
    env.link = &link;
    board.consumer->Begin();
    link.run();
    board.consumer->End();
    env.link = nullptr;
  }
  env.line.Drain(&env.out);

  Check(env.line.Waiting() == 0, "the link stopped with input unread");
  size_t skipped = 0;
  const std::vector<Reply> expected = Expect(in, &skipped);
  Check(env.skipped == skipped, "skipped bytes miscounted: a frame was read wrongly");
  CheckReplies(SplitReplies(env.out), expected);
  return 0;
}
