// The records that cross the transaction queue between the host-link thread
// and the main thread.
#ifndef FR_LINK_TRANSACTION_H_
#define FR_LINK_TRANSACTION_H_

#include <cstdint>
#include <string>

// One host request: command code, transaction identifier (0: none), data
// after command and identifier.
struct CoreTransaction {
  uint32_t command = 0;
  uint32_t id = 0;
  std::string data;
};

// One result. Code 255 marks a result nobody filled in.
struct CoreApiResult {
  static constexpr int32_t kNotFilled = 255;

  int32_t code = kNotFilled;
  uint32_t id = 0;
  std::string data;

  CoreApiResult() = default;
  CoreApiResult(int32_t c, uint32_t i, std::string d = std::string())
      : code(c), id(i), data(std::move(d)) {}
};

// Progress of a long command, delivered to the callback registered for its
// transaction identifier. Nothing produces one yet; the path is kept so that
// a long command can report progress.
struct CoreApiNotification {
  uint32_t kind = 0;
  uint32_t id = 0;
  std::string data;
};

#endif  // FR_LINK_TRANSACTION_H_
