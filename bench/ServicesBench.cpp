// Programming with the agent's services at 100k and 1M entries: the agent core (key manager,
// status manager, its entry index) applying batches of inserts, modifies and removes in parts
// as `load` sends them, beside the library alone making the same changes from the same values
// (a user of the library builds the match and action spec objects from its own values too).
// Both sides program one private chip, which each pass leaves empty (so that a BfRt binding,
// which is per device, serves both); the passes take turns (pairedRounds), over the entries in
// the order they were made and in a random order. The goal is judged at 1M; the 100k rows are
// for information.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <limits>
#include <numeric>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "AgentBed.h"
#include "Paired.h"
#include "RoundBatches.h"
#include "Summary.h"
#include "agent/core/AgentCore.h"
#include "agent/core/EntrySpecs.h"
#include "chip/ChipInventory.h"

namespace {

using namespace BfTwiceNatAddrOnly;
using TwiceNatAgent::AgentCore;
using TwiceNatAgent::Update;
using TwiceNatAgent::UpdateKind;

constexpr U8 kDevice = 23;

struct ServicesBed {
   ServicesBed(bool bfrt, U32 n, bool random)
       : n(n),
         chip(kDevice, bfrt, n + 16),
         table(bench::tableOf(nullptr, sdk, kDevice)),
         inventory(*chip.chip) {
      core = bench::startedCore(folder, sdk, inventory, kDevice);
      bool const vrf = table->supportedOptionalFields() != 0;
      std::vector<U32> order(n);
      std::iota(order.begin(), order.end(), 0u);
      if (random) std::shuffle(order.begin(), order.end(), std::mt19937(1));
      batches = bench::roundBatches(order, vrf);
   }
   ~ServicesBed() {
      core.reset();
      matches.clear();
      table = nullptr;
   }
   ServicesBed(ServicesBed const&) = delete;
   ServicesBed& operator=(ServicesBed const&) = delete;

   U32 n;
   bench::ScratchFolder folder{"services-bench"};
   bench::SdkHandle sdk;
   bench::AttachedChip chip;
   TwiceNatAddrOnlyTable::Ptr table;
   chip::ChipInventory inventory;
   std::unique_ptr<AgentCore> core;
   std::vector<std::vector<Update>> batches;  // inserts, modifies, removes
   std::vector<TwiceNatAgent::MatchSpecPtr> matches = std::vector<TwiceNatAgent::MatchSpecPtr>(n);
};

// The library alone: the match and action spec objects from the values, then the table's call. The
// table knows an entry by its match object, so its user keeps the object of each entry it added
// (here by the entry's place in the batches, which all walk the same order) and lets go of it after
// the removal.
[[gnu::noinline]] bool programLibrary(ServicesBed& b) {
   TwiceNatAddrOnlyTable& t = *b.table;
   std::vector<TwiceNatAgent::MatchSpecPtr>& held = b.matches;
   for (std::vector<Update> const& batch : b.batches) {
      for (U32 k = 0; k < b.n; ++k) {
         Update const& u = batch[k];
         if (u.kind == UpdateKind::remove) {
            t.entryDel(held[k]);
            held[k] = nullptr;
            continue;
         }
         if (u.kind == UpdateKind::insert) held[k] = TwiceNatAgent::matchSpecOf(u.entry.match);
         TwiceNatAddrOnlyTableEntry e(held[k]);
         e.actionIs(TwiceNatAgent::actionSpecOf(u.entry.action));
         t.entryIs(e);
      }
   }
   return t.helper()->sdkHandles()->entries() == 0;
}

// The core is handed each batch in parts, as `load` hands it the lines of a file: a part's
// statuses are then a few hundred kilobytes that the heap reuses, not a fresh 48 MB for every
// million updates.
constexpr std::size_t kPartUpdates = 4096;

[[gnu::noinline]] bool programServices(ServicesBed& b) {
   U64 failed = 0;
   for (std::vector<Update> const& batch : b.batches) {
      std::span<Update const> const all(batch);
      for (std::size_t at = 0; at < all.size(); at += kPartUpdates) {
         std::span<Update const> const part =
             all.subspan(at, std::min(kPartUpdates, all.size() - at));
         failed += b.core->apply(part, TwiceNatAgent::BatchMode::continueOnError).failed;
      }
   }
   return failed == 0 && b.core->count() == 0;
}

void servicesOverLibrary(benchmark::State& st, bool bfrt, U32 n, bool random) {
   ServicesBed b(bfrt, n, random);
   bench::PairedNs ns{};
   bool whole = true;
   for (auto _ : st) {
      ns = bench::pairedRounds(
          n >= 1'000'000 ? 3 : 7, 3.0 * n, [&] { whole = programServices(b) && whole; },
          [&] { whole = programLibrary(b) && whole; });
   }
   if (!whole) {
      st.SkipWithError("a pass did not program and remove every entry");
      return;
   }
   // pairedRounds gives the first pass as "library": here the side with the services.
   char note[96];
   std::snprintf(note, sizeof note, "(%.1f / %.1f ns per operation)", ns.library, ns.bare);
   std::string const size = n >= 1'000'000 ? "1M" : std::to_string(n / 1000) + "k";
   bench::figureIs(std::string("program with the agent's services over the library alone, ") +
                       (bfrt ? "BfRt, " : "PD, ") + size +
                       (random ? ", random order" : ", in order"),
                   ns.library / ns.bare, "x",
                   n >= 1'000'000 ? 1.5 : std::numeric_limits<double>::quiet_NaN(), true, note);
   st.counters["services_ns"] = ns.library;
   st.counters["library_ns"] = ns.bare;
}

int const registered = [] {
   for (U32 n : {100'000u, 1'000'000u}) {
      for (bool bfrt : {false, true}) {
         for (bool random : {false, true}) {
            std::string const name = std::string("servicesProgram/") + (bfrt ? "bfrt/" : "pd/") +
                                     std::to_string(n) + (random ? "/random" : "/inOrder");
            benchmark::RegisterBenchmark(
                name.c_str(),
                [=](benchmark::State& st) { servicesOverLibrary(st, bfrt, n, random); })
                ->Iterations(1)
                ->Unit(benchmark::kMillisecond);
         }
      }
   }
   return 0;
}();

}  // namespace
