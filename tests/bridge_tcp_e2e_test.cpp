// A register behind a serial device server: the bridge reaches fr-emu's
// line over TCP through a proxy that plays the faults of such a server and
// its network. Each document is stored once and settled as on a serial line.
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <thread>

#include "host/frame.h"
#include "host/protocol.h"
#include "tests/bridge_rig.h"
#include "tools/common/loopback.h"

namespace bridgetest {
namespace {

// Between the bridge and fr-emu's port. A new client replaces the one
// before (both its connections closed). drop_after_close: the next
// document close is passed on and the connection dropped before its reply.
// frozen: nothing passes and nothing is closed, as when the server or the
// network hangs with the connection open.
class Proxy {
 public:
  explicit Proxy(int upstream) : upstream_(upstream), listener_(sim::ListenLoopback(port_)) {
    thread_ = std::thread([this] { Run(); });
  }
  ~Proxy() {
    stop_ = true;
    thread_.join();
    close(listener_);
  }
  int port() const { return port_; }
  std::atomic<bool> drop_after_close{false};
  std::atomic<bool> frozen{false};
  std::atomic<int> dropped{0};

 private:
  void Run() {
    int client = -1, server = -1;
    std::string requests;  // from the client, not yet a whole frame
    auto end = [&] {
      if (client >= 0) close(client);
      if (server >= 0) close(server);
      client = server = -1;
      requests.clear();
    };
    while (!stop_) {
      struct pollfd p[3] = {
          {listener_, POLLIN, 0}, {frozen ? -1 : client, POLLIN, 0}, {frozen ? -1 : server, POLLIN, 0}};
      if (poll(p, 3, 50) <= 0) continue;
      if (p[0].revents & POLLIN) {
        end();
        client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        server = sim::ConnectLoopback(upstream_);
        if (server < 0) end();
        continue;
      }
      char buf[4096];
      if (p[1].revents != 0) {
        const ssize_t n = read(client, buf, sizeof buf);
        if (n <= 0 || send(server, buf, static_cast<size_t>(n), MSG_NOSIGNAL) != n) {
          end();
          continue;
        }
        requests.append(buf, static_cast<size_t>(n));
        for (;;) {
          size_t used = 0;
          host::Reply frame;  // a request frame parses alike: code is the command
          const host::ParseStatus s = host::ParseFrame(requests, &used, &frame);
          if (s == host::ParseStatus::kNeedMore) break;
          requests.erase(0, used == 0 ? 1 : used);
          if (s == host::ParseStatus::kComplete && host::ClosesDocument(static_cast<uint8_t>(frame.code)) &&
              drop_after_close.exchange(false)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));  // on its way to the register
            ++dropped;
            end();
            break;
          }
        }
      }
      if (server >= 0 && p[2].revents != 0) {
        const ssize_t n = read(server, buf, sizeof buf);
        if (n <= 0 || send(client, buf, static_cast<size_t>(n), MSG_NOSIGNAL) != n) end();
      }
    }
    end();
  }

  const int upstream_;
  const int port_ = sim::FreeLoopbackPort();
  const int listener_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

size_t Receipts(BridgeRig* rig) {
  size_t n = 0;
  for (const sim::StoredDocument& d : rig->Archive().summary.documents) n += d.type == 3;
  return n;
}

json Sale(int64_t price) {
  return {
      {"type", "sale"}, {"cashier", Cashier()}, {"lines", {Line("Хлеб", price, 1, 1)}}, {"payment", {{"cash", price}}}};
}

// The answer a key has once the bridge has settled it, asking again as a
// POS would after a time-out or an offline register.
Got Settled(BridgeRig* rig, const std::string& key, const json& body) {
  Got g;
  Eventually(
      [&] {
        g = rig->Post("/receipts", body, key);
        return g.status == 201 || (g.status >= 400 && g.status < 500);
      },
      90000);
  return g;
}

TEST(BridgeTcpTest, ADeviceServerThatDropsOrHangsStoresEachReceiptOnce) {
  BridgeRig rig;
  const int emu_port = sim::FreeLoopbackPort();
  Proxy proxy(emu_port);
  rig.UseTcpLine(emu_port, proxy.port());
  ASSERT_NO_FATAL_FAILURE(rig.Start());
  ASSERT_NO_FATAL_FAILURE(Prepare(&rig));
  ASSERT_EQ(rig.Post("/shift/open", {{"cashier", Cashier()}}, "open").status, 201);
  ASSERT_EQ(rig.Post("/receipts", Sale(100), "plain").status, 201);
  EXPECT_EQ(Receipts(&rig), 1u);

  // The connection dropped with the close on its way: the register stored
  // it, its reply is lost; the bridge connects again and settles it.
  proxy.drop_after_close = true;
  const Got dropped = Settled(&rig, "dropped", Sale(200));
  EXPECT_EQ(dropped.status, 201) << dropped.body.dump();
  EXPECT_EQ(proxy.dropped, 1);
  EXPECT_EQ(Receipts(&rig), 2u);

  // Hung with the connection open: nothing reaches the register until the
  // bridge gives the connection up and makes another.
  proxy.frozen = true;
  const Got hung = rig.Post("/receipts", Sale(300), "hung");
  EXPECT_NE(hung.status, 201) << hung.body.dump();
  proxy.frozen = false;
  const Got after = Settled(&rig, "hung", Sale(300));
  EXPECT_EQ(after.status, 201) << after.body.dump();
  EXPECT_EQ(Receipts(&rig), 3u) << ReadAll(rig.log());
}

}  // namespace
}  // namespace bridgetest
