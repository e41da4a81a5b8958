// Batch apply through the agent core: n entries inserted, modified and removed again, each
// step one batch, on a private chip with the key table in a scratch folder that is removed
// afterwards. Continue on error applies every update on its own; roll back on error also keeps
// the undo record, which reads back each entry before it changes it. allocs/op counts the
// global heap allocations per update: the core makes none beyond the library's objects (and a
// rollback batch's undo record).
#include <benchmark/benchmark.h>

#include <limits>
#include <numeric>
#include <string>
#include <vector>

#include "AgentBed.h"
#include "HeapCount.h"
#include "RoundBatches.h"
#include "Summary.h"
#include "agent/core/AgentCore.h"
#include "chip/ChipInventory.h"

namespace {

using TwiceNatAgent::AgentCore;
using TwiceNatAgent::BatchMode;
using TwiceNatAgent::Update;

constexpr U8 kDevice = 20;

// A core over a private chip with room for n entries, and the three batches of a round. Made
// afresh for each run: a round fills the maps from empty, as a load into a new table does.
struct CoreBed {
   CoreBed(U32 n, bool bfrt) : chip(kDevice, bfrt, n + 16), inventory(*chip.chip) {
      core = bench::startedCore(folder, sdk, inventory, kDevice);
      std::vector<U32> order(n);
      std::iota(order.begin(), order.end(), 0u);
      batches = bench::roundBatches(order, true);
   }
   ~CoreBed() {
      core.reset();
      batches.clear();
   }

   bench::ScratchFolder folder{"core-bench"};
   bench::SdkHandle sdk;
   bench::AttachedChip chip;
   chip::ChipInventory inventory;
   std::unique_ptr<AgentCore> core;
   std::vector<std::vector<Update>> batches;  // inserts, modifies, removes
};

void coreBatch(benchmark::State& st, BatchMode mode, bool bfrt) {
   U32 const n = static_cast<U32>(st.range(0));
   CoreBed bed(n, bfrt);
   long const before = bench::heapAllocs();
   U64 failed = 0;
   for (auto _ : st) {
      for (std::vector<Update> const& batch : bed.batches)
         failed += bed.core->apply(batch, mode).failed;
   }
   if (failed != 0) st.SkipWithError("updates failed");
   U64 const updates = U64(st.iterations()) * 3 * n;
   st.SetItemsProcessed(static_cast<int64_t>(updates));
   st.counters["allocs/op"] = static_cast<double>(bench::heapAllocs() - before) / double(updates);
}

void continueOnError(benchmark::State& st, bool bfrt) {
   coreBatch(st, BatchMode::continueOnError, bfrt);
}
void rollbackOnError(benchmark::State& st, bool bfrt) {
   coreBatch(st, BatchMode::rollbackOnError, bfrt);
}

// Each run is a whole round of 3n updates; the fastest of its repetitions counts.
BENCHMARK_CAPTURE(continueOnError, pd, false)
    ->Arg(100'000)
    ->Arg(1'000'000)
    ->Iterations(1)
    ->Repetitions(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(continueOnError, bfrt, true)
    ->Arg(100'000)
    ->Arg(1'000'000)
    ->Iterations(1)
    ->Repetitions(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(rollbackOnError, pd, false)
    ->Arg(1'000'000)
    ->Iterations(1)
    ->Repetitions(3)
    ->Unit(benchmark::kMillisecond);

// Figures in updates per second, from each run's fastest repetition.
struct Rate {
   Rate(std::string figure, std::string run, double goal) {
      bench::rateRows().push_back({std::move(figure), std::move(run), "updates/s", goal});
   }
};
Rate pd100k{"batch apply through the core, PD, 100k entries", "continueOnError/pd/100000", 1e6};
Rate pd1m{"batch apply through the core, PD, 1M entries", "continueOnError/pd/1000000", 1e6};
Rate bfrt1m{"batch apply through the core, BfRt, 1M entries", "continueOnError/bfrt/1000000", 1e6};
Rate rollback1m{"atomic batch apply through the core, PD, 1M entries (no goal)",
                "rollbackOnError/pd/1000000", std::numeric_limits<double>::quiet_NaN()};

}  // namespace
