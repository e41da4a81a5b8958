// Cost of the resync at a table's creation, against a bare read of the same entries: a walk of
// the key table's records that reads each entry from the chip through the PD function set
// and keeps nothing. Both start from a key table opened afresh, as at an agent start; the time
// of the open itself (which checks every slot) is left out of both. Times are the thread's
// CPU time (kernel time for page faults included): the machine is shared, and time spent
// waiting for a core is not the resync's.
//
// Per back end and size the figures are the time per entry, the library over the bare read,
// and the time per entry at 1M over that at 10k and at 100k: a resync that does more per
// entry as the table grows (a rehash, a sort, probes that lengthen) shows there.
#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "AgentBed.h"
#include "BfTwiceNatAddrOnly/platform/BfPdTwiceNatAddrOnlyIntf.h"
#include "Summary.h"

namespace {

using namespace BfTwiceNatAddrOnly;

double cpuSeconds() {
   timespec ts{};
   ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
   return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

constexpr U8 kDevice = 20;
constexpr U32 kSizes[] = {10'000, 100'000, 1'000'000};

// A chip and a key table holding `n` programmed entries; the key table is reopened by every
// run, the chip stays attached.
struct ProgrammedState {
   ProgrammedState(bool bfrt, U32 n) : folder("resync-bench"), chip(kDevice, bfrt, n + 16) {
      keyTablePath = folder.path + "/keys";
      TwiceNatAgent::KeyTable::create(keyTablePath, n + chip::kMaxPipes + 1);
      bench::AgentServices services(keyTablePath);
      auto table = bench::tableOf(&services, sdk, kDevice);
      vrf = table->supportedOptionalFields() != 0;
      for (U32 i = 0; i < n; ++i) {
         if (!bench::programOne(*table, &services, bench::benchEntry(i, vrf))) std::abort();
      }
   }
   bench::ScratchFolder folder;
   bench::SdkHandle sdk;
   bench::AttachedChip chip;
   std::string keyTablePath;
   bool vrf = false;
};

// One state at a time: a 1M state is large (the chip's slots and indexes, the key table). The last
// one is dropped at exit ahead of the SDK's device table (the release is registered after the
// first state attached its chip), so that its chip detaches from a table that still exists.
struct CurrentState {
   std::unique_ptr<ProgrammedState> state;
   std::pair<bool, U32> made{false, 0};
};
CurrentState* current = nullptr;

void releaseState() {
   delete current;
   current = nullptr;
}

ProgrammedState& stateFor(bool bfrt, U32 n) {
   if (current && current->made == std::pair<bool, U32>{bfrt, n}) return *current->state;
   bool const first = !current;
   releaseState();
   current = new CurrentState{std::make_unique<ProgrammedState>(bfrt, n), {bfrt, n}};
   if (first) std::atexit(releaseState);
   return *current->state;
}

// Fastest iteration's ns per entry, by run name: the least disturbed run.
std::map<std::string, double>& bestNsPerEntry() {
   static std::map<std::string, double> best;
   return best;
}

std::string runName(bool bfrt, bool library, U32 n) {
   return std::string("resync/") + (bfrt ? "bfrt" : "pd") + (library ? "/library/" : "/bare/") +
          std::to_string(n);
}

std::string sizeText(U32 n) {
   return n >= 1'000'000 ? std::to_string(n / 1'000'000) + "M" : std::to_string(n / 1000) + "k";
}

// Figures of one back end from the runs that have finished so far.
void figuresOf(bool bfrt) {
   char const* be = bfrt ? "BfRt" : "PD";
   auto ns = [&](bool library, U32 n) {
      auto it = bestNsPerEntry().find(runName(bfrt, library, n));
      return it == bestNsPerEntry().end() ? 0.0 : it->second;
   };
   double const nan = std::numeric_limits<double>::quiet_NaN();
   for (U32 n : kSizes) {
      double lib = ns(true, n), bare = ns(false, n);
      if (lib == 0) continue;
      bench::figureIs(std::string("resync per entry, ") + be + ", " + sizeText(n), lib, "ns", nan,
                      true);
      if (bare != 0) {
         bench::figureIs(std::string("resync over bare read, ") + be + ", " + sizeText(n),
                         lib / bare, "x", nan, true);
      }
   }
   // In per cent, so that the summary's one decimal tells 1.14 from 1.1; for information, as is
   // the bare read's own growth beside it (the chip's and the key table's memory falling out
   // of the caches). The goal on growth is the agent's whole restart, which scripts/bench times.
   for (bool library : {true, false}) {
      double const big = ns(library, kSizes[2]);
      for (U32 small : {kSizes[0], kSizes[1]}) {
         if (big == 0 || ns(library, small) == 0) continue;
         bench::figureIs(std::string(library ? "resync" : "bare read") + " time per entry, " + be +
                             ", 1M over " + sizeText(small),
                         100 * big / ns(library, small), "%", nan, true);
      }
   }
}

void recordIteration(benchmark::State& st, std::string const& name, double seconds, U32 n) {
   st.SetIterationTime(seconds);
   double const perEntry = seconds * 1e9 / n;
   auto [it, fresh] = bestNsPerEntry().emplace(name, perEntry);
   if (!fresh) it->second = std::min(it->second, perEntry);
}

void resyncLibrary(benchmark::State& st, bool bfrt, U32 n) {
   ProgrammedState& s = stateFor(bfrt, n);
   std::string const name = runName(bfrt, true, n);
   for (auto _ : st) {
      bench::AgentServices services(s.keyTablePath);
      double const t0 = cpuSeconds();
      auto table = bench::tableOf(&services, s.sdk, kDevice);
      double const t1 = cpuSeconds();
      if (table->helper()->sdkHandles()->entries() != n || services.keys->matches() != n) {
         st.SkipWithError("the resync did not find every entry");
         break;
      }
      recordIteration(st, name, t1 - t0, n);
      table = nullptr;  // drops n match specs: not part of the resync
   }
   st.SetItemsProcessed(st.iterations() * n);
   figuresOf(bfrt);
}

// The floor of any resync: the same walk of the records, one PD read per entry, nothing kept.
void resyncBare(benchmark::State& st, bool bfrt, U32 n) {
   ProgrammedState& s = stateFor(bfrt, n);
   std::string const name = runName(bfrt, false, n);
   BfPdTwiceNatAddrOnly::BfPdTwiceNatAddrOnlyIntf::Ptr pd =
       new BfPdTwiceNatAddrOnly::BfPdTwiceNatAddrOnlyIntf(kDevice, bench::kSdkLib, s.sdk.dl,
                                                          bench::kSessionId);
   for (auto _ : st) {
      bench::AgentServices services(s.keyTablePath);
      Drosk::DroskMapBase& map = services.keys->mbbDroskTableConfig()->map();
      double const t0 = cpuSeconds();
      Drosk::MbbPostcodef::EntryConfig record(0, 0, 0, 0, 0);
      Drosk::IterHint hint;
      U32 read = 0;
      U64 sum = 0;
      for (bool found = map.entryFirst(record, hint); found;
           found = map.entryNext(record.key, record, hint)) {
         BfPdTwiceNatAddrOnly::MatchSpec m{};
         BfPdTwiceNatAddrOnly::HitSpec a{};
         char action[BfPdTwiceNatAddrOnly::kActionNameSize];
         U8 ttl = 0;
         if (pd->getEntry(bench::kSessionId, kDevice, record.sdkEntryHandle, false, &m, action, &a,
                          nullptr, &ttl) == 0) {
            ++read;
         }
         sum += m.outerIpv4HdrDip;
      }
      double const t1 = cpuSeconds();
      benchmark::DoNotOptimize(sum);
      if (read != n) {
         st.SkipWithError("the bare read did not find every entry");
         break;
      }
      recordIteration(st, name, t1 - t0, n);
   }
   st.SetItemsProcessed(st.iterations() * n);
}

// Bare read and library of a size next to each other, so that each state is built once.
int const registered = [] {
   for (bool bfrt : {false, true}) {
      for (U32 n : kSizes) {
         int const iterations = n >= 1'000'000 ? 3 : n >= 100'000 ? 10 : 50;
         for (bool library : {false, true}) {
            auto* b = benchmark::RegisterBenchmark(
                runName(bfrt, library, n).c_str(), [bfrt, n, library](benchmark::State& st) {
                   library ? resyncLibrary(st, bfrt, n) : resyncBare(st, bfrt, n);
                });
            b->Iterations(iterations)->UseManualTime()->Unit(benchmark::kMillisecond);
         }
      }
   }
   return 0;
}();

}  // namespace
