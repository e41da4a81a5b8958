// The identity-keyed map against a standard map over random changes: keys, values, counts,
// growth, removal's backward shift, positions used after the map changed, and the null key, which
// lives beside the table.
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <unordered_map>
#include <vector>

#include "Zin/IdentityMap.h"

namespace {

class Key : public Zin::PtrInterface {
 public:
   using Ptr = Pemra::Ptr<Key>;
   using PtrConst = Pemra::Ptr<Key const>;
   ZIN_ALLOCATED(Key)
};

using Map = Zin::IdentityMap<Key, U32>;

std::vector<Key::Ptr> makeKeys(int n) {
   std::vector<Key::Ptr> keys;
   for (int i = 0; i < n; ++i)
      keys.push_back(new Key);
   return keys;
}

TEST(IdentityMap, MatchesAStandardMapOverRandomChanges) {
   auto keys = makeKeys(300);
   keys.push_back(nullptr);  // the null key too, across growth
   std::unordered_map<Key const*, U32> model;
   Map m;
   std::mt19937 rng(12345);
   auto expectSame = [&] {
      ASSERT_EQ(m.size(), model.size());
      for (Key::Ptr const& k : keys) {
         U32 const* v = m.find(k.ptr());
         ASSERT_EQ(v ? std::optional(*v) : std::nullopt,
                   model.count(k.ptr()) ? std::optional(model[k.ptr()]) : std::nullopt);
         if (k) {
            ASSERT_EQ(k->references(), v ? 2u : 1u);
         }
      }
   };
   ASSERT_NO_FATAL_FAILURE(expectSame());  // an empty table, never allocated
   for (U32 step = 0; step < 40000; ++step) {
      // Phases that mostly add and mostly remove make the table grow and shift keys back.
      bool const adding = (step / 3000) % 2 == 0 ? rng() % 4 != 0 : rng() % 4 == 0;
      Key::Ptr const &k = keys[rng() % keys.size()], &other = keys[rng() % keys.size()];
      // Half the changes go through a position, located for this key or another, with a change
      // of another key in between or not: a stale slot used as it was would lose or double a key.
      unsigned const via = rng() % 8;
      Map::Position at = m.locate((via & 1 ? other : k).ptr());
      if (via & 2 && rng() % 2) {
         m.insertOrAssign(other, step);
         model[other.ptr()] = step;
      } else if (via & 2) {
         ASSERT_EQ(m.erase(other.ptr()), model.erase(other.ptr()) == 1);
      } else if (!(via & 1)) {
         ASSERT_EQ(at.value() ? std::optional(*at.value()) : std::nullopt,
                   model.count(k.ptr()) ? std::optional(model[k.ptr()]) : std::nullopt);
      }
      bool const positioned = via & 4;
      if (adding) {
         positioned ? m.insertAt(at, k, step) : m.insertOrAssign(k, step);
         model[k.ptr()] = step;
      } else {
         bool const erased = positioned ? m.eraseAt(at, k.ptr()) : m.erase(k.ptr());
         ASSERT_EQ(erased, model.erase(k.ptr()) == 1);
      }
      ASSERT_EQ(m.size(), model.size());
      if (step % 500 == 0) {
         ASSERT_NO_FATAL_FAILURE(expectSame());
      }
   }
   m.insertOrAssign(nullptr, 7), model[nullptr] = 7;  // the walk visits the null key's pair last
   ASSERT_NO_FATAL_FAILURE(expectSame());
   EXPECT_EQ(m.iteratorAt(nullptr).value(), 7u);
   EXPECT_LE(m.capacity(), 1024u);  // removals free their slots, so churn does not grow it
   std::unordered_map<Key const*, U32> seen;
   for (auto const& e : m)
      EXPECT_TRUE(seen.emplace(e.key().ptr(), e.value()).second);
   EXPECT_EQ(seen, model);
}

// A key whose only owner is the map, re-inserted through the map's own slot while the table grows.
// (That a reserved table takes its keys without growing is a matter of speed, the benchmarks'.)
TEST(IdentityMap, AKeyOnlyTheMapOwnsReinsertedWhileGrowing) {
   Map m;
   Key* raw = new Key;
   m.insertOrAssign(Key::Ptr(raw), 1);
   auto keys = makeKeys(40);
   for (auto const& k : keys)
      m.insertOrAssign(m.begin().key(), 2), m.insertOrAssign(k, 3);
   EXPECT_EQ(*m.find(raw), 2u);
}

}  // namespace

// A map filled in another map's order (a table made again from objects the last one's map
// freed) must not inherit that order: were both maps to place keys alike, the second would
// meet its keys in ascending slots, one run growing by a key each time.
TEST(IdentityMap, AMapFilledInAnotherMapsOrderPlacesItsKeysAfresh) {
   auto keys = makeKeys(4096);
   Map first, second;
   for (Key::Ptr const& k : keys)
      first.insertOrAssign(k, 0);
   std::vector<Key const*> order;
   for (auto const& it : first)
      order.push_back(it.key().ptr());
   for (Key const* k : order)
      second.insertOrAssign(Key::PtrConst(k), 0);
   ASSERT_EQ(second.capacity(), first.capacity());
   std::size_t same = 0, i = 0;
   for (auto const& it : second)
      same += it.key().ptr() == order[i++];
   EXPECT_LT(same, order.size() / 8);
}
