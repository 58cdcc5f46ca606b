#include "bridge/door.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "bridge/answer.h"
#include "bridge/net.h"
#include "bridge/request.h"

namespace bridge {

namespace {

using Clock = std::chrono::steady_clock;

// A refused or ended connection is read from for this long, or this much,
// before it is closed.
constexpr int kLingerMs = 2000;
constexpr size_t kLingerBytes = 1024 * 1024;

int MsUntil(Clock::time_point deadline) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return ms <= 0 ? 0 : static_cast<int>(std::min<int64_t>(ms, 1000000));
}

std::string PeerAddress(socket_t fd) {
  std::string ip;
  int port = 0;
  net::PeerEnd(fd, &ip, &port);
  return ip;
}

// Waits for `events` on fd; false on time-out or failure.
bool WaitFor(socket_t fd, short events, int timeout_ms) {
  net::PollEntry p{fd, events, 0};
  return net::Poll(&p, 1, timeout_ms) > 0;
}

// What to wait for before a TLS step is tried again; 0 when it failed.
short EventsFor(TlsStep step) {
  return step == TlsStep::kWantRead ? net::kRead : step == TlsStep::kWantWrite ? net::kWrite : 0;
}

const char* ReasonOf(int status) {
  switch (status) {
    case 408: return "Request Timeout";
    case 413: return "Payload Too Large";
    case 431: return "Request Header Fields Too Large";
    default: return "Service Unavailable";
  }
}

// The value of the head's Authorization header, empty when it has none.
std::string AuthorizationOf(const std::string& head) {
  static const char kName[] = "authorization:";
  const size_t name = sizeof kName - 1;
  for (size_t at = head.find('\n'); at != std::string::npos && at + 1 < head.size(); at = head.find('\n', at + 1)) {
    const size_t start = at + 1;
    if (head.size() - start > name && strncasecmp(head.data() + start, kName, name) == 0) {
      const size_t end = head.find('\n', start);
      std::string v = head.substr(start + name, end - start - name);
      v.erase(0, v.find_first_not_of(" \t"));
      v.erase(v.find_last_not_of(" \t\r") + 1);
      return v;
    }
  }
  return "";
}

}  // namespace

int StatusOf(Breach b) {
  switch (b) {
    case Breach::kHeadTooLarge: return 431;
    case Breach::kBodyTooLarge: return 413;
    case Breach::kHeadTooSlow:
    case Breach::kBodyTooSlow: return 408;
    case Breach::kNone: break;
  }
  return 400;
}

const char* ProblemCodeOf(Breach b) {
  switch (b) {
    case Breach::kHeadTooLarge: return "request.head-too-large";
    case Breach::kBodyTooLarge: return "request.too-large";
    case Breach::kHeadTooSlow:
    case Breach::kBodyTooSlow: return "request.too-slow";
    case Breach::kNone: break;
  }
  return "request.invalid";
}

// ---- BoundedStream ---------------------------------------------------------

BoundedStream::BoundedStream(socket_t fd, TlsSession* tls, const DoorLimits& limits, std::string ahead)
    : fd_(fd), tls_(tls), limits_(limits), ahead_(std::move(ahead)) {
  NextRequest();
}

void BoundedStream::NextRequest() {
  head_done_ = false;
  head_bytes_ = head_lines_ = body_bytes_ = 0;
  std::memset(tail_, 0, sizeof tail_);
  head_deadline_ = Clock::now() + std::chrono::milliseconds(limits_.head_ms);
  breach_ = Breach::kNone;
}

std::string BoundedStream::TakeAhead() {
  std::string rest = ahead_.substr(ahead_at_);
  ahead_.clear();
  ahead_at_ = 0;
  return rest;
}

bool BoundedStream::WaitReadable(int timeout_ms) {
  if (ahead_at_ < ahead_.size() || (tls_ != nullptr && tls_->HasPending())) return true;
  return WaitFor(fd_, net::kRead, timeout_ms);
}

bool BoundedStream::is_readable() const {
  return ahead_at_ < ahead_.size() || (tls_ != nullptr && tls_->HasPending()) || WaitFor(fd_, net::kRead, 0);
}

bool BoundedStream::is_writable() const {
  if (broken_ || !WaitFor(fd_, net::kWrite, limits_.write_ms)) return false;
  // A peer that closed its end reads as end of file: stop writing to it.
  return !net::PeerClosed(fd_);
}

bool BoundedStream::Fill(Clock::time_point deadline) {
  char buf[4096];
  for (;;) {
    short wanted = net::kRead;
    if (tls_ != nullptr) {
      size_t n = 0;
      const TlsStep step = tls_->Read(buf, sizeof buf, &n);
      if (step == TlsStep::kDone) {
        ahead_.append(buf, n);
        return true;
      }
      wanted = EventsFor(step);
    } else {
      const long r = net::Recv(fd_, buf, sizeof buf);
      if (r > 0) {
        ahead_.append(buf, static_cast<size_t>(r));
        return true;
      }
      if (r != net::kWouldBlock) wanted = 0;
    }
    if (wanted == 0) {
      broken_ = true;
      return false;
    }
    const int ms = MsUntil(deadline);
    if (ms <= 0 || !WaitFor(fd_, wanted, ms)) {
      breach_ = head_done_ ? Breach::kBodyTooSlow : Breach::kHeadTooSlow;
      return false;
    }
  }
}

bool BoundedStream::Account(const char* p, size_t n) {
  size_t i = 0;
  for (; i < n && !head_done_; ++i) {
    ++head_bytes_;
    head_lines_ += p[i] == '\n';
    tail_[0] = tail_[1];
    tail_[1] = tail_[2];
    tail_[2] = p[i];
    // A line ending in LF, then an empty line ending in CRLF: the head's end.
    if (tail_[0] == '\n' && tail_[1] == '\r' && tail_[2] == '\n') {
      head_done_ = true;
      body_deadline_ = Clock::now() + std::chrono::milliseconds(limits_.body_ms);
    }
  }
  // The request line and the closing empty line are not headers.
  if (head_bytes_ > limits_.head_bytes || head_lines_ > limits_.header_lines + 2) {
    breach_ = Breach::kHeadTooLarge;
    return false;
  }
  body_bytes_ += n - i;
  if (body_bytes_ > limits_.body_bytes) {
    breach_ = Breach::kBodyTooLarge;
    return false;
  }
  return true;
}

ssize_t BoundedStream::read(char* ptr, size_t size) {
  if (breach_ != Breach::kNone || broken_) return -1;
  if (ahead_at_ == ahead_.size()) {
    ahead_.clear();
    ahead_at_ = 0;
    if (!Fill(head_done_ ? body_deadline_ : head_deadline_)) return breach_ == Breach::kNone ? 0 : -1;
  }
  const size_t n = std::min(size, ahead_.size() - ahead_at_);
  if (!Account(ahead_.data() + ahead_at_, n)) return -1;
  std::memcpy(ptr, ahead_.data() + ahead_at_, n);
  ahead_at_ += n;
  return static_cast<ssize_t>(n);
}

ssize_t BoundedStream::write(const char* ptr, size_t size) {
  if (broken_) return -1;
  const size_t chunk = std::min<size_t>(size, 1 << 20);
  for (;;) {
    short wanted = net::kWrite;
    if (tls_ != nullptr) {
      size_t n = 0;
      const TlsStep step = tls_->Write(ptr, chunk, &n);
      if (step == TlsStep::kDone) return static_cast<ssize_t>(n);
      wanted = EventsFor(step);
    } else {
      const long r = net::Send(fd_, ptr, chunk);
      if (r > 0) return r;
      if (r != net::kWouldBlock) wanted = 0;
    }
    if (wanted == 0) {
      broken_ = true;
      return -1;
    }
    if (!WaitFor(fd_, wanted, limits_.write_ms)) {
      broken_ = true;  // a client that does not read holds no thread for long
      return -1;
    }
  }
}

void BoundedStream::get_remote_ip_and_port(std::string& ip, int& port) const { net::PeerEnd(fd_, &ip, &port); }

void BoundedStream::get_local_ip_and_port(std::string& ip, int& port) const { net::LocalEnd(fd_, &ip, &port); }

// ---- Door ------------------------------------------------------------------

Door::Door(DoorLimits limits, Trusted trusted, Refused refused)
    : limits_(limits), trusted_(std::move(trusted)), refused_(std::move(refused)) {
  if (!net::OpenWakePair(wake_)) throw std::runtime_error("no pipe for the door");
}

Door::~Door() {
  Stop();
  net::CloseWakePair(wake_);
}

void Door::Start() {
  poller_ = std::thread([this] { Poll(); });
  for (size_t i = 0; i < limits_.threads; ++i) workers_.emplace_back([this] { Work(); });
}

void Door::Stop() {
  {
    std::lock_guard<std::mutex> l(mu_);
    stopping_ = true;
    cv_.notify_all();
  }
  Wake();
  if (poller_.joinable()) poller_.join();
  for (auto& t : workers_) {
    if (t.joinable()) t.join();
  }
  workers_.clear();
  std::vector<Conn> left;
  {
    std::lock_guard<std::mutex> l(mu_);
    for (auto* q : {&trusted_queue_, &anonymous_queue_}) {
      for (Conn& c : *q) left.push_back(std::move(c));
      q->clear();
    }
    for (Conn& c : incoming_) left.push_back(std::move(c));
    incoming_.clear();
  }
  for (Conn& c : left) Close(&c);
}

size_t Door::open() {
  std::lock_guard<std::mutex> l(mu_);
  return open_;
}

void Door::Wake() { net::Wake(wake_); }

void Door::Admit(socket_t fd) {
  net::SetNonBlocking(fd);
  Conn c;
  c.fd = fd;
  c.address = PeerAddress(fd);
  c.deadline = Clock::now() + std::chrono::milliseconds(limits_.idle_ms);
  bool full = false;
  {
    std::lock_guard<std::mutex> l(mu_);
    if (stopping_) {
      net::Close(fd);
      return;
    }
    size_t& mine = per_address_[c.address];
    full = open_ >= limits_.connections || mine >= limits_.per_address;
    if (!full) {
      ++open_;
      ++mine;
    } else if (mine == 0) {
      per_address_.erase(c.address);
    }
  }
  if (full) {
    // Not counted, so not Close: only the refusal and the descriptor.
    refused_(503, "bridge.busy", c.address);
    if (tls_ == nullptr) {
      const std::string body =
          Dump(ProblemJson(MakeProblem(503, "bridge.busy", "too many connections; try again shortly")));
      const std::string text =
          "HTTP/1.1 503 Service Unavailable\r\nContent-Type: application/problem+json\r\n"
          "Retry-After: 1\r\nConnection: close\r\nCache-Control: no-store\r\n"
          "Content-Length: " +
          std::to_string(body.size()) + "\r\n\r\n" + body;
      net::Send(fd, text.data(), text.size());
    }
    net::Close(fd);
    return;
  }
  if (tls_ != nullptr) {
    Queue(&c);
    return;
  }
  {
    std::lock_guard<std::mutex> l(mu_);
    incoming_.push_back(std::move(c));
  }
  Wake();
}

void Door::Refuse(Conn* c, int status, const std::string& code, const std::string& detail) {
  refused_(status, code, c->address);
  if (tls_ != nullptr) return Close(c);
  const std::string body = Dump(ProblemJson(MakeProblem(status, code, detail)));
  std::string text = "HTTP/1.1 " + std::to_string(status) + " " + ReasonOf(status) +
                     "\r\nContent-Type: application/problem+json\r\nConnection: close\r\n"
                     "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n";
  if (status == 503) text += "Retry-After: 1\r\n";
  text += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  net::Send(c->fd, text.data(), text.size());
  Linger(c);
}

void Door::Linger(Conn* c) {
  net::ShutdownWrite(c->fd);
  c->draining = true;
  c->drained = 0;
  c->ahead.clear();
  c->deadline = Clock::now() + std::chrono::milliseconds(kLingerMs);
}

void Door::Close(Conn* c) {
  if (c->fd == INVALID_SOCKET) return;
  net::Close(c->fd);
  c->fd = INVALID_SOCKET;
  std::lock_guard<std::mutex> l(mu_);
  --open_;
  auto it = per_address_.find(c->address);
  if (it != per_address_.end() && --it->second == 0) per_address_.erase(it);
}

bool Door::ReadHead(Conn* c) {
  char buf[4096];
  for (;;) {
    const size_t end = c->ahead.find("\n\r\n");
    if (end != std::string::npos) {
      const size_t lines = static_cast<size_t>(std::count(c->ahead.begin(), c->ahead.begin() + end + 1, '\n'));
      if (end + 3 > limits_.head_bytes || lines > limits_.header_lines + 1) {
        Refuse(c, 431, "request.head-too-large", "the request's head is too large");
        return false;
      }
      c->trusted = trusted_(AuthorizationOf(c->ahead.substr(0, end + 1)));
      return true;
    }
    if (c->ahead.size() > limits_.head_bytes) {
      Refuse(c, 431, "request.head-too-large", "the request's head is too large");
      return false;
    }
    const long r = net::Recv(c->fd, buf, sizeof buf);
    if (r == net::kWouldBlock) return true;
    if (r <= 0) {
      Close(c);
      return false;
    }
    // The head's clock starts with its first byte.
    if (c->ahead.empty()) c->deadline = Clock::now() + std::chrono::milliseconds(limits_.head_ms);
    c->ahead.append(buf, static_cast<size_t>(r));
  }
}

bool Door::Step(Conn* c, bool readable, Clock::time_point now) {
  if (c->draining) {
    char buf[4096];
    while (readable) {
      const long r = net::Recv(c->fd, buf, sizeof buf);
      if (r == net::kWouldBlock) break;
      c->drained += r > 0 ? static_cast<size_t>(r) : 0;
      if (r <= 0 || c->drained > kLingerBytes) {
        Close(c);
        return false;
      }
    }
    if (now >= c->deadline) Close(c);
    return c->fd != INVALID_SOCKET;
  }
  const bool head = c->ahead.find("\n\r\n") != std::string::npos;
  if ((readable || head) && !ReadHead(c)) return c->fd != INVALID_SOCKET;  // draining after a refusal
  if (c->ahead.find("\n\r\n") != std::string::npos) return !Queue(c) && c->fd != INVALID_SOCKET;
  if (now < c->deadline) return true;
  // Silence between requests simply ends the connection.
  if (c->ahead.empty()) {
    Close(c);
    return false;
  }
  Refuse(c, 408, "request.too-slow", "the request's head did not come in time");
  return c->fd != INVALID_SOCKET;
}

void Door::Poll() {
  std::vector<net::PollEntry> fds;
  for (;;) {
    {
      std::lock_guard<std::mutex> l(mu_);
      if (stopping_) break;
      for (Conn& c : incoming_) waiting_.push_back(std::move(c));
      incoming_.clear();
    }
    fds.assign(1, net::PollEntry{wake_[0], net::kRead, 0});
    auto soonest = Clock::now() + std::chrono::seconds(1);
    for (const Conn& c : waiting_) {
      fds.push_back(net::PollEntry{c.fd, net::kRead, 0});
      // A returned connection may hold a whole pipelined head already.
      if (!c.draining && c.ahead.find("\n\r\n") != std::string::npos) soonest = Clock::now();
      soonest = std::min(soonest, c.deadline);
    }
    if (net::Poll(fds.data(), fds.size(), MsUntil(soonest)) < 0) break;
    net::DrainWake(wake_);
    const auto now = Clock::now();
    std::vector<Conn> still;
    for (size_t i = 0; i < waiting_.size(); ++i) {
      Conn& c = waiting_[i];
      if (Step(&c, (fds[i + 1].ready & net::kRead) != 0, now)) still.push_back(std::move(c));
    }
    waiting_.swap(still);
  }
  for (Conn& c : waiting_) Close(&c);
  waiting_.clear();
}

bool Door::Queue(Conn* c) {
  {
    std::lock_guard<std::mutex> l(mu_);
    if (!stopping_ && trusted_queue_.size() + anonymous_queue_.size() < limits_.queue) {
      (c->trusted ? trusted_queue_ : anonymous_queue_).push_back(std::move(*c));
      c->fd = INVALID_SOCKET;
      cv_.notify_one();
      return true;
    }
  }
  Refuse(c, 503, "bridge.busy", "too many requests are waiting; try again shortly");
  return false;
}

void Door::Work() {
  for (;;) {
    Conn c;
    bool anonymous = false;
    {
      std::unique_lock<std::mutex> l(mu_);
      // Requests with a token may take any thread; the others leave
      // `reserved` threads for them.
      cv_.wait(l, [&] {
        return stopping_ || !trusted_queue_.empty() ||
               (!anonymous_queue_.empty() && busy_anonymous_ + limits_.reserved < limits_.threads);
      });
      if (stopping_) return;
      if (!trusted_queue_.empty()) {
        c = std::move(trusted_queue_.front());
        trusted_queue_.pop_front();
      } else {
        c = std::move(anonymous_queue_.front());
        anonymous_queue_.pop_front();
        anonymous = true;
        ++busy_anonymous_;
      }
    }
    if (tls_ != nullptr) {
      ServeTls(std::move(c));
    } else {
      ServePlain(std::move(c));
    }
    if (anonymous) {
      std::lock_guard<std::mutex> l(mu_);
      --busy_anonymous_;
      cv_.notify_all();
    }
  }
}

void Door::ServePlain(Conn c) {
  BoundedStream s(c.fd, nullptr, limits_, std::move(c.ahead));
  const bool again = serve_(s) && !s.broken() && s.breach() == Breach::kNone;
  if (s.broken()) return Close(&c);
  if (again) {
    c.ahead = s.TakeAhead();
    c.trusted = false;
    c.deadline = Clock::now() + std::chrono::milliseconds(c.ahead.empty() ? limits_.idle_ms : limits_.head_ms);
  } else {
    Linger(&c);  // a refusal may leave a body unread on the line
  }
  Return(std::move(c));
}

void Door::Return(Conn c) {
  {
    std::lock_guard<std::mutex> l(mu_);
    if (!stopping_) {
      incoming_.push_back(std::move(c));
      c.fd = INVALID_SOCKET;
    }
  }
  if (c.fd != INVALID_SOCKET) return Close(&c);
  Wake();
}

void Door::ServeTls(Conn c) {
  auto tls = std::make_unique<TlsSession>(*tls_, c.fd);
  if (!tls->ok()) return Close(&c);
  const auto deadline = Clock::now() + std::chrono::milliseconds(limits_.head_ms);
  bool ok = false;
  for (;;) {
    const TlsStep step = tls->Accept();
    if (step == TlsStep::kDone) {
      ok = true;
      break;
    }
    const short wanted = EventsFor(step);
    if (wanted == 0 || !WaitFor(c.fd, wanted, MsUntil(deadline))) break;
  }
  if (ok) {
    BoundedStream s(c.fd, tls.get(), limits_, "");
    for (bool first = true;; first = false) {
      {
        std::lock_guard<std::mutex> l(mu_);
        if (stopping_) break;
      }
      if (!s.WaitReadable(first ? limits_.head_ms : limits_.idle_ms)) break;
      s.NextRequest();
      if (!serve_(s) || s.broken() || s.breach() != Breach::kNone) break;
    }
    tls->Shutdown();
  }
  tls.reset();
  Close(&c);
}

}  // namespace bridge
