// The TLV tag numbers the register knows, with their value forms.
#ifndef FR_DOCUMENTS_TLV_TAGS_H_
#define FR_DOCUMENTS_TLV_TAGS_H_

#include <cstdint>

namespace tag {

constexpr uint16_t kThirdRegText = 11009;        // string
constexpr uint16_t kDateTime = 11012;            // u32: document time; registration time
constexpr uint16_t kInn = 11018;                 // string: taxpayer number
constexpr uint16_t kReceiptTotal = 11020;        // VLN
constexpr uint16_t kCashierName = 11021;         // string
constexpr uint16_t kQuantity = 11023;            // FVLN
constexpr uint16_t kLineName = 11030;            // string
constexpr uint16_t kCashAmount = 11031;          // VLN
constexpr uint16_t kFnNumber = 11037;            // string
constexpr uint16_t kShiftNumber = 11038;         // u16
constexpr uint16_t kDocumentNumber = 11040;      // u32
constexpr uint16_t kArchiveNumber = 11041;       // u32
constexpr uint16_t kReceiptNumber = 11042;       // u16
constexpr uint16_t kLineAmount = 11043;          // VLN: after discount
constexpr uint16_t kFirstRegText = 11048;        // string: the user's name
constexpr uint16_t kReceiptType = 11054;         // byte
constexpr uint16_t kReceiptLine = 11059;         // list
constexpr uint16_t kFiscalSign = 11077;          // u32
constexpr uint16_t kPrice = 11079;               // VLN
constexpr uint16_t kCashlessAmount = 11081;      // VLN
constexpr uint16_t kTaxAmount = 11102;           // VLN
constexpr uint16_t kReceiptCount = 11118;        // u32
constexpr uint16_t kSaleCounters = 11129;        // list
constexpr uint16_t kSaleReturnCounters = 11130;  // list
constexpr uint16_t kPurchaseCounters = 11131;    // list
constexpr uint16_t kPurchaseReturnCounters = 11132;  // list
constexpr uint16_t kCashSum = 11136;             // VLN: cash in drawer; paid in cash
constexpr uint16_t kCashlessSum = 11138;         // VLN: paid electronically
constexpr uint16_t kGrossCounters = 11157;       // list
constexpr uint16_t kRegistrationCounters = 11158;  // list: shift counters since registration
constexpr uint16_t kLineCode = 11163;            // string
constexpr uint16_t kSecondRegText = 11187;       // string
constexpr uint16_t kShiftCounters = 11194;       // list
constexpr uint16_t kLineTaxNumber = 11199;       // byte: 1..5
constexpr uint16_t kTotalAmount = 11201;         // VLN
constexpr uint16_t kSection = 11300;             // list
constexpr uint16_t kSectionNumber = 11301;       // byte
constexpr uint16_t kSectionName = 11302;         // string
constexpr uint16_t kDiscountNumber = 11303;      // byte (host input only)
constexpr uint16_t kDiscountAmount = 11304;      // VLN
constexpr uint16_t kLineExtraText = 12000;       // string, kept, never printed
constexpr uint16_t kCashInCount = 12001;         // u16
constexpr uint16_t kCashInSum = 12002;           // VLN
constexpr uint16_t kCashOutCount = 12003;        // u16
constexpr uint16_t kCashOutSum = 12004;          // VLN
constexpr uint16_t kUnit = 12108;                // string: unit of measure
constexpr uint16_t kFiscalisationNumber = 12117;  // u32
constexpr uint16_t kTaxRateType = 13102;         // byte
constexpr uint16_t kTaxRateWord = 13103;         // u16
constexpr uint16_t kTaxName = 13104;             // string
constexpr uint16_t kTaxRateFirst = 13105;        // list: tax rate index 0..4 at 13105..13109
constexpr uint16_t kTaxSumFirst = 13110;         // VLN: tax sums of rates 0..4 at 13110..13114

}  // namespace tag

#endif  // FR_DOCUMENTS_TLV_TAGS_H_
