// Doubles of every kind for comparing number text with the C library's: shared by the unit
// test (a bounded sample) and the benchmark (the full run).
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>

namespace testing_support {

/// An endless, reproducible sequence that cycles through the kinds of values a tree holds and
/// the ones that sit on the edges of the formats: whole numbers of every size (around 10^15,
/// where "%.15g" switches to exponent form, and beyond 2^53), their negatives, halves, short
/// decimals and their neighbours, values near powers of ten (where rounding to 15 digits
/// carries), random mantissas at every binary exponent, subnormals, and random bit patterns
/// (finite only).
class DoubleSample {
 public:
  explicit DoubleSample(std::uint64_t seed) : random_(seed) {}

  double Next() {
    const double sign = (random_() & 1) != 0 ? -1.0 : 1.0;
    switch (next_++ % 10) {
      case 0:  // small counts and ids
        return static_cast<double>(random_() % 100000);
      case 1: {  // whole numbers of any size up to 10^18, often right at 10^15
        const int digits = static_cast<int>(random_() % 19);
        const double scale = std::pow(10.0, digits);
        double v = std::floor(static_cast<double>(random_() % 1000000007) / 1000000007 * scale);
        if ((random_() & 3) == 0)
          v = 1e15 + static_cast<double>(static_cast<int>(random_() % 5) - 2);
        return sign * v;
      }
      case 2: {  // halves, quarters, short decimals of up to 8 places and up to 16 digits, and
                 // their neighbours one step away
        if ((random_() & 3) == 0)
          return sign * static_cast<double>(random_() % 10000000) / ((random_() & 1) ? 4 : 100);
        const int digits = 1 + static_cast<int>(random_() % 16);
        const auto limit = static_cast<std::uint64_t>(std::pow(10.0, digits));
        const double n = static_cast<double>(random_() % limit);
        double v = n / std::pow(10.0, 1 + static_cast<int>(random_() % 8));
        if ((random_() & 3) == 0) v = std::nextafter(v, (random_() & 1) ? HUGE_VAL : 0.0);
        return sign * v;
      }
      case 3: {  // next to a power of ten, where 15-digit rounding carries into a new digit
        const double p = std::pow(10.0, static_cast<int>(random_() % 40) - 20);
        const int steps = static_cast<int>(random_() % 7) - 3;
        double v = p;
        for (int i = 0; i < steps; ++i) v = std::nextafter(v, HUGE_VAL);
        for (int i = 0; i > steps; --i) v = std::nextafter(v, 0.0);
        return sign * v * (1 - 5e-16 * static_cast<double>(random_() % 3));
      }
      case 4:
      case 5: {  // a random mantissa at every binary exponent
        std::uniform_real_distribution<double> mantissa(1, 2);
        return sign * std::ldexp(mantissa(random_), static_cast<int>(random_() % 2098) - 1075);
      }
      case 6: {  // subnormals
        const std::uint64_t bits = random_() & ((std::uint64_t{1} << 52) - 1);
        return sign * FromBits(bits);
      }
      case 7:  // zeros, both signs, and tiny integers as doubles
        return sign * static_cast<double>(random_() % 3);
      default: {  // any finite bit pattern
        double v;
        do v = FromBits(random_());
        while (!std::isfinite(v));
        return v;
      }
    }
  }

 private:
  static double FromBits(std::uint64_t bits) {
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
  }

  std::mt19937_64 random_;
  std::uint64_t next_ = 0;
};

}  // namespace testing_support
