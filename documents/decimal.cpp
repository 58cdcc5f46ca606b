#include "documents/decimal.h"

#include <cfloat>
#include <cstdint>
#include <cmath>
#include <cstdio>

namespace {

// Two's-complement wrap-around without signed overflow.
int64_t WrapAdd(int64_t a, int64_t b) {
  return static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b));
}
int64_t WrapSub(int64_t a, int64_t b) {
  return static_cast<int64_t>(static_cast<uint64_t>(a) - static_cast<uint64_t>(b));
}
int64_t WrapMul(int64_t a, uint32_t b) {
  return static_cast<int64_t>(static_cast<uint64_t>(a) * b);
}

// The mantissa at scale m (a multiple of the operand's); scale 0 gives 0.
int64_t At(const Decimal& d, uint32_t m) {
  if (d.scale() == 0) return 0;
  return WrapMul(d.mantissa(), m / d.scale());
}

// Doubles outside the 64-bit range have no integer; they saturate.
int64_t TruncateToInt64(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 9223372036854775807.0) return INT64_MAX;
  if (v <= -9223372036854775808.0) return INT64_MIN;
  return static_cast<int64_t>(v);
}

}  // namespace

Decimal Decimal::fromReal(uint32_t scale, double x) {
  const double y = static_cast<double>(scale) * x;
  const int64_t b = TruncateToInt64(std::round(10.0 * y) / 10.0);
  const int64_t d = TruncateToInt64(std::round(10.0 * (y - static_cast<double>(b))));
  const bool up = (d > 5 || (d == 5 && (b % 2) != 0)) && b != INT64_MAX;
  return Decimal(scale, up ? b + 1 : b);
}

int Decimal::places() const {
  int n = 0;
  for (uint32_t s = scale_; s > 1; s /= 10) ++n;
  return n;
}

void Decimal::setPlaces(int n) {
  // 10^9 is the largest power of ten a 32-bit scale holds.
  if (n < 0 || n > 9) return;
  uint32_t s = 1;
  for (int i = 0; i < n; ++i) s *= 10;
  scale_ = s;
}

double Decimal::toDouble() const {
  if (scale_ == 0) return static_cast<double>(mantissa_);
  return static_cast<double>(mantissa_) / static_cast<double>(scale_);
}

Decimal Decimal::rescaled(uint32_t scale) const {
  if (scale == scale_) return *this;
  if (scale_ == 0 || scale == 0) return Decimal(scale, 0);  // no value to carry
  if (scale > scale_) return Decimal(scale, WrapMul(mantissa_, scale / scale_));
  const int64_t ratio = scale_ / scale;
  const int64_t q = mantissa_ / ratio;
  if (mantissa_ < 0) return Decimal(scale, q);
  const int64_t r = mantissa_ % ratio;
  const int64_t digit = r / (ratio >= 10 ? ratio / 10 : 1);  // only the first dropped digit
  const bool up = digit > 5 || (digit == 5 && (q % 2) != 0);
  return Decimal(scale, up ? q + 1 : q);
}

Decimal Decimal::operator+(const Decimal& other) const {
  if (scale_ == other.scale_) return Decimal(scale_, WrapAdd(mantissa_, other.mantissa_));
  const uint32_t m = scale_ > other.scale_ ? scale_ : other.scale_;
  return Decimal(m, WrapAdd(At(*this, m), At(other, m)));
}

Decimal Decimal::operator-(const Decimal& other) const {
  if (scale_ == other.scale_) return Decimal(scale_, WrapSub(mantissa_, other.mantissa_));
  const uint32_t m = scale_ > other.scale_ ? scale_ : other.scale_;
  return Decimal(m, WrapSub(At(*this, m), At(other, m)));
}

Decimal& Decimal::operator+=(const Decimal& other) {
  if (other.scale_ == 0) return *this;
  if (scale_ == 0) return *this = other;
  return *this = *this + other;
}

bool Decimal::operator==(const Decimal& other) const {
  if (scale_ == other.scale_ && mantissa_ == other.mantissa_) return true;
  return std::fabs(toDouble() - other.toDouble()) <= DBL_EPSILON;
}

std::string Decimal::toString() const {
  char buf[32];
  if (scale_ <= 1) {
    snprintf(buf, sizeof(buf), "%lld", static_cast<long long>(mantissa_));
    return buf;
  }
  // The magnitude as unsigned: the most negative mantissa has no positive.
  const uint64_t magnitude =
      mantissa_ < 0 ? 0 - static_cast<uint64_t>(mantissa_) : static_cast<uint64_t>(mantissa_);
  std::string out = mantissa_ < 0 ? "-" : "";
  out += std::to_string(magnitude / scale_);
  out += '.';
  const std::string fraction = std::to_string(magnitude % scale_);
  const size_t width = static_cast<size_t>(places());
  if (fraction.size() < width) out.append(width - fraction.size(), '0');
  out += fraction;
  return out;
}

std::string Decimal::quantityText() const {
  std::string text = toString();
  if (text.find('.') == std::string::npos) return text;
  while (!text.empty() && text.back() == '0') text.pop_back();
  if (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

std::string Decimal::percentText() const { return toString() + "%"; }
