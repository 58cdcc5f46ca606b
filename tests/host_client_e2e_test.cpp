// The host library's retry policy against the real fr-core, through a relay
// that loses a reply on its way back or delivers a frame in two pieces.
// Whatever the line does, the receipt must be stored exactly once.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "host/client.h"
#include "host/session.h"
#include "tests/register_text.h"
#include "tools/common/pty_pair.h"
#include "tools/sim/rig.h"

namespace {

using namespace regtest;

// Copies bytes between the client's line and the register's. On request it
// drops the register's reply to the next frame of a command, or hands the
// next frame of a command over in two pieces 150 ms apart.
class FaultyRelay {
 public:
  FaultyRelay(int client_side, int register_side) : client_(client_side), register_(register_side) {
    thread_ = std::thread([this] { Run(); });
  }
  ~FaultyRelay() {
    stop_ = true;
    thread_.join();
  }
  void DropReplyTo(uint8_t command) { drop_after_ = command; }
  void SplitNext(uint8_t command) { split_ = command; }
  int dropped() const { return dropped_; }
  int split() const { return splits_; }

 private:
  static void Write(int fd, const std::string& bytes) { host::HostLine(fd).Send(bytes); }

  // Whole frames out of *in; other bytes (05, noise) pass one by one.
  template <typename F>
  static void Frames(std::string* in, F on_frame) {
    while (!in->empty()) {
      size_t used = 0;
      host::Reply frame;  // a request has a reply's layout: code is the command
      const host::ParseStatus s = host::ParseFrame(*in, &used, &frame);
      if (s == host::ParseStatus::kNeedMore) return;
      on_frame(in->substr(0, used), s == host::ParseStatus::kComplete ? frame.code : -1);
      in->erase(0, used);
    }
  }

  void Run() {
    std::string from_client, from_register;
    bool drop_next = false;
    while (!stop_) {
      struct pollfd p[2] = {{client_, POLLIN, 0}, {register_, POLLIN, 0}};
      if (poll(p, 2, 10) <= 0) continue;
      char buf[4096];
      for (int i = 0; i < 2; ++i) {
        if (!(p[i].revents & POLLIN)) continue;
        const ssize_t n = read(p[i].fd, buf, sizeof buf);
        if (n > 0) (i == 0 ? from_client : from_register).append(buf, static_cast<size_t>(n));
      }
      Frames(&from_client, [&](const std::string& bytes, int command) {
        if (command >= 0 && command == split_) {
          split_ = -1;
          ++splits_;
          Write(register_, bytes.substr(0, 5));  // start byte, length and part of the body
          std::this_thread::sleep_for(std::chrono::milliseconds(150));
          Write(register_, bytes.substr(5));
          return;
        }
        if (command >= 0 && command == drop_after_) {
          drop_after_ = -1;
          drop_next = true;
        }
        Write(register_, bytes);
      });
      Frames(&from_register, [&](const std::string& bytes, int) {
        if (drop_next) {
          drop_next = false;
          ++dropped_;
          return;
        }
        Write(client_, bytes);
      });
    }
  }

  const int client_, register_;
  std::atomic<int> drop_after_{-1}, split_{-1};
  std::atomic<int> dropped_{0}, splits_{0};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

class HostClientLineTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(StartWithoutPauses(&rig_));
    ASSERT_TRUE(client_pty_.Open());
    relay_side_ = open(client_pty_.slave_name().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(relay_side_, 0);
    relay_.reset(new FaultyRelay(relay_side_, rig_.host().fd()));
    line_.reset(new host::HostLine(client_pty_.master()));
    client_.reset(new host::Client(line_.get()));
    session_.reset(new host::Session(client_.get(), host::Login(), kCashier));
    ASSERT_TRUE(session_->Call(host::req::SetSerialNumber(session_->login(), kSerial)).ok());
    std::vector<TlvElement> elements;
    for (int i = 0; i < 3; ++i)
      elements.push_back(TlvElement::fromString(static_cast<uint16_t>(i == 0 ? tag::kFirstRegText
                                                                      : i == 1 ? tag::kSecondRegText
                                                                               : tag::kThirdRegText),
                                                Cp(kHeader[i])));
    elements.push_back(host::TaxRateElement({0, 1, 2000, Cp(kTaxNames[0])}));
    ASSERT_TRUE(session_->Registration(elements, kInn, kFn, nullptr).ok());
    ASSERT_TRUE(session_->ShiftOpen(nullptr).ok());
  }
  void TearDown() override {
    relay_.reset();
    if (relay_side_ >= 0) close(relay_side_);
  }

  uint32_t LastDocument() {
    host::DeviceStatus s;
    const host::Answer a = session_->Call(host::req::DeviceStatus());
    return a.ok() && host::DecodeDeviceStatus(a.data, &s) ? s.last_document : 0;
  }

  // A receipt of one line of 10.00 paid 10.28 in cash: the cash bytes 04 04
  // look like a frame start and a length to a register reading them as noise.
  host::Answer Sale(host::CloseReply* closed) {
    host::Line tea;
    tea.name = Cp("Чай");
    tea.price = 1000;
    return session_->Receipt(receipt::kSale, {tea}, 1028, 0, closed);
  }

  // The receipt is stored once: one document more, one receipt in the
  // shift, none left open.
  void ExpectStoredOnce(uint32_t before, const host::CloseReply& c) {
    EXPECT_EQ(before + 1, c.number);
    EXPECT_EQ(before + 1, LastDocument());
    host::ShiftStatus shift;
    const host::Answer a = session_->Call(host::req::ShiftStatus());
    ASSERT_TRUE(a.ok() && host::DecodeShiftStatus(a.data, &shift));
    EXPECT_EQ(1, shift.receipts);
    EXPECT_EQ(1000, shift.drawer);
    EXPECT_EQ(rc::kNoOpenDocument, session_->Call(host::req::DocumentState()).code);
    EXPECT_EQ(1000, c.total);
    EXPECT_EQ(28, c.change);
  }

  sim::Rig rig_{FR_CORE_PATH};
  sim::PtyPair client_pty_;
  int relay_side_ = -1;
  std::unique_ptr<FaultyRelay> relay_;
  std::unique_ptr<host::HostLine> line_;
  std::unique_ptr<host::Client> client_;
  std::unique_ptr<host::Session> session_;
};

TEST_F(HostClientLineTest, LostReplyIsAskedForAgainNotResent) {
  const uint32_t before = LastDocument();
  relay_->DropReplyTo(cmd::kCloseReceipt);
  host::CloseReply c;
  const host::Answer a = Sale(&c);
  ASSERT_TRUE(a.ok()) << a.code << " " << a.error;
  EXPECT_EQ(1, relay_->dropped());
  EXPECT_GE(client_->stats().asked_again, 1);
  EXPECT_EQ(0, client_->stats().sent_again);
  ExpectStoredOnce(before, c);
}

TEST_F(HostClientLineTest, FrameInPiecesIsRefusedThenSentAgain) {
  const uint32_t before = LastDocument();
  relay_->SplitNext(cmd::kCloseReceipt);
  host::CloseReply c;
  const host::Answer a = Sale(&c);
  ASSERT_TRUE(a.ok()) << a.code << " " << a.error;
  EXPECT_EQ(1, relay_->split());
  EXPECT_EQ(1, client_->stats().sent_again);
  ExpectStoredOnce(before, c);
}

}  // namespace
