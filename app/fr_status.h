// The device status and shift status: two process-wide records under one
// lock (a leaf: nothing else is locked while it is held). Written by the main
// thread, read raw by the host link too.
#ifndef FR_APP_FR_STATUS_H_
#define FR_APP_FR_STATUS_H_

#include <cstdint>
#include <string>

#include "app/status_format.h"
#include "platform/env.h"

namespace FrStatus {

struct StatusStruct {
  uint8_t bytes[kStatusSize];
};
struct CycleStatus {
  uint8_t bytes[kCycleSize];
};

// Both records to zero, then the constant byte.
void reset();

void setFlag(uint16_t mask, bool on);
// True when any bit of the mask is set.
bool testFlags(uint16_t mask);
uint16_t flags();
void setFlags(uint16_t flags);

uint8_t registrationCount();
void setRegistrationCount(uint8_t count);
void markConstant();
uint16_t shiftNumber();
void setShiftNumber(uint16_t number);
uint32_t lastDocumentNumber();
void setLastDocumentNumber(uint32_t number);
int32_t lastDocumentTime();
void setLastDocumentTime(int32_t t);
uint16_t receiptsInShift();
void setReceiptsInShift(uint16_t count);
uint8_t openDocumentType();
void setOpenDocumentType(uint8_t type);
uint32_t capacity();
void setCapacity(uint32_t documents);

uint32_t shiftOpenDocument();
void setShiftOpenDocument(uint32_t number);
uint32_t shiftOpenTime();
void setShiftOpenTime(uint32_t t);
uint32_t lastShiftDocument();
void setLastShiftDocument(uint32_t number);
uint32_t shiftCloseTime();
void setShiftCloseTime(uint32_t t);
int64_t cashInDrawer();
void setCashInDrawer(int64_t amount);

// Raw copies, each taken under the lock.
StatusStruct status();
CycleStatus cycle();
// Both at once, consistent with each other.
void copyRecords(std::string* status, std::string* cycle);

// The first problem that stops the device from working: 32, 15, 5, 31, 25,
// 53 or 54 in that order; 0 when ready.
int readiness();

// The state a document (or a report) needs before it may be opened.
enum class Check {
  A,  // registration report
  B,  // shift open
  C,  // archive close
  D,  // cash in
  E,  // cash out
  F,  // receipt
  G,  // shift close
  H,  // reports
};
int check(Check which, int64_t now);

// The clock floor: the build time of the program.
int64_t buildTime();
void setBuildTime(int64_t t);
// Parses a build stamp such as "Jun 24 2022 15:08:59" as local time.
bool parseBuildTime(platform::Env* env, const std::string& text, int64_t* t);

// True when t is later than both the last document time and the build time
// (compared as signed 32-bit numbers).
bool clockCheck(int64_t t);

}  // namespace FrStatus

#endif  // FR_APP_FR_STATUS_H_
