// Whole numbers of any size for the tests that prove a table's floats are the nearest to powers
// of two's roots: the powers are compared exactly, with no logarithm in sight.
#pragma once

#include <compare>
#include <cstdint>
#include <vector>

namespace tonvarel {

class Natural {
 public:
  explicit Natural(uint32_t value) : limbs_{value} {}

  Natural& operator*=(uint32_t factor) {
    uint64_t carry = 0;
    for (uint32_t& limb : limbs_) {
      carry += uint64_t{limb} * factor;
      limb = static_cast<uint32_t>(carry);
      carry >>= 32;
    }
    if (carry != 0) limbs_.push_back(static_cast<uint32_t>(carry));
    return *this;
  }
  Natural& operator<<=(int bits) {
    limbs_.insert(limbs_.begin(), bits / 32, 0u);
    return *this *= uint32_t{1} << (bits % 32);
  }
  friend bool operator==(const Natural& a, const Natural& b) = default;
  friend std::strong_ordering operator<=>(const Natural& a, const Natural& b) {
    if (a.limbs_.size() != b.limbs_.size()) return a.limbs_.size() <=> b.limbs_.size();
    for (size_t i = a.limbs_.size(); i-- > 0;) {
      if (a.limbs_[i] != b.limbs_[i]) return a.limbs_[i] <=> b.limbs_[i];
    }
    return std::strong_ordering::equal;
  }

 private:
  std::vector<uint32_t> limbs_;  // least significant first; the top limb is never zero
};

// base^exponent * 2^shift.
inline Natural power(uint32_t base, int exponent, int shift = 0) {
  Natural n(1);
  for (int i = 0; i < exponent; ++i) n *= base;
  n <<= shift;
  return n;
}

}  // namespace tonvarel
