// The receipt preview against the register itself: receipts of random lines,
// each previewed and then stored, the preview equal to what the register
// answered and keeps in its archive, to the kopeck.
#include <random>

#include "app/codes.h"
#include "documents/receipt_doc.h"
#include "platform/env.h"
#include "tests/bridge_rig.h"
#include "tools/archive/archive_tool.h"

namespace bridgetest {
namespace {

// A registration with each kind of tax rate.
const json kRegistration = {{"inn", "7701234567"},
                            {"fn", "9999078900012345"},
                            {"texts", {"ООО Ромашка"}},
                            {"tax_rates",
                             {{{"number", 1}, {"type", 1}, {"rate", 2000}, {"name", "НДС 20%"}},
                              {{"number", 2}, {"type", 1}, {"rate", 1000}, {"name", "НДС 10%"}},
                              {{"number", 3}, {"type", 2}, {"rate", 1250}, {"name", "НАЛОГ 12.5%"}},
                              {{"number", 4}, {"type", 0}, {"rate", 0}, {"name", "БЕЗ НДС"}}}}};

// The registration; discounts of each kind.
void PrepareTaxesAndDiscounts(BridgeRig* rig) {
  ASSERT_EQ(rig->Call("PUT", "/v1/registers/main/serial-number", {{"serial", "4200012345"}}).status, 200);
  ASSERT_EQ(rig->Post("/registration", kRegistration, "preview-registration").status, 201);
  const json discounts[] = {{{"type", "percent"}, {"value", 500}, {"name", "СКИДКА 5%"}},
                            {{"type", "amount"}, {"value", 1000}},
                            {{"type", "percent"}, {"value", 1250}}};
  for (size_t i = 0; i < 3; ++i) {
    ASSERT_EQ(rig->Call("PUT", "/v1/registers/main/tables/discounts/" + std::to_string(i + 1), discounts[i]).status,
              200);
  }
  ASSERT_EQ(rig->Post("/shift/open", {{"cashier", Cashier()}}, "preview-open").status, 201);
  ASSERT_EQ(rig->Post("/cash-in", {{"cashier", Cashier()}, {"amount", 10000000}}, "preview-in").status, 201);
}

json RandomLine(std::mt19937* rng) {
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(*rng); };
  static const char* const kQuantities[] = {"1", "2", "0.5", "1.5", "0.250", "2.125", "3.333", "0.001"};
  json line = Line("Товар " + std::to_string(pick(1, 99)), pick(1, 500000), kQuantities[pick(0, 7)], pick(1, 4));
  const int discount = pick(0, 4);
  if (discount >= 1 && discount <= 3) line["discount"] = discount;
  if (discount == 4) line["discount_amount"] = pick(1, 100);
  return line;
}

TEST(BridgePreviewTest, APreviewIsWhatTheRegisterStores) {
  BridgeRig rig;
  ASSERT_NO_FATAL_FAILURE(rig.Start());
  ASSERT_NO_FATAL_FAILURE(PrepareTaxesAndDiscounts(&rig));
  // The rates a till chooses from: those registered, by number and name.
  const Got rates = rig.Call("GET", "/v1/registers/main/tax-rates", nullptr, {}, kPos);
  ASSERT_EQ(rates.status, 200) << rates.body.dump();
  ASSERT_EQ(rates.body["tax_rates"].size(), kRegistration["tax_rates"].size());
  for (size_t i = 0; i < rates.body["tax_rates"].size(); ++i) {
    const json& got = rates.body["tax_rates"][i];
    const json& registered = kRegistration["tax_rates"][i];
    for (const char* field : {"number", "type", "rate", "name"}) EXPECT_EQ(got[field], registered[field]) << field;
  }
  std::mt19937 rng(20261209);
  static const char* const kTypes[] = {"sale", "sale", "return-purchase", "purchase", "return-sale"};
  std::unique_ptr<platform::Env> env = platform::NewBoardEnv();
  int stored_receipts = 0, refusals = 0;
  for (int i = 0; stored_receipts < 30 && i < 90; ++i) {
    const std::string type = kTypes[std::uniform_int_distribution<int>(0, 4)(rng)];
    json receipt = {{"type", type}, {"cashier", Cashier()}, {"lines", json::array()}, {"payment", {{"cash", 0}}}};
    for (int n = std::uniform_int_distribution<int>(1, 5)(rng); n > 0; --n) receipt["lines"].push_back(RandomLine(&rng));
    const Got first = rig.Call("POST", "/v1/registers/main/receipts/preview", receipt, {}, kPos);
    ASSERT_EQ(first.status, 200) << first.body.dump();
    if (!first.body["refusal"].is_null()) {
      // A line the register refuses (a fixed discount above a small line's
      // cost): the register says the same.
      const Got refused = rig.Post("/receipts", receipt, "preview-" + std::to_string(i), kPos);
      EXPECT_EQ(refused.body["result_code"], first.body["refusal"]["result_code"]) << receipt.dump();
      ++refusals;
      continue;
    }
    // Paid with change (cash brought in) or exactly (cash or card paid out).
    const int64_t total = first.body["total"];
    const bool incoming = type == "sale" || type == "return-sale";
    receipt["payment"] = incoming && i % 3 != 0 ? json{{"cash", total + 12345}, {"cashless", 0}}
                         : i % 2 == 0           ? json{{"cash", 0}, {"cashless", total}}
                                                : json{{"cash", total / 2}, {"cashless", total - total / 2}};
    const Got preview = rig.Call("POST", "/v1/registers/main/receipts/preview", receipt, {}, kPos);
    const Got stored = rig.Post("/receipts", receipt, "preview-" + std::to_string(i), kPos);
    ASSERT_EQ(stored.status, 201) << receipt.dump() << stored.body.dump();
    const json& p = preview.body;
    EXPECT_TRUE(p["refusal"].is_null()) << p.dump();
    EXPECT_EQ(p["total"], stored.body["total"]) << receipt.dump();
    EXPECT_EQ(p["change"], stored.body["change"]) << receipt.dump();

    // The archive's own record of the receipt: each line and each tax.
    std::unique_ptr<archivetool::Card> card;
    ASSERT_TRUE(archivetool::Card::Open(env.get(), rig.board() + "/mnt/sd/V0XD24TX", &card).ok());
    std::shared_ptr<BaseWorkDocument> doc;
    ASSERT_EQ(card->readDocument(stored.body["number"], card->headModel(), &doc), rc::kOk);
    const auto* r = dynamic_cast<const ReceiptDoc*>(doc.get());
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(p["lines"].size(), r->lines().size());
    for (size_t n = 0; n < r->lines().size(); ++n) {
      const ReceiptOperation& op = r->lines()[n];
      const json& l = p["lines"][n];
      EXPECT_EQ(l["cost_decimal"], op.cost().rescaled(100).toString()) << receipt.dump();
      EXPECT_EQ(l["discount_decimal"], op.discountAmount().rescaled(100).toString()) << receipt.dump();
      EXPECT_EQ(l["amount_decimal"], op.amount().rescaled(100).toString()) << receipt.dump();
      EXPECT_EQ(l["tax_decimal"], op.taxAmount().rescaled(100).toString()) << receipt.dump();
    }
    ASSERT_EQ(p["taxes"].size(), r->taxTotals().size()) << p.dump();
    size_t t = 0;
    for (const auto& [number, amount] : r->taxTotals()) {
      EXPECT_EQ(p["taxes"][t]["number"], number);
      EXPECT_EQ(p["taxes"][t]["amount_decimal"], amount.rescaled(100).toString()) << receipt.dump();
      ++t;
    }
    ++stored_receipts;
  }
  EXPECT_EQ(stored_receipts, 30) << refusals << " refused";

  // A discount record written since the last preview is the one applied.
  ASSERT_EQ(rig.Call("PUT", "/v1/registers/main/tables/discounts/1", {{"type", "percent"}, {"value", 5000}}).status,
            200);
  const json half = {{"type", "sale"}, {"lines", {Line("Чай", 10000, 1, 1, 1)}}, {"payment", {{"cash", 0}}}};
  EXPECT_EQ(rig.Call("POST", "/v1/registers/main/receipts/preview", half, {}, kPos).body["total"], 5000);

  // A refusal is told as the register tells it, pointing at the line; the
  // register's state is untouched by the preview.
  json bad = {{"type", "sale"},
              {"cashier", Cashier()},
              {"lines", {Line("Хлеб", 4550, 1, 1), Line("Вода", 5000, 1, 1, 9)}},
              {"payment", {{"cash", 0}}}};
  const Got before = rig.Call("GET", "/v1/registers/main/status?fresh=1");
  const Got refused = rig.Call("POST", "/v1/registers/main/receipts/preview", bad, {}, kPos);
  ASSERT_EQ(refused.status, 200);
  EXPECT_EQ(refused.body["refusal"]["pointer"], "/lines/1");
  const Got after = rig.Call("GET", "/v1/registers/main/status?fresh=1");
  EXPECT_EQ(after.body["last_document"], before.body["last_document"]);
  const Got real = rig.Post("/receipts", bad, "preview-refused", kPos);
  EXPECT_EQ(real.status, 422);
  EXPECT_EQ(refused.body["refusal"]["result_code"], real.body["result_code"]);
  EXPECT_EQ(refused.body["refusal"]["code"], real.body["code"]);
}

}  // namespace
}  // namespace bridgetest
