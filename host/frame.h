// Host-side framing of the host line (layout in link/frame_format.h): request
// frames out, reply frames in. The only frame encoder and decoder of the host
// programs and the tests.
#ifndef FR_HOST_FRAME_H_
#define FR_HOST_FRAME_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace host {

// One reply frame as received.
struct Reply {
  int code = -1;        // result code byte
  uint32_t id = 0;      // identifier; 0 when the body has none
  std::string data;     // what follows the identifier
  std::string raw;      // the whole frame as received (also what a bad one held)
  bool has_id = false;  // the body has 5 bytes or more
};

// A request frame: command, identifier (0 asks the register for one), data.
std::string EncodeRequest(uint8_t command, uint32_t id, const std::string& data);
// A frame around any body, even one too short to hold an identifier.
std::string EncodeFrame(const std::string& body);
// CRC-16 of a frame: over its length field and body.
uint16_t FrameCrc(const std::string& length_and_body);

enum class ParseStatus {
  kComplete,  // a whole frame with a good CRC: *used bytes make it
  kNeedMore,  // what is there could still become a frame
  kBad,       // not a frame: wrong start byte, empty body or bad CRC; *used
              // bytes (at least one) are the broken frame or the wrong byte
};
// Looks for one frame at the front of `bytes`.
ParseStatus ParseFrame(const std::string& bytes, size_t* used, Reply* reply);
// How many more bytes the frame begun in `bytes` needs to be whole: the rest
// of its header, then of its body and CRC. 0 once it is whole.
size_t MissingBytes(const std::string& bytes);

// The first good frame in `bytes` (all that came before the line went
// quiet) that carries identifier `id`, skipping whatever else is there: other
// replies, broken or unfinished frames, noise.
bool FindReply(const std::string& bytes, uint32_t id, Reply* reply);

}  // namespace host

#endif  // FR_HOST_FRAME_H_
