// Byte layouts of the three tables kept under /nv/. Each file is 20 slots of
// one fixed-size record, slot n at offset (n - 1) x record size. The host
// reads and writes these same images, so they are a wire format too.
// Integers are little-endian; texts are CP866, NUL-padded.
//
// Cashier (263 bytes):
//   0 number (1) | 1 rights (2) | 3 password, signed (4) |
//   7 name (256: at most 255 bytes, byte 262 always 0)
// Discount (141 bytes):
//   0 number (1) | 1 type, signed (4) | 5 value in hundredths, signed (8) |
//   13 name (128: at most 127 bytes, byte 140 always 0)
// Section (128 bytes):
//   0 number (1) | 1 name (126, no NUL when full) | 127 always 0 (1)
#ifndef FR_STORAGE_TABLE_FORMAT_H_
#define FR_STORAGE_TABLE_FORMAT_H_

#include <cstddef>
#include <cstdint>

namespace tables {

constexpr const char* kCashiersPath = "/nv/CASHIERS";
constexpr const char* kSectionsPath = "/nv/SECTIONS";
constexpr const char* kDiscountsPath = "/nv/DISCOUNTS";

constexpr uint8_t kSlotCount = 20;  // numbers 1..20 in every table

constexpr size_t kCashierSize = 263;
constexpr size_t kCashierNumberOffset = 0;
constexpr size_t kCashierRightsOffset = 1;
constexpr size_t kCashierPasswordOffset = 3;
constexpr size_t kCashierNameOffset = 7;
constexpr size_t kCashierNameMax = 255;

constexpr size_t kDiscountSize = 141;
constexpr size_t kDiscountNumberOffset = 0;
constexpr size_t kDiscountTypeOffset = 1;
constexpr size_t kDiscountValueOffset = 5;
constexpr size_t kDiscountNameOffset = 13;
constexpr size_t kDiscountNameMax = 127;

constexpr size_t kSectionSize = 128;
constexpr size_t kSectionNumberOffset = 0;
constexpr size_t kSectionNameOffset = 1;
constexpr size_t kSectionNameMax = 126;

// Cashier rights bits. A command that names several bits needs any one of
// them (the control tape: all three of its bits).
constexpr uint16_t kRightSales = 0x0001;         // sale and purchase receipts; shift and cash documents
constexpr uint16_t kRightCash = 0x0002;          // shift and cash documents; reports and copies
constexpr uint16_t kRightClock = 0x0004;         // set the clock, write the printer setting
constexpr uint16_t kRightRegistration = 0x0008;  // registration and archive-close reports
constexpr uint16_t kRightReturns = 0x0010;       // return receipts; shift and cash documents
constexpr uint16_t kRightSerialNumber = 0x0020;      // set the factory serial number
constexpr uint16_t kRightSectionsDiscounts = 0x0080;  // host access to those tables
constexpr uint16_t kRightCashiers = 0x0100;          // host access to the cashier table
constexpr uint16_t kAllRights = 0x03FF;

// Discount types: 1 is a percentage, anything else up to 1 a fixed sum.
// An empty slot is type 2, which no valid discount has.
constexpr int32_t kPercentDiscount = 1;
constexpr int32_t kEmptyDiscountType = 2;

// Slot 20 of a new cashier file: the service engineer's login.
constexpr uint8_t kServiceCashierNumber = 20;
constexpr int32_t kServiceDefaultPassword = 30;
constexpr const char* kServiceNameUtf8 = "ЦТО";

}  // namespace tables

#endif  // FR_STORAGE_TABLE_FORMAT_H_
