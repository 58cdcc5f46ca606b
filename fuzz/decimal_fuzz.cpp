// Decimal arithmetic, rescaling and text forms on numbers taken from the
// input. Scales are the powers of ten the class is built for, plus 0 (no
// value); wrap-around is allowed, undefined behaviour and crashes are not.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "documents/decimal.h"

namespace {

void Check(bool ok) {
  if (!ok) abort();
}

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  int64_t I64() {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v |= static_cast<uint64_t>(Byte()) << (8 * i);
    return static_cast<int64_t>(v);
  }
  double Real() {
    const int64_t bits = I64();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
  }
  uint32_t Scale() {
    const uint8_t b = Byte();
    if (b % 11 == 10) return 0;
    uint32_t s = 1;
    for (int i = 0; i < b % 11; ++i) s *= 10;
    return s;
  }
  bool done() const { return pos_ >= size_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

void Texts(const Decimal& d) {
  const std::string s = d.toString();
  Check(!s.empty());
  if (d.scale() > 1) {
    // Exactly `places` fraction digits after the point.
    const size_t dot = s.find('.');
    Check(dot != std::string::npos);
    Check(s.size() - dot - 1 == static_cast<size_t>(d.places()));
  }
  const std::string q = d.quantityText();
  Check(!q.empty() && q.size() <= s.size());
  d.percentText();
  d.toDouble();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  Decimal acc(in.Scale(), in.I64());
  for (int step = 0; step < 32 && !in.done(); ++step) {
    const uint8_t op = in.Byte();
    Decimal other(in.Scale(), in.I64());
    switch (op % 9) {
      case 0: acc = acc + other; break;
      case 1: acc = acc - other; break;
      case 2: acc += other; break;
      case 3: {
        const uint32_t target = in.Scale();
        Decimal r = acc.rescaled(target);
        Check(r.scale() == target);
        // Going up and back down is exact while the mantissa fits.
        if (acc.scale() != 0 && target > acc.scale()) {
          const int64_t ratio = target / acc.scale();
          if (acc.mantissa() > INT64_MIN / ratio && acc.mantissa() < INT64_MAX / ratio) {
            Decimal back = r.rescaled(acc.scale());
            Check(back.scale() == acc.scale() && back.mantissa() == acc.mantissa());
          }
        }
        acc = r;
        break;
      }
      case 4: {
        const uint32_t scale = in.Scale();
        Decimal r = Decimal::fromReal(scale, in.Real());
        Check(r.scale() == scale);
        Texts(r);
        break;
      }
      case 5: acc.setPlaces(static_cast<int8_t>(in.Byte())); break;
      case 6: (void)(acc == other); (void)(acc != other); break;
      case 7: acc.setMantissa(in.I64()); break;
      default: Texts(other); break;
    }
    Texts(acc);
    (void)acc.places();
  }
  return 0;
}
