// Memory an entry costs in the agent's process once it is programmed, the library's share and
// the agent's apart. The library's share is what a table without services keeps per entry
// (the match spec its handle map holds, the map's own tables); the agent's is what the same
// programming costs on top of that with the key manager, the status manager and the agent's
// entry index present. The chip's file and the key table's shared file are not process memory
// of either and are not counted (the key table's record size is shown for information).
//
// Live bytes are the runtime's objects in the slab, by block size, plus the big tables' own
// mappings, plus the heap. The slab's chunks are not counted: it maps them once and keeps them,
// so counting them would charge whichever run first needed one.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include "AgentBed.h"
#include "BfTwiceNatAddrOnly/platform/BfPdTwiceNatAddrOnlyIntf.h"
#include "HeapCount.h"
#include "Summary.h"
#include "Zin/Alloc.h"
#include "agent/core/EntryIndex.h"
#include "agent/core/EntrySpecs.h"

namespace {

using namespace BfTwiceNatAddrOnly;

constexpr U8 kDevice = 21;
// The runtime's slab: blocks of 16-byte steps up to this size.
constexpr long kSlabLargest = 512;

long liveBytes() {
   long slabObjects = 0;
   for (Zin::AllocCount const& c : Zin::allocCounts()) {
      if (c.liveObjects <= 0) continue;
      long const size = static_cast<long>(c.liveBytes / c.liveObjects);
      if (size > kSlabLargest) continue;  // from the heap, counted there
      slabObjects += c.liveObjects * ((size + 15) / 16 * 16);
   }
   return slabObjects + bench::heapLiveBytes() + Zin::tableBytes();
}

enum class Side { chip, library, agent };

struct Bytes {
   double total = 0;
   double index = 0;  // the agent's entry index's share
};

// Bytes per entry that programming n entries leaves live: through the PD functions
// directly (what the chip and the SDK keep themselves, which is subtracted), through the
// library alone, or as the agent does with its services and its entry index.
Bytes bytesPerEntry(Side side, U32 n) {
   bool const withAgent = side == Side::agent;
   bench::ScratchFolder folder("memory-bench");
   bench::SdkHandle sdk;
   bench::AttachedChip chip(kDevice, false, n + 16);
   std::unique_ptr<bench::AgentServices> services;
   if (withAgent) {
      TwiceNatAgent::KeyTable::create(folder.path + "/keys", n + chip::kMaxPipes + 1);
      services = std::make_unique<bench::AgentServices>(folder.path + "/keys");
   }
   auto table = bench::tableOf(services.get(), sdk, kDevice);
   bool const vrf = table->supportedOptionalFields() != 0;
   long const before = liveBytes();
   if (side == Side::chip) {
      auto& pd = *table->helper()->pdLib();
      BfPdTwiceNatAddrOnly::DevTarget const target{kDevice, 0xFFFF};
      for (U32 i = 0; i < n; ++i) {
         BfPdTwiceNatAddrOnly::MatchSpec m{static_cast<U16>(i & 0xFF), 0x0A000000u + i,
                                           0xC0A80001u};
         BfPdTwiceNatAddrOnly::HitSpec a{static_cast<U16>(i), 0, 6, 0, 7};
         U32 handle = 0;
         if (pd.tableAddWithTwiceNatAddrOnlyHit(bench::kSessionId, target, &m, &a, &handle) != 0) {
            std::abort();
         }
      }
      return {static_cast<double>(liveBytes() - before) / n};
   }
   for (U32 i = 0; i < n; ++i) {
      TwiceNatAddrOnlyTableEntry const e = bench::benchEntry(i, vrf);
      if (!bench::programOne(*table, services.get(), e)) std::abort();
   }
   long const after = liveBytes();
   if (table->helper()->sdkHandles()->entries() != n) std::abort();
   if (services && services->keys->matches() != n) std::abort();
   Bytes const out{static_cast<double>(after - before) / n,
                   services ? static_cast<double>(services->index.bytes()) / n : 0};
   table = nullptr;
   services.reset();
   return out;
}

// Per entry at 100k and at 1M entries: the maps' slots come in powers of two, so what an
// entry costs swings with the count; the goal is judged at a million.
void memoryPerEntry(benchmark::State& st) {
   U32 const n = static_cast<U32>(st.range(0));
   double chip = 0, library = 0, index = 0, total = 0;
   for (auto _ : st) {
      chip = bytesPerEntry(Side::chip, n).total;
      library = bytesPerEntry(Side::library, n).total - chip;
      Bytes const agent = bytesPerEntry(Side::agent, n);
      total = agent.total - chip;
      index = agent.index;
   }
   double const nan = std::numeric_limits<double>::quiet_NaN();
   std::string const at = n >= 1'000'000 ? ", 1M entries" : ", 100k entries";
   bench::figureIs("memory per entry, library" + at, library, "B", nan, true);
   bench::figureIs("memory per entry, agent" + at, total - library, "B", nan, true);
   bench::figureIs("  of which key and status managers" + at, total - library - index, "B", nan,
                   true);
   bench::figureIs("  of which the agent's entry index" + at, index, "B", nan, true);
   bench::figureIs("memory per entry, library and agent" + at, total, "B",
                   n >= 1'000'000 ? 100 : nan, true);
   if (n < 1'000'000) {
      bench::figureIs("chip and SDK heap per entry (not counted)", chip, "B", nan, true);
      bench::figureIs("key table record (shared file, not counted)",
                      static_cast<double>(TwiceNatAgent::KeyTable::recordBytes()), "B", nan, true);
   }
   st.counters["library_B"] = library;
   st.counters["agent_B"] = total - library;
}
BENCHMARK(memoryPerEntry)
    ->Arg(100'000)
    ->Arg(1'000'000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
