// sin and cos of multiples of pi from additions and multiplications only, so that the filters
// built from them are the same bits in every build (native, WebAssembly) whatever its libm.
#pragma once

#include <cmath>

namespace tonvarel::voice {

inline constexpr double kPi = 3.14159265358979323846;

// sin(pi x). The argument is folded into [-1/2, 1/2] with exact steps (rounding to an integer,
// a subtraction of an integer) and the Taylor series is summed up to z^19, where the first
// term left out is below 3e-16 for |z| <= pi/2.
inline double sinPi(double x) {
  double r = x - 2.0 * std::nearbyint(x * 0.5);  // [-1, 1]: sin(pi r) == sin(pi x)
  if (r > 0.5) r = 1.0 - r;
  if (r < -0.5) r = -1.0 - r;
  const double z = kPi * r;
  const double z2 = z * z;
  double sum = -1.0 / 121645100408832000.0;  // -1/19!
  sum = 1.0 / 355687428096000.0 + z2 * sum;  // 1/17!
  sum = -1.0 / 1307674368000.0 + z2 * sum;   // -1/15!
  sum = 1.0 / 6227020800.0 + z2 * sum;
  sum = -1.0 / 39916800.0 + z2 * sum;
  sum = 1.0 / 362880.0 + z2 * sum;
  sum = -1.0 / 5040.0 + z2 * sum;
  sum = 1.0 / 120.0 + z2 * sum;
  sum = -1.0 / 6.0 + z2 * sum;
  sum = 1.0 + z2 * sum;
  return z * sum;
}

inline double cosPi(double x) {
  return sinPi(x + 0.5);
}

// sin(pi x) / (pi x), 1 at 0.
inline double sincPi(double x) {
  return x == 0.0 ? 1.0 : sinPi(x) / (kPi * x);
}

}  // namespace tonvarel::voice
