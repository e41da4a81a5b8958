// The table's hot paths at 1k, 100k and 1M entries, next to the bare SDK calls of the same back
// end on the same chip, in one process: programming (add, modify, delete of every entry) and
// look-up by match (a readback against a bare read by handle that builds the same objects).
// Library and bare passes take turns (pairedRounds), over the entries in the order they were
// made and in a random order.
//
// A program pass's extra cost over the bare one is also given in random memory accesses of a
// table the size of the handle map at that count: the floor of a map keyed by object identity
// is one such access per operation. The map's size is that of its own tables and of the match
// specs it holds, in which it keeps the handles: where its random reads land.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include "Paired.h"
#include "ScaleBed.h"
#include "Summary.h"

namespace {

using namespace bench;

constexpr U32 kSizes[] = {1'000, 100'000, 1'000'000};

// More rounds where a pass is short; a 1M pass takes about a second. TWICENAT_BENCH_ROUNDS
// sets them, for a profiler's run.
int roundsFor(U32 n) {
   if (char const* r = std::getenv("TWICENAT_BENCH_ROUNDS")) return std::atoi(r);
   return n >= 1'000'000 ? 3 : n >= 100'000 ? 7 : 41;
}

std::string sizeText(U32 n) {
   return n >= 1'000'000 ? std::to_string(n / 1'000'000) + "M" : std::to_string(n / 1000) + "k";
}

std::string caseText(ScaleBed const& b, Walk w) {
   return std::string(b.bfrt ? "BfRt" : "PD") + ", " + sizeText(b.n) + ", " +
          (w == Walk::inOrder ? "in order" : "random order");
}

// Goals are judged from 100k on; at 1k everything is in the first-level caches.
double goalAt(U32 n, double goal) {
   return n >= 100'000 ? goal : std::numeric_limits<double>::quiet_NaN();
}

char const* ratioNote(double lib, double bare) {
   static char text[96];
   std::snprintf(text, sizeof text, "(%.1f / %.1f ns)", lib, bare);
   return text;
}

// The fastest add, modify and delete phase of a side's passes, in ns per operation: where the
// library's extra cost lies.
struct Phases {
   double ns[3] = {0, 0, 0};
   void timed(int phase, double t0, U32 n) {
      double const d = (cpuNs() - t0) / n;
      if (ns[phase] == 0 || d < ns[phase]) ns[phase] = d;
   }
};

[[gnu::noinline]] void programLibrary(ScaleBed& b, std::vector<U32> const& order, Phases& ph) {
   TwiceNatAddrOnlyTable& t = *b.table;
   double t0 = cpuNs();
   for (U32 i : order)
      t.entryIs(b.held[i].entry);
   ph.timed(0, t0, b.n);
   t0 = cpuNs();
   for (U32 i : order)
      t.entryIs(b.held[i].modified);
   ph.timed(1, t0, b.n);
   t0 = cpuNs();
   for (U32 i : order)
      t.entryDel(b.held[i].entry.match());
   ph.timed(2, t0, b.n);
}

template <class Bare>
[[gnu::noinline]] void programBare(ScaleBed& b, Bare& bare, std::vector<U32> const& order,
                                   Phases& ph) {
   double t0 = cpuNs();
   for (U32 i : order) {
      Held& h = b.held[i];
      h.handle = bare.add(*h.entry.match(), *h.entry.action());
   }
   ph.timed(0, t0, b.n);
   t0 = cpuNs();
   for (U32 i : order)
      bare.modify(b.held[i].handle, *b.held[i].modified.action());
   ph.timed(1, t0, b.n);
   t0 = cpuNs();
   for (U32 i : order)
      bare.remove(b.held[i].handle);
   ph.timed(2, t0, b.n);
}

void scaleProgram(benchmark::State& st, bool bfrt, U32 n, Walk w) {
   ScaleBed& b = scaleBed(bfrt, n);
   auto const& order = b.order(w);
   PairedNs ns{};
   Phases lib, base;
   for (auto _ : st) {
      b.withBare([&](auto& bare) {
         ns = pairedRounds(
             roundsFor(n), 3.0 * n, [&] { programLibrary(b, order, lib); },
             [&] { programBare(b, bare, order, base); });
      });
   }
   // The map keeps its tables' size after the deletes: the size they had with all n entries.
   double const access = randomAccessNs(b.table->helper()->sdkHandles()->bytes() +
                                        std::size_t(n) * sizeof(TwiceNatAddrOnlyMatchSpec));
   double const extra = (ns.library - ns.bare) / access;
   char note[160];
   std::snprintf(note, sizeof note, "(%.2fx bare: %.1f / %.1f ns; an access %.1f ns)",
                 ns.library / ns.bare, ns.library, ns.bare, access);
   figureIs("program, " + caseText(b, w) + ": library's extra per operation", extra, "accesses",
            goalAt(n, 1.5), true, note);
   st.counters["library_ns"] = ns.library;
   st.counters["bare_ns"] = ns.bare;
   st.counters["access_ns"] = access;
   char const* const names[] = {"add", "modify", "delete"};
   for (int k = 0; k < 3; ++k) {
      st.counters[std::string(names[k]) + "_library_ns"] = lib.ns[k];
      st.counters[std::string(names[k]) + "_bare_ns"] = base.ns[k];
   }
}

[[gnu::noinline]] void lookupLibrary(ScaleBed& b, std::vector<U32> const& order) {
   for (U32 i : order)
      benchmark::DoNotOptimize(b.table->entry(b.held[i].entry.match()));
}

template <class Bare>
[[gnu::noinline]] void lookupBare(ScaleBed& b, Bare& bare, std::vector<U32> const& order) {
   for (U32 i : order)
      benchmark::DoNotOptimize(bare.read(b.held[i].handle));
}

void scaleLookup(benchmark::State& st, bool bfrt, U32 n, Walk w) {
   ScaleBed& b = scaleBed(bfrt, n);
   auto const& order = b.order(w);
   TwiceNatAddrOnlyTable& t = *b.table;
   TwiceNatAddrOnlyTableHandles const& handles = *t.helper()->sdkHandles();
   for (U32 i : b.inOrder) {
      t.entryIs(b.held[i].entry);
      b.held[i].handle = handles.entry(b.held[i].entry.match());
   }
   PairedNs ns{};
   for (auto _ : st) {
      b.withBare([&](auto& bare) {
         ns = pairedRounds(
             roundsFor(n), n, [&] { lookupLibrary(b, order); },
             [&] { lookupBare(b, bare, order); });
      });
   }
   for (U32 i : b.inOrder)
      t.entryDel(b.held[i].entry.match());
   figureIs("look up by match over bare, " + caseText(b, w), ns.library / ns.bare, "x",
            goalAt(n, 1.3), true, ratioNote(ns.library, ns.bare));
   st.counters["library_ns"] = ns.library;
   st.counters["bare_ns"] = ns.bare;
}

// By size, then back end, so that each bed is made once.
int const registered = [] {
   for (U32 n : kSizes) {
      for (bool bfrt : {false, true}) {
         for (Walk w : {Walk::inOrder, Walk::random}) {
            std::string const name = std::string(bfrt ? "/bfrt/" : "/pd/") + std::to_string(n) +
                                     (w == Walk::inOrder ? "/inOrder" : "/random");
            benchmark::RegisterBenchmark(
                ("scaleProgram" + name).c_str(),
                [=](benchmark::State& st) { scaleProgram(st, bfrt, n, w); })
                ->Iterations(1)
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark(("scaleLookup" + name).c_str(),
                                         [=](benchmark::State& st) { scaleLookup(st, bfrt, n, w); })
                ->Iterations(1)
                ->Unit(benchmark::kMillisecond);
         }
      }
   }
   return 0;
}();

}  // namespace
