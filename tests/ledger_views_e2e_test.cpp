// The back office's views over a real PostgreSQL: documents in the one
// document form go in through Store, and the per-cashier sales and each
// shift's totals must add up to the sums worked out by hand below.
#include "app/codes.h"
#include "documents/base_document.h"
#include "host/model/document.h"
#include "tests/fleet_rig.h"
#include "tools/ledger/ledger.h"
#include "util/cp866.h"

namespace bridgetest {
namespace {

constexpr uint32_t kDay = 1796810400;  // 2026-12-09T10:00:00Z

struct Made {
  uint8_t type;
  uint16_t shift;
  uint8_t cashier;
  const char* name;  // UTF-8; null when the reader did not know it
  uint8_t receipt_type;
  int64_t cash, cashless;  // a receipt's payment; a cash document's amount in `cash`
  uint32_t day;            // days after kDay
};

TEST(LedgerViewsTest, SalesByCashierAndShiftTotalsAddUpTheDocuments) {
  Postgres db;
  ASSERT_TRUE(db.Start());
  ledger::Ledger ledger;
  ASSERT_TRUE(ledger.Connect(db.conninfo()).ok());
  int from = -1, to = -1;
  ASSERT_TRUE(ledger.Migrate(&from, &to).ok());
  ASSERT_EQ(from, 0);

  const char* const kIvanova = "Иванова";
  const Made made[] = {
      {doc::kShiftOpen, 1, 20, nullptr, 0, 0, 0, 0},
      {doc::kCashIn, 1, 1, kIvanova, 0, 50000, 0, 0},
      {doc::kReceipt, 1, 1, kIvanova, receipt::kSale, 12000, 0, 0},
      {doc::kReceipt, 1, 2, "Петров", receipt::kSale, 10000, 20000, 0},
      {doc::kReceipt, 1, 1, "Иванова А.", receipt::kSale, 0, 5000, 0},
      {doc::kReceipt, 1, 2, "Петров", receipt::kSaleReturn, 3000, 0, 0},
      {doc::kReceipt, 1, 1, kIvanova, receipt::kPurchase, 7000, 0, 0},
      {doc::kReceipt, 1, 2, "Петров", receipt::kPurchaseReturn, 1500, 0, 0},
      {doc::kCashOut, 1, 2, "Петров", 0, 2000, 0, 0},
      {doc::kShiftClose, 1, 20, nullptr, 0, 0, 0, 0},
      {doc::kShiftOpen, 2, 1, kIvanova, 0, 0, 0, 1},
      {doc::kReceipt, 2, 1, kIvanova, receipt::kSale, 4000, 0, 1},
  };
  const ledger::Origin origin{"shop1", "main", "4200010000"};
  uint32_t number = 0;
  for (const Made& m : made) {
    host::Document d;
    d.number = ++number;
    d.type = m.type;
    d.time = kDay + m.day * 86400 + number * 60;
    d.has_shift = true;
    d.shift = m.shift;
    d.fiscal_sign = 1000 + number;
    d.cashier = m.cashier;
    if (m.name != nullptr) d.cashier_name = util::Utf8ToCp866(m.name);
    d.receipt_type = m.receipt_type;
    d.total = m.cash + m.cashless;
    d.has_payment = true;
    d.cash = m.cash;
    d.cashless = m.cashless;
    d.amount = m.cash;
    bool added = false;
    ASSERT_TRUE(ledger.Store(origin, host::DocumentJson(d), &added).ok()) << number;
    ASSERT_TRUE(added) << number;
  }

  // Two spellings of cashier 1's name stay one row; the next day is a row of its own.
  EXPECT_EQ(db.Rows("SELECT day, cashier, cashier_name, receipt_type, receipts, total FROM sales_by_cashier "
                    "WHERE site = 'shop1' AND register = 'main' AND serial = '4200010000' "
                    "ORDER BY day, cashier, receipt_type"),
            std::vector<std::string>({
                "2026-12-09|1|Иванова|purchase|1|7000",
                "2026-12-09|1|Иванова, Иванова А.|sale|2|17000",
                "2026-12-09|2|Петров|return-purchase|1|1500",
                "2026-12-09|2|Петров|return-sale|1|3000",
                "2026-12-09|2|Петров|sale|1|30000",
                "2026-12-10|1|Иванова|sale|1|4000",
            }));
  // Shift 1: sales 12000 + 30000 + 5000, of which cash 12000 + 10000 and
  // cashless 20000 + 5000; shift 2 is open and has its one sale.
  EXPECT_EQ(db.Rows("SELECT shift, z_report, receipts, sales, sale_returns, cash_in, cash_out, purchases, "
                    "purchase_returns, sales_cash, sales_cashless FROM shifts ORDER BY shift"),
            std::vector<std::string>({
                "1|10|6|47000|3000|50000|2000|7000|1500|22000|25000",
                "2||1|4000|0|0|0|0|0|4000|0",
            }));
}

}  // namespace
}  // namespace bridgetest
