// Cost of a counted object's allocation and release through the runtime's slab, beside the
// same pair through the heap: every match and action spec the library builds pays it. A batch
// is made and then dropped, in the order made and in a random order (a table releases its
// objects in the order its user removes entries).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "Zin/Alloc.h"

namespace {

constexpr int kBatch = 1024;

struct Counted {
   char bytes[48];
   ZIN_ALLOCATED(Counted)
};

struct Plain {
   char bytes[48];
};

template <class T>
void makeAndDrop(benchmark::State& st) {
   bool const random = st.range(0) != 0;
   std::vector<T*> made(kBatch);
   std::vector<int> order(kBatch);
   for (int i = 0; i < kBatch; ++i)
      order[i] = i;
   if (random) std::shuffle(order.begin(), order.end(), std::mt19937(5));
   for (auto _ : st) {
      for (T*& p : made) {
         p = new T;
         benchmark::DoNotOptimize(p);
      }
      for (int i : order)
         delete made[i];
   }
   st.SetItemsProcessed(st.iterations() * kBatch);
}

BENCHMARK(makeAndDrop<Counted>)->Arg(0)->Arg(1);
BENCHMARK(makeAndDrop<Plain>)->Arg(0)->Arg(1);

}  // namespace
