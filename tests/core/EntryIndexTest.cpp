// The core's entry index against a plain map: random inserts, replacements and erases at slot
// counts that are no power of two, small tables near full load whose probe runs wrap around the
// end of the array, and the room a reserve and a limit leave.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <tuple>
#include <utility>
#include <vector>

#include "agent/core/EntryIndex.h"
#include "agent/core/EntryIndexFiller.h"

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

// Where the index starts probing for `key` among `slots` slots: the hash's high bits scaled.
// Only to make keys crowd one stretch of slots.
std::size_t homeIn(MatchKey const& key, std::size_t slots) {
   return std::size_t(
       (static_cast<unsigned __int128>(TwiceNatAgent::MatchKeyHash{}(key)) * slots) >> 64);
}

struct Walk {
   char const* name;
   U32 keys;         // distinct keys met
   U32 repeatEvery;  // every so many keys one met again (0: none)
   U32 reserve;      // room the index was given first
   bool crowded;     // every key's home in the first 8192 slots
};

// A walk's keys through a filler end as inserting them one by one in the walk's order ends:
// the same keys under the same entry keys, and the same keys met again, under the one kept.
TEST(EntryIndexTest, AFillerEndsAsInsertingInTheWalksOrder) {
   Walk const walks[] = {
       {"nothing", 0, 0, 0, false},
       {"a few", 10, 3, 10, false},
       {"many windows", 60'000, 0, 60'000, false},
       {"many windows, keys met again", 60'000, 7, 60'000, false},
       {"more than the room reserved", 20'000, 11, 5'000, false},
       {"a little more than the room reserved", 6'000, 0, 5'000, false},
       {"homes crowded into two windows", 9'000, 5, 12'000, true},
   };
   for (Walk const& w : walks) {
      SCOPED_TRACE(w.name);
      EntryIndex filled, inserted;
      filled.reserve(w.reserve);
      std::size_t const slots = filled.bytes() / sizeof(EntryIndex::Slot);
      std::vector<MatchKey> met;
      for (U32 k = 0; met.size() < w.keys; ++k) {
         MatchKey const key = keyOf(k, 5);
         if (!w.crowded || homeIn(key, slots) < 8192) met.push_back(key);
      }
      EntryIndexFiller fill(filled);
      std::vector<std::pair<U64, U64>> expected;  // repeats: (entry key, kept)
      U32 entryKey = 0;
      std::mt19937 rng(11);
      auto walk = [&](MatchKey const& key) {
         ++entryKey;
         fill.add(key, entryKey);
         if (U32 const kept = inserted.find(key)) {
            expected.emplace_back(entryKey, kept);
         } else {
            inserted.insert(key, entryKey);
         }
      };
      for (std::size_t i = 0; i < met.size(); ++i) {
         walk(met[i]);
         if (w.repeatEvery && i % w.repeatEvery == 0) walk(met[rng() % (i + 1)]);
      }
      fill.flush();
      ASSERT_EQ(filled.size(), inserted.size());
      // Never fuller than an insert leaves it: a probe for an absent key must meet an empty slot.
      EXPECT_LE(filled.size() * 4, filled.bytes() / sizeof(EntryIndex::Slot) * 3);
      for (MatchKey const& key : met)
         ASSERT_EQ(filled.find(key), inserted.find(key));
      std::vector<std::pair<U64, U64>> got;
      for (auto const& r : fill.repeats)
         got.emplace_back(r.entryKey, r.kept);
      std::sort(got.begin(), got.end());
      std::sort(expected.begin(), expected.end());
      EXPECT_EQ(got, expected);
      // A walk met again (a start's walk after damage) adds to what the first one filled.
      fill.add(keyOf(~0u, 5), entryKey + 1);
      fill.flush();
      EXPECT_EQ(filled.find(keyOf(~0u, 5)), entryKey + 1);
      EXPECT_EQ(filled.size(), inserted.size() + 1);
   }
}

}  // namespace
}  // namespace TwiceNatCoreTest
