// Edges of a day the longer day tests do not reach: a sale on every one of
// the five tax rates, a printer that goes silent and comes back, and a
// clock the board does not take.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "app/codes.h"
#include "app/status_format.h"
#include "documents/tlv_tags.h"
#include "host/client.h"
#include "host/session.h"
#include "platform/sandbox_env.h"
#include "util/coding.h"
#include "tools/sim/rig.h"
#include "tools/common/virtual_printer.h"

namespace {

// A registered register with its shift open, driven through the host library.
class DayEdgesTest : public testing::Test {
 protected:
  // `rates`: the tax rates of the registration, type 1 (in the price).
  void StartRegistered(const std::vector<uint16_t>& rates) {
    ASSERT_TRUE(rig_.Prepare());
    ASSERT_TRUE(rig_.Start());
    ASSERT_TRUE(rig_.WaitReady());
    ASSERT_TRUE(session_.Call(host::req::SetSerialNumber(session_.login(), "4200012345")).ok());
    std::vector<TlvElement> elements = {TlvElement::fromString(tag::kFirstRegText, "A"),
                                        TlvElement::fromString(tag::kSecondRegText, "B"),
                                        TlvElement::fromString(tag::kThirdRegText, "C")};
    for (size_t i = 0; i < rates.size(); ++i) {
      elements.push_back(host::TaxRateElement({static_cast<uint8_t>(i), 1, rates[i], "VAT " + std::to_string(i + 1)}));
    }
    ASSERT_TRUE(session_.Registration(elements, "7701234567", "9999078900012345", nullptr).ok());
    ASSERT_TRUE(session_.ShiftOpen(nullptr).ok());
  }

  host::DeviceStatus Status() {
    host::DeviceStatus s;
    EXPECT_TRUE(host::DecodeDeviceStatus(client_.Call(host::req::DeviceStatus()).data, &s));
    return s;
  }

  sim::Rig rig_{FR_CORE_PATH};
  host::Client client_{&rig_.host()};
  host::Session session_{&client_, host::Login(), "Cashier"};
};

TEST_F(DayEdgesTest, ASaleOnEveryTaxRateIsBookedOnEach) {
  // A price of (100 % + rate) × k holds exactly rate × k of tax in it.
  const std::vector<uint16_t> rates = {2000, 1000, 500, 1800, 300};
  ASSERT_NO_FATAL_FAILURE(StartRegistered(rates));
  std::vector<host::Line> lines;
  int64_t total = 0;
  for (size_t i = 0; i < rates.size(); ++i) {
    host::Line l;
    l.name = "Item " + std::to_string(i + 1);
    l.price = 10000 + rates[i];
    l.tax = static_cast<uint8_t>(i + 1);
    lines.push_back(l);
    total += l.price;
  }
  host::CloseReply closed;
  ASSERT_TRUE(session_.Receipt(receipt::kSale, lines, total, 0, &closed).ok());
  EXPECT_EQ(total, closed.total);

  ShiftCounters shift;
  ASSERT_TRUE(host::DecodeShiftTotals(client_.Call(host::req::Totals(cmd::kShiftTotals)).data, &shift));
  const OperationCounters sales = shift.block(receipt::kSale);
  EXPECT_EQ(total, sales.total());
  for (size_t i = 0; i < rates.size(); ++i) EXPECT_EQ(rates[i], sales.tax(i)) << "tax rate " << i + 1;
}

TEST_F(DayEdgesTest, APrinterThatComesBackIsUsedAgain) {
  ASSERT_NO_FATAL_FAILURE(StartRegistered({2000}));
  rig_.printer().set_status(sim::VirtualPrinter::kSilent);
  EXPECT_EQ(rc::kPrinterSilent, client_.Call(host::req::PrinterStatus()).code);
  EXPECT_TRUE(Status().flag(FrStatus::kPrinterSilent));
  EXPECT_EQ(rc::kPrinterSilent, client_.Call(host::req::OpenReceipt(session_.login(), receipt::kSale, "C")).code);

  rig_.printer().set_status(0);
  EXPECT_EQ(rc::kOk, client_.Call(host::req::PrinterStatus()).code);
  EXPECT_FALSE(Status().flag(FrStatus::kPrinterSilent));
  host::Line l;
  l.name = "Item";
  l.price = 100;
  EXPECT_TRUE(session_.Receipt(receipt::kSale, {l}, 100, 0, nullptr).ok());
}

// date or hwclock failing on the board: the register answers 21 and its
// clock stays where it was; once the board takes it, the time is set.
TEST_F(DayEdgesTest, AClockTheBoardDoesNotTakeIsRefusedAndStays) {
  ASSERT_TRUE(rig_.Prepare());
  ASSERT_TRUE(rig_.Start());
  ASSERT_TRUE(rig_.WaitReady());
  auto clock = [&] {
    const host::Answer a = client_.Call(host::req::ReadClock());
    EXPECT_TRUE(a.ok() && a.data.size() >= 4) << a.error;
    return a.data.size() >= 4 ? static_cast<int64_t>(util::GetFixed32(a.data, 0)) : 0;
  };
  const int64_t before = clock();
  const uint32_t later = static_cast<uint32_t>(before + 86400);
  ASSERT_TRUE(rig_.sandbox().WriteFile(platform::SandboxEnv::kClockFails, ""));
  EXPECT_EQ(rc::kNotSaved, client_.Call(host::req::SetClock(session_.login(), later)).code);
  EXPECT_LT(clock() - before, 60) << "the clock moved on a refusal";
  ASSERT_EQ(0, std::remove(rig_.sandbox().Path(platform::SandboxEnv::kClockFails).c_str()));
  EXPECT_TRUE(client_.Call(host::req::SetClock(session_.login(), later)).ok());
  EXPECT_GE(clock(), later);
}

}  // namespace
