#pragma once
// The check word over a state file's records: a weighted sum of their 32-bit words with odd
// weights, then a bijective mix, so that any change confined to one word (one damaged byte)
// always changes the result. Each kind of record starts from a seed of its own, so that a
// record moved into the place of another kind does not check.
#include <cstdint>
#include <cstring>

namespace Stow {

class Checker {
 public:
   explicit Checker(uint32_t seed) : sum_(seed) {}
   template <class T>
   Checker& add(T const& v) {
      static_assert(sizeof(T) % 4 == 0);
      uint32_t w[sizeof(T) / 4];
      std::memcpy(w, &v, sizeof w);
      for (uint32_t x : w)
         sum_ += x * (0x9e3779b1u + 2 * 0x6d2b79f5u * n_++);
      return *this;
   }
   uint32_t value() const {
      uint32_t h = sum_;
      h ^= h >> 16;
      h *= 0x85ebca6bu;
      h ^= h >> 13;
      h *= 0xc2b2ae35u;
      h ^= h >> 16;
      return h;
   }

 private:
   uint32_t sum_;
   uint32_t n_ = 0;
};

}  // namespace Stow
