#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <numeric>
#include <random>
#include <vector>

#include "Paired.h"
#include "Zin/Alloc.h"

namespace bench {

namespace {

constexpr std::size_t kLine = 64;

// Follows `hops` links from `p`; returns where it ended, so that the chase is not optimised away.
[[gnu::noinline]] void* chase(void* p, std::size_t hops) {
   for (std::size_t i = 0; i < hops; ++i)
      p = *static_cast<void**>(p);
   return p;
}

}  // namespace

double randomAccessNs(std::size_t bytes) {
   static std::map<std::size_t, double> known;
   std::size_t const lines = std::max<std::size_t>(bytes / kLine, 2);
   if (auto it = known.find(lines); it != known.end()) return it->second;

   auto* base = static_cast<char*>(Zin::tableAllocate(lines * kLine));
   // Sattolo's shuffle: a permutation that is one cycle through every line.
   std::vector<std::uint32_t> next(lines);
   std::iota(next.begin(), next.end(), 0u);
   std::mt19937_64 rng(7);
   for (std::size_t i = lines - 1; i > 0; --i)
      std::swap(next[i], next[rng() % i]);
   for (std::size_t i = 0; i < lines; ++i)
      *reinterpret_cast<void**>(base + i * kLine) = base + next[i] * kLine;

   std::size_t const hops = std::max<std::size_t>(4 * lines, std::size_t(1) << 20);
   void* p = chase(base, lines);  // every line touched once: the mapping is in place
   double best = 0;
   for (int round = 0; round < 5; ++round) {
      double const t0 = cpuNs();
      p = chase(p, hops);
      double const ns = (cpuNs() - t0) / static_cast<double>(hops);
      if (best == 0 || ns < best) best = ns;
   }
   if (p == nullptr) std::abort();  // never: the cycle has no null link
   Zin::tableFree(base, lines * kLine);
   return known[lines] = best;
}

}  // namespace bench
