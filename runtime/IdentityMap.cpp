#include <atomic>

#include "Zin/IdentityMap.h"

namespace Zin::detail {

std::uint64_t identityMapMultiplier() {
   static std::atomic<std::uint64_t> made{0};
   // splitmix64's finaliser over the count: neighbouring counts give unrelated multipliers.
   std::uint64_t z = (made.fetch_add(1, std::memory_order_relaxed) + 1) * 0x9E3779B97F4A7C15ull;
   z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
   z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
   return (z ^ (z >> 31)) | 1;
}

}  // namespace Zin::detail
