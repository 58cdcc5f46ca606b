// Host line frames, both directions:
//   start 0x04 (1) | body length L (2, LE) | body (L) | CRC-16 (2, LE)
// The CRC covers the length field and the body.
// Request body: command (1) | identifier (4, LE; 0 asks for one) | data.
// Reply body:   result code (1) | identifier (4, LE) | data;
//               or the single byte 11 when identifier and data pass 4096 bytes.
#ifndef FR_LINK_FRAME_FORMAT_H_
#define FR_LINK_FRAME_FORMAT_H_

#include <cstddef>
#include <cstdint>

namespace frame {

constexpr uint8_t kStart = 0x04;
constexpr uint8_t kResend = 0x05;  // between frames: send the last reply again
constexpr size_t kLengthSize = 2;
constexpr size_t kCrcSize = 2;
constexpr size_t kIdSize = 4;
constexpr size_t kMaxBody = 1024;
constexpr size_t kMaxReplyPayload = 4096;  // identifier plus data

// Positions named in the read-error log lines.
constexpr int kLogNoStart = 104;
constexpr int kLogNoLength = 110;
constexpr int kLogLengthTooLarge = 117;
constexpr int kLogShortBody = 124;

}  // namespace frame

#endif  // FR_LINK_FRAME_FORMAT_H_
