// A table at scale for the program and look-up families: one back end's table (no services)
// over a private chip of room for `n` entries, the caller's record of each of `n` entries made
// up front (the entry, the same match with a second action for the modify, and the handle, which
// only the bare passes keep there), the bare client of the same back end, and two walks over the
// entries: in the order they were made, and in one random order. Both sides start every
// operation from the same record. One bed lives at a time: a million entries and their chip take
// a few hundred megabytes.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <numeric>
#include <random>
#include <variant>
#include <vector>

#include "AgentBed.h"
#include "BareSdk.h"

namespace bench {

enum class Walk { inOrder, random };

struct Held {
   TwiceNatAddrOnlyTableEntry entry;
   TwiceNatAddrOnlyTableEntry modified;
   U32 handle = 0;
};

struct ScaleBed {
   static constexpr U8 kDevice = 22;

   ScaleBed(bool bfrt, U32 n)
       : bfrt(bfrt), n(n), chip(kDevice, bfrt, n + 16), table(tableOf(nullptr, sdk, kDevice)) {
      bool const vrf = table->supportedOptionalFields() != 0;
      held.reserve(n);
      for (U32 i = 0; i < n; ++i) {
         TwiceNatAddrOnlyTableEntry e = benchEntry(i, vrf);
         // Entry i + 1 has the other hit action: a modify changes the action as well.
         TwiceNatAddrOnlyTableEntry m(e.match());
         m.actionIs(benchEntry(i + 1, vrf).action());
         held.push_back({std::move(e), std::move(m)});
      }
      inOrder.resize(n);
      std::iota(inOrder.begin(), inOrder.end(), 0u);
      shuffled = inOrder;
      std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(1));
      auto const& pd = *table->helper()->pdLib();
      if (bfrt) {
         bare.emplace<BareBfrt>(pd, kDevice);
      } else {
         bare.emplace<BarePd>(pd, kDevice, kSessionId);
      }
   }
   ~ScaleBed() {
      held.clear();
      table = nullptr;
   }
   ScaleBed(ScaleBed const&) = delete;
   ScaleBed& operator=(ScaleBed const&) = delete;

   std::vector<U32> const& order(Walk w) const { return w == Walk::inOrder ? inOrder : shuffled; }
   // Calls f with the bare client of the bed's back end.
   template <class F>
   void withBare(F f) {
      std::visit(
          [&](auto& b) {
             if constexpr (!std::is_same_v<std::decay_t<decltype(b)>, std::monostate>) f(b);
          },
          bare);
   }

   bool bfrt;
   U32 n;
   SdkHandle sdk;
   AttachedChip chip;
   TwiceNatAddrOnlyTable::Ptr table;
   std::vector<Held> held;
   std::vector<U32> inOrder;
   std::vector<U32> shuffled;
   std::variant<std::monostate, BarePd, BareBfrt> bare;
};

inline ScaleBed*& currentScaleBed() {
   static ScaleBed* current = nullptr;
   return current;
}

inline void releaseScaleBed() {
   delete currentScaleBed();
   currentScaleBed() = nullptr;
}

// The bed of a back end and size, made when first asked for; the one before it is dropped
// first. The last one is dropped at exit ahead of the SDK's device table (the release is
// registered after the first bed attached its chip), so that its chip detaches from a table
// that still exists. A BfRt bed binds its table again: other families bind tables of their own
// to the module-wide key and data objects.
inline ScaleBed& scaleBed(bool bfrt, U32 n) {
   ScaleBed*& current = currentScaleBed();
   if (!current || current->bfrt != bfrt || current->n != n) {
      bool const first = !current;
      releaseScaleBed();
      current = new ScaleBed(bfrt, n);
      if (first) std::atexit(releaseScaleBed);
   }
   if (bfrt) current->table->initializeTable(current->table->helper());
   return *current;
}

}  // namespace bench
