// fr-emu's host line served on a TCP port of the loopback, as a serial
// device server serves a serial port: one client at a time, its bytes to the
// register's line and the register's bytes to it, nothing added. While one
// client is connected, another is closed at once. The line (<dir>/host) is
// held, as a POS program holds it, only while a client is connected, so that
// a POS program on the line itself and a TCP client exclude each other.
//
// REQUIRES: External synchronization (one controlling thread).
#ifndef FR_TOOLS_EMU_TCP_LINE_H_
#define FR_TOOLS_EMU_TCP_LINE_H_

#include <string>
#include <thread>
#include <utility>

namespace emu {

class TcpLine {
 public:
  TcpLine(std::string line_path, int port) : line_path_(std::move(line_path)), port_(port) {}
  TcpLine(const TcpLine&) = delete;
  TcpLine& operator=(const TcpLine&) = delete;
  ~TcpLine();  // Stop()

  // Listens on 127.0.0.1:port. An empty string on success, else what failed.
  std::string Start();
  // Closes the client, the line and the port.
  void Stop();

 private:
  void Serve();
  // Until either end goes, or Stop.
  void Relay(int client);

  const std::string line_path_;
  const int port_;
  int listener_ = -1;
  int stop_pipe_[2] = {-1, -1};  // written to end the server's poll
  std::thread thread_;
};

}  // namespace emu

#endif  // FR_TOOLS_EMU_TCP_LINE_H_
