// Paired rounds of a library pass and a bare pass over the same entries, and the latency of one
// random memory access in a table of a given size, the unit of the library's extra cost.
#pragma once

#include <time.h>

#include <cstddef>
#include <type_traits>

namespace bench {

// Thread CPU time: the machine is shared, and time spent waiting for a core is nobody's.
inline double cpuNs() {
   timespec ts{};
   ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
   return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

struct PairedNs {
   double library;
   double bare;
};

// Runs one untimed pair, then `rounds` pairs of `library` and `bare`, the side that goes first
// taking turns, and gives each side's fastest pass in ns per operation (`ops` per pass): the
// pass the rest of the machine disturbed least. Each pass must leave the state it found. A pass
// that returns a number has timed itself (leaving out its own set-up): that is its CPU ns.
template <class Library, class Bare>
PairedNs pairedRounds(int rounds, double ops, Library library, Bare bare) {
   library();
   bare();
   PairedNs best{0, 0};
   auto timed = [ops](auto& pass, double& bestNs) {
      double ns;
      if constexpr (std::is_void_v<decltype(pass())>) {
         double const t0 = cpuNs();
         pass();
         ns = (cpuNs() - t0) / ops;
      } else {
         ns = pass() / ops;
      }
      if (bestNs == 0 || ns < bestNs) bestNs = ns;
   };
   for (int r = 0; r < rounds; ++r) {
      if (r % 2 == 0) {
         timed(library, best.library);
         timed(bare, best.bare);
      } else {
         timed(bare, best.bare);
         timed(library, best.library);
      }
   }
   return best;
}

// Nanoseconds of one dependent load at a random line of a buffer of `bytes`, allocated as big
// tables are (Zin::tableAllocate): a pointer chase through every line in one random cycle,
// fastest of a few rounds. Kept per size for the run.
double randomAccessNs(std::size_t bytes);

}  // namespace bench
