// A pseudo-terminal standing for one serial line of the board. The test side
// uses the master; the device opens the slave by path.
#ifndef FR_TOOLS_COMMON_PTY_PAIR_H_
#define FR_TOOLS_COMMON_PTY_PAIR_H_

#include <string>

namespace sim {

// Both sides are raw right after Open. The slave stays open here for the
// object's whole life: the kernel resets a pty's settings and hangs up the
// master when the last slave descriptor closes, so a device that closes and
// reopens its line (a restart) would otherwise find a cooked line, and bytes
// written before it opens the line would be lost.
class PtyPair {
 public:
  PtyPair() = default;
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;
  // Closes both sides and removes the link made by LinkAt.
  ~PtyPair();

  // REQUIRES: not open yet.
  bool Open();
  int master() const { return master_; }
  const std::string& slave_name() const { return slave_name_; }  // e.g. /dev/pts/5

  // Makes `link_path` a symbolic link to the slave, replacing what is there.
  bool LinkAt(const std::string& link_path);
  // Drops bytes written to the master that nobody has read from the slave.
  bool FlushInput();
  // A program that held the slave for itself (host::HostLine) and was killed
  // leaves the terminal's exclusive mode on, which would keep every later
  // program but root's out: cleared when no program holds the line's lock.
  void ClearStaleExclusive();
  // Hangs the line up: a device blocked reading the slave gets an error.
  void CloseMaster();

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slave_name_;
  std::string link_path_;
};

}  // namespace sim

#endif  // FR_TOOLS_COMMON_PTY_PAIR_H_
