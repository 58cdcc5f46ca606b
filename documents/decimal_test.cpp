#include "documents/decimal.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

TEST(DecimalTest, PrintedForms) {
  struct Case {
    Decimal d;
    std::string printed, quantity, percent;
  };
  const Case cases[] = {
      {Decimal(), "0.00", "0", "0.00%"},
      {Decimal(100, 1250), "12.50", "12.5", "12.50%"},
      {Decimal(100, -5), "-0.05", "-0.05", "-0.05%"},
      {Decimal(1000, 1500), "1.500", "1.5", "1.500%"},
      {Decimal(1000, 2000), "2.000", "2", "2.000%"},
      {Decimal(1000, 250), "0.250", "0.25", "0.250%"},
      {Decimal(1, 3), "3", "3", "3%"},
      {Decimal(0, -7), "-7", "-7", "-7%"},
      {Decimal(100, 1000), "10.00", "10", "10.00%"},
      {Decimal(100, INT64_MIN), "-92233720368547758.08", "-92233720368547758.08",
       "-92233720368547758.08%"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.printed, c.d.toString());
    EXPECT_EQ(c.quantity, c.d.quantityText());
    EXPECT_EQ(c.percent, c.d.percentText());
  }
}

TEST(DecimalTest, Places) {
  EXPECT_EQ(0, Decimal(1).places());
  EXPECT_EQ(2, Decimal(100).places());
  EXPECT_EQ(3, Decimal(1000).places());
  EXPECT_EQ(0, Decimal(0).places());
  Decimal d(100, 1234);
  d.setPlaces(3);
  EXPECT_EQ(1000u, d.scale());
  EXPECT_EQ(1234, d.mantissa());
  d.setPlaces(-1);
  d.setPlaces(10);  // no 32-bit scale: unchanged
  EXPECT_EQ(1000u, d.scale());
  d.setPlaces(9);
  EXPECT_EQ(1000000000u, d.scale());
}

TEST(DecimalTest, AdditionTakesTheLargerScale) {
  EXPECT_EQ("-0.25", (Decimal(100, 50) - Decimal(100, 75)).toString());
  const Decimal sum = Decimal(10, 15) + Decimal(100, 25);
  EXPECT_EQ(100u, sum.scale());
  EXPECT_EQ(175, sum.mantissa());
  EXPECT_EQ("1.25", (Decimal(1000, 1500) - Decimal(100, 25)).rescaled(100).toString());
  // A scale-0 operand stands for no value.
  EXPECT_EQ(Decimal(100, 5).mantissa(), (Decimal(100, 5) + Decimal(0, 99)).mantissa());
  Decimal a(0, 9);
  a += Decimal(10, 3);
  EXPECT_EQ(10u, a.scale());
  EXPECT_EQ(3, a.mantissa());
  a += Decimal(0, 100);
  EXPECT_EQ(3, a.mantissa());
  a += Decimal(100, 1);
  EXPECT_EQ(100u, a.scale());
  EXPECT_EQ(31, a.mantissa());
}

TEST(DecimalTest, OverflowWrapsAround) {
  EXPECT_EQ(INT64_MIN, (Decimal(100, INT64_MAX) + Decimal(100, 1)).mantissa());
  EXPECT_EQ(INT64_MAX, (Decimal(100, INT64_MIN) - Decimal(100, 1)).mantissa());
  const Decimal scaled = Decimal(1, INT64_MAX) + Decimal(100, 0);
  EXPECT_EQ(static_cast<int64_t>(static_cast<uint64_t>(INT64_MAX) * 100u), scaled.mantissa());
}

TEST(DecimalTest, RescalingRoundsOnTheFirstDroppedDigitHalfToEven) {
  struct Case {
    Decimal from;
    uint32_t scale;
    int64_t mantissa;
  };
  const Case cases[] = {
      {Decimal(1000, 2450), 100, 245}, {Decimal(1000, 2450), 10, 24},
      {Decimal(1000, 2550), 10, 26},   {Decimal(100, 2451), 1, 24},
      {Decimal(100, 2550), 1, 26},     {Decimal(100, 2450), 1, 24},
      {Decimal(100, 2460), 1, 25},     {Decimal(100, -2460), 1, -24},
      {Decimal(100, 245), 1000, 2450}, {Decimal(100, 245), 100, 245},
      {Decimal(0, 77), 100, 0},        {Decimal(100, 77), 0, 0},
  };
  for (const Case& c : cases) {
    const Decimal r = c.from.rescaled(c.scale);
    EXPECT_EQ(c.scale, r.scale());
    EXPECT_EQ(c.mantissa, r.mantissa()) << c.from.toString() << " to " << c.scale;
  }
}

TEST(DecimalTest, FromRealNumbers) {
  struct Case {
    double x;
    int64_t mantissa;
  };
  const Case cases[] = {{1.235, 124},   {1.245, 124},   {1.2455, 125}, {12.345, 1234},
                        {12.355, 1236}, {-12.349, -1234}, {0.0, 0},    {1e30, INT64_MAX}};
  for (const Case& c : cases) EXPECT_EQ(c.mantissa, Decimal::fromReal(100, c.x).mantissa()) << c.x;
}

TEST(DecimalTest, EqualityAcrossScales) {
  EXPECT_TRUE(Decimal(10, 10) == Decimal(100, 100));
  EXPECT_FALSE(Decimal(10, 10) == Decimal(100, 101));
  EXPECT_TRUE(Decimal(100, 5) == Decimal(100, 5));
  EXPECT_TRUE(Decimal(100, 5) != Decimal(100, 6));
}

}  // namespace
