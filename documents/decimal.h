// Decimal: an exact fixed-point number, value = mantissa / scale, where the
// scale is a power of ten. Money is kopecks at scale 100; quantities carry
// the places the host sent; percentages and tax rates are at scale 100.
// A scale of 0 stands for no value.
#ifndef FR_DOCUMENTS_DECIMAL_H_
#define FR_DOCUMENTS_DECIMAL_H_

#include <cstdint>
#include <string>

class Decimal {
 public:
  static constexpr uint32_t kMoneyScale = 100;

  Decimal() : scale_(kMoneyScale), mantissa_(0) {}
  explicit Decimal(uint32_t scale) : scale_(scale), mantissa_(0) {}
  Decimal(uint32_t scale, int64_t mantissa) : scale_(scale), mantissa_(mantissa) {}
  // A real number brought to `scale` by the rounding rule of real values:
  // round half to even on the first dropped digit, truncation when negative.
  static Decimal fromReal(uint32_t scale, double x);

  uint32_t scale() const { return scale_; }
  int64_t mantissa() const { return mantissa_; }
  void setMantissa(int64_t mantissa) { mantissa_ = mantissa; }
  // How many times the scale divides by 10 while above 1.
  int places() const;
  // Scale becomes 10^n, the mantissa is kept; a negative n changes nothing.
  void setPlaces(int n);

  double toDouble() const;
  // The same value at another scale: exact upwards; downwards the first
  // dropped digit rounds half to even, and a negative value truncates.
  Decimal rescaled(uint32_t scale) const;

  // Sums take the larger scale. Overflow wraps around (two's complement),
  // without undefined behaviour.
  Decimal operator+(const Decimal& other) const;
  Decimal operator-(const Decimal& other) const;
  Decimal& operator+=(const Decimal& other);
  // Equal scale and mantissa, or values within the double epsilon.
  bool operator==(const Decimal& other) const;
  bool operator!=(const Decimal& other) const { return !(*this == other); }

  // "12.50", "-0.05", "1.500"; scale 0 or 1: the mantissa alone.
  std::string toString() const;
  // The printed form without trailing fraction zeros: "1.5", "2", "0.25".
  std::string quantityText() const;
  // The printed form and "%": "10.00%".
  std::string percentText() const;

 private:
  uint32_t scale_;
  int64_t mantissa_;
};

#endif  // FR_DOCUMENTS_DECIMAL_H_
