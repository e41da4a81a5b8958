// The core's entry index against a plain map: random inserts, replacements and erases at slot
// counts that are no power of two, small tables near full load whose probe runs wrap around the
// end of the array, and the room a reserve and a limit leave.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <tuple>

#include "agent/core/EntryIndex.h"

namespace TwiceNatCoreTest {
namespace {

using TwiceNatAgent::EntryIndex;
using TwiceNatAgent::EntryIndexFiller;
using TwiceNatAgent::MatchKey;

struct KeyOrder {
   bool operator()(MatchKey const& a, MatchKey const& b) const {
      return std::tie(a.vrf, a.dip, a.sip) < std::tie(b.vrf, b.dip, b.sip);
   }
};
using Model = std::map<MatchKey, U32, KeyOrder>;

// Key `k` of a script: three VRFs, so that keys differ in every field the index compares.
MatchKey keyOf(U32 k, U32 sip = 1) {
   MatchKey m;
   m.dip = 0x0A000000u + k;
   m.sip = sip;
   m.vrf = U16(k % 3);
   return m;
}

void expectSame(EntryIndex const& index, Model const& model, U32 universe) {
   ASSERT_EQ(index.size(), model.size());
   for (U32 k = 0; k < universe; ++k) {
      MatchKey const key = keyOf(k);
      auto const it = model.find(key);
      ASSERT_EQ(index.find(key), it == model.end() ? 0u : it->second) << k;
   }
   std::size_t walked = 0;
   index.forEach([&](MatchKey const& key, U32 entryKey) {
      ++walked;
      auto const it = model.find(key);
      ASSERT_TRUE(it != model.end());
      EXPECT_EQ(entryKey, it->second);
   });
   EXPECT_EQ(walked, model.size());
}

struct Script {
   char const* name;
   std::size_t reserve;  // 0: none
   std::size_t limit;    // 0: none
   U32 universe;         // distinct keys drawn from
   int steps;
};

TEST(EntryIndexTest, AgreesWithAMapThroughRandomChanges) {
   Script const scripts[] = {
       {"grows from empty", 0, 0, 3000, 20000},
       {"reserved to an odd count", 1001, 0, 1500, 20000},
       {"limited below what it holds", 0, 700, 2000, 20000},
       {"small and crowded", 0, 0, 40, 5000},
   };
   for (Script const& sc : scripts) {
      SCOPED_TRACE(sc.name);
      EntryIndex index;
      if (sc.limit) index.limitIs(sc.limit);
      if (sc.reserve) index.reserve(sc.reserve);
      Model model;
      std::mt19937 rng(7);
      for (int step = 0; step < sc.steps; ++step) {
         U32 const k = rng() % sc.universe;
         MatchKey const key = keyOf(k);
         U32 const entryKey = 1 + rng() % 100000;
         switch (rng() % 4) {
            case 0:
               index.insert(key, entryKey);
               model[key] = entryKey;
               break;
            case 1: {
               bool const fresh = model.emplace(key, entryKey).second;
               ASSERT_EQ(index.insertNew(key, entryKey), fresh);
               break;
            }
            default:
               ASSERT_EQ(index.erase(key), model.erase(key) == 1);
         }
         if (step % 997 == 0) expectSame(index, model, sc.universe);
      }
      expectSame(index, model, sc.universe);
      index.clear();
      model.clear();
      expectSame(index, model, sc.universe);
   }
}

// Room is what was asked for, not the next power of two; growth stops at the limit's room
// unless more entries arrive than it allows.
TEST(EntryIndexTest, ReservesAndGrowsOnlyAsFarAsNeeded) {
   EntryIndex index;
   index.reserve(1'000'000);
   std::size_t const slots = index.bytes() / sizeof(EntryIndex::Slot);
   EXPECT_GE(slots * 3, 1'000'000u * 4);
   EXPECT_LT(slots, 1'400'000u);

   // A load reserves a part's room at a time: the index still grows geometrically.
   EntryIndex parts;
   int rebuilds = 0;
   for (U32 k = 1; k <= 100'000; ++k) {
      if (k % 100 == 1) {
         std::size_t const before = parts.bytes();
         parts.reserve(parts.size() + 100);
         rebuilds += parts.bytes() != before;
      }
      parts.insert(keyOf(k), k);
   }
   EXPECT_LE(rebuilds, 20);

   EntryIndex limited;
   limited.limitIs(5000);
   for (U32 k = 1; k <= 5000; ++k)
      limited.insert(keyOf(k, 2), k);
   std::size_t const atLimit = limited.bytes();
   EXPECT_LT(atLimit / sizeof(EntryIndex::Slot), 5000u * 3 / 2);
   limited.reserve(1'000'000);  // no further than the limit
   EXPECT_EQ(limited.bytes(), atLimit);
   limited.insert(keyOf(5001, 2), 5001);  // past the limit: still held
   EXPECT_EQ(limited.find(keyOf(5001, 2)), 5001u);
   EXPECT_EQ(limited.find(keyOf(17, 2)), 17u);
}

// A filler's keys all land, a key met twice is reported under the key kept, whatever the
// number trailing when the walk ends.
TEST(EntryIndexTest, AFillerInsertsEveryKeyAndReportsRepeats) {
   for (U32 n : {0u, 5u, 16u, 17u, 1000u}) {
      EntryIndex index;
      EntryIndexFiller fill(index);
      for (U32 k = 1; k <= n; ++k)
         fill.add(keyOf(k, 3), k);
      if (n) fill.add(keyOf(n, 3), n + 100);
      fill.flush();
      EXPECT_EQ(index.size(), n);
      for (U32 k = 1; k <= n; ++k)
         ASSERT_EQ(index.find(keyOf(k, 3)), k);
      ASSERT_EQ(fill.repeats.size(), n ? 1u : 0u);
      if (n) {
         EXPECT_EQ(fill.repeats[0].entryKey, n + 100);
         EXPECT_EQ(fill.repeats[0].kept, n);
      }
   }
}

}  // namespace
}  // namespace TwiceNatCoreTest
