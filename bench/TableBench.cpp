// Speed of the table's hot paths (program, modify, remove, read back, look up) on the
// simulated chip, each next to a baseline that makes the same SDK calls directly, in the same
// process; the summary sets library time over baseline time. allocs/op counts the heap
// allocations each operation makes outside the runtime's slab (the hot paths should make none).
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "BfTwiceNatAddrOnly/table/TwiceNatAddrOnlyTableFactory.h"
#include "HeapCount.h"
#include "Summary.h"
#include "chip/Chip.h"
#include "chip/Devices.h"

namespace {

using namespace BfTwiceNatAddrOnly;

constexpr int kBatch = 1024;
constexpr char kSdkLib[] = TWICENAT_LIB_DIR "/libtwicenat_sdk.so";

// One chip and one table of a back end, with a batch of entries made up front.
struct Bed {
   explicit Bed(bool bfrt, U8 dev) : dev(dev) {
      chip::Profile p;
      p.bfrt = bfrt;
      p.capacity = 4 * kBatch;
      chip = chip::Chip::createPrivate(p);
      chip::attach(dev, *chip);
      dl = dlopen(kSdkLib, RTLD_NOW);
      if (!dl) {
         std::fprintf(stderr, "%s\n", dlerror());
         std::abort();
      }
      table = twiceNatAddrOnlyTableFactory(nullptr, nullptr, dl, 1, dev, 0xFFFF, kSdkLib);
      for (int i = 0; i < kBatch; ++i) {
         auto m = twiceNatAddrOnlyMatchSpecFactory();
         m->outerIpv4HdrDipIs(0x0A000000u + i);
         m->outerIpv4HdrSipIs(0xC0A80001u);
         m->l3InfoVrfIdIs(static_cast<U16>(i & 0xFF));
         auto a = twiceNatAddrOnlyHitActionSpecFactory();
         a->keyIdIs(static_cast<U16>(i));
         a->nextHopIs(7);
         TwiceNatAddrOnlyTableEntry e(m);
         e.actionIs(a);
         entries.push_back(e);
         auto b = twiceNatAddrOnlyHitEcmpActionSpecFactory();
         b->ecmpGroupIs(3);
         TwiceNatAddrOnlyTableEntry alt(m);
         alt.actionIs(b);
         modified.push_back(alt);
      }
   }
   ~Bed() {
      entries.clear();
      modified.clear();
      table = nullptr;
      chip::detach(dev);
      chip.reset();
      dlclose(dl);
   }
   BfPdTwiceNatAddrOnly::BfPdTwiceNatAddrOnlyIntf& pd() { return *table->helper()->pdLib(); }

   U8 dev;
   std::unique_ptr<chip::Chip> chip;
   void* dl = nullptr;
   TwiceNatAddrOnlyTable::Ptr table;
   std::vector<TwiceNatAddrOnlyTableEntry> entries;
   std::vector<TwiceNatAddrOnlyTableEntry> modified;
};

Bed& bed(bool bfrt) {
   static Bed pd(false, 10);
   static Bed rt(true, 11);
   return bfrt ? rt : pd;
}

BfPdTwiceNatAddrOnly::MatchSpec pdMatch(TwiceNatAddrOnlyMatchSpec const& m) {
   return {m.l3InfoVrfId(), m.outerIpv4HdrDip(), m.outerIpv4HdrSip()};
}

void countOps(benchmark::State& st, long allocsBefore, int opsPerIter) {
   st.SetItemsProcessed(st.iterations() * opsPerIter);
   st.counters["allocs/op"] =
       benchmark::Counter(static_cast<double>(bench::heapAllocs() - allocsBefore) /
                          static_cast<double>(st.iterations() * opsPerIter));
}

// Library: add a batch, modify it, delete it.
void libraryProgram(benchmark::State& st, bool bfrt) {
   Bed& b = bed(bfrt);
   long before = bench::heapAllocs();
   for (auto _ : st) {
      for (auto const& e : b.entries)
         b.table->entryIs(e);
      for (auto const& e : b.modified)
         b.table->entryIs(e);
      for (auto const& e : b.entries)
         b.table->entryDel(e.match());
   }
   countOps(st, before, 3 * kBatch);
}

// Baseline: the same PD calls, made directly.
void sdkProgram(benchmark::State& st) {
   Bed& b = bed(false);
   auto& pd = b.pd();
   std::vector<U32> handles(kBatch);
   BfPdTwiceNatAddrOnly::DevTarget tgt{b.dev, 0xFFFF};
   long before = bench::heapAllocs();
   for (auto _ : st) {
      for (int i = 0; i < kBatch; ++i) {
         auto m = pdMatch(*b.entries[i].match());
         BfPdTwiceNatAddrOnly::HitSpec a{static_cast<U16>(i), 0, 0, 0, 7};
         pd.tableAddWithTwiceNatAddrOnlyHit(1, tgt, &m, &a, &handles[i]);
      }
      for (int i = 0; i < kBatch; ++i) {
         BfPdTwiceNatAddrOnly::HitEcmpSpec a{static_cast<U16>(i), 0, 0, 0, 3};
         pd.tableModifyWithTwiceNatAddrOnlyHitEcmp(1, b.dev, handles[i], &a);
      }
      for (int i = 0; i < kBatch; ++i)
         pd.tableDelete(1, b.dev, handles[i]);
   }
   countOps(st, before, 3 * kBatch);
}

// Library: look every entry up by its match spec (a readback through the chip).
void libraryLookup(benchmark::State& st, bool bfrt) {
   Bed& b = bed(bfrt);
   for (auto const& e : b.entries)
      b.table->entryIs(e);
   long before = bench::heapAllocs();
   for (auto _ : st) {
      for (auto const& e : b.entries)
         benchmark::DoNotOptimize(b.table->entry(e.match()));
   }
   countOps(st, before, kBatch);
   for (auto const& e : b.entries)
      b.table->entryDel(e.match());
}

void sdkLookup(benchmark::State& st) {
   Bed& b = bed(false);
   for (auto const& e : b.entries)
      b.table->entryIs(e);
   auto& pd = b.pd();
   std::vector<U32> handles;
   for (auto const& e : b.entries)
      handles.push_back(b.table->helper()->sdkHandles()->entry(e.match()));
   long before = bench::heapAllocs();
   for (auto _ : st) {
      for (U32 h : handles) {
         BfPdTwiceNatAddrOnly::MatchSpec m{};
         BfPdTwiceNatAddrOnly::HitSpec a{};
         char name[BfPdTwiceNatAddrOnly::kActionNameSize];
         U8 ttl = 0;
         benchmark::DoNotOptimize(pd.getEntry(1, b.dev, h, false, &m, name, &a, nullptr, &ttl));
      }
   }
   countOps(st, before, kBatch);
   for (auto const& e : b.entries)
      b.table->entryDel(e.match());
}

BENCHMARK_CAPTURE(libraryProgram, pd, false);
BENCHMARK_CAPTURE(libraryProgram, bfrt, true);
BENCHMARK(sdkProgram);
BENCHMARK_CAPTURE(libraryLookup, pd, false);
BENCHMARK_CAPTURE(libraryLookup, bfrt, true);
BENCHMARK(sdkLookup);

bench::Ratio programPd{"program (add, modify, delete), PD", "libraryProgram/pd", "sdkProgram",
                       1.25};
bench::Ratio programBfrt{"program (add, modify, delete), BfRt", "libraryProgram/bfrt", "sdkProgram",
                         1.25};
bench::Ratio lookupPd{"look up (read back), PD", "libraryLookup/pd", "sdkLookup", 1.5};
bench::Ratio lookupBfrt{"look up (read back), BfRt", "libraryLookup/bfrt", "sdkLookup", 1.5};

}  // namespace
