// The identity-keyed map: the null key, a key only the map holds, and keys, counts, growth and
// removal checked against a standard map, and positions that outlive a change of the map.
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

// Keys, values and counts against a standard map are the random test's; here the null key, which
// lives beside the table, and the counts the map gives back when it goes.
TEST(IdentityMap, NullKeyAndCountsGivenBackOnDestruction) {
   auto keys = makeKeys(1);
   {
      Map m;
      EXPECT_EQ(m.find(keys[0].ptr()), nullptr);  // empty, never allocated
      m.insertOrAssign(keys[0], 10);
      EXPECT_FALSE(m.contains(nullptr));
      m.insertOrAssign(nullptr, 0);
      m.insertOrAssign(nullptr, 7);
      EXPECT_TRUE(m.size() == 2 && *m.find(nullptr) == 7 && m.iteratorAt(nullptr).value() == 7);
      std::size_t visited = 0;
      for (auto const& it : m)
         visited += it.key() ? 1 : 100;
      EXPECT_EQ(visited, 101u);
      EXPECT_TRUE(m.erase(nullptr) && !m.erase(nullptr) && m.size() == 1);
      EXPECT_EQ(keys[0]->references(), 2u);
   }
   EXPECT_EQ(keys[0]->references(), 1u);
}

TEST(IdentityMap, KeepsAKeyWhoseOnlyOwnerIsTheMap) {
   Map m;
   Key* raw = new Key;
   m.insertOrAssign(Key::Ptr(raw), 1);
   // Re-inserting through the map's own key while the table grows.
   auto keys = makeKeys(40);
   for (auto const& k : keys)
      m.insertOrAssign(m.begin().key(), 2), m.insertOrAssign(k, 3);
   EXPECT_EQ(*m.find(raw), 2u);
   m.clear();
   EXPECT_EQ(Zin::liveObjects(Zin::typeNameOf<Key>()), 40);
}

TEST(IdentityMap, MatchesAStandardMapOverRandomChanges) {
   auto keys = makeKeys(300);
   std::unordered_map<Key const*, U32> model;
   Map m;
   std::mt19937 rng(12345);
   for (int step = 0; step < 30000; ++step) {
      // Phases that mostly add and mostly remove make the table grow and shift keys back.
      bool adding = (step / 3000) % 2 == 0 ? rng() % 4 != 0 : rng() % 4 == 0;
      Key::Ptr const& k = keys[rng() % keys.size()];
      if (adding) {
         m.insertOrAssign(k, static_cast<U32>(step));
         model[k.ptr()] = static_cast<U32>(step);
      } else {
         ASSERT_EQ(m.erase(k.ptr()), model.erase(k.ptr()) == 1);
      }
      ASSERT_EQ(m.size(), model.size());
      for (std::size_t i = 0; step % 500 == 0 && i < keys.size(); ++i) {
         U32 const* v = m.find(keys[i].ptr());
         ASSERT_EQ(v ? std::optional(*v) : std::nullopt,
                   model.count(keys[i].ptr()) ? std::optional(model[keys[i].ptr()]) : std::nullopt);
         ASSERT_EQ(keys[i]->references(), v ? 2u : 1u);
      }
   }
   EXPECT_LE(m.capacity(), 1024u);  // removals free their slots, so churn does not grow it
   std::unordered_map<Key const*, U32> seen;
   for (auto const& e : m)
      EXPECT_TRUE(seen.emplace(e.key().ptr(), e.value()).second);
   EXPECT_EQ(seen, model);
}

}  // namespace

TEST(IdentityMap, ReserveHoldsThatManyKeysWithoutGrowing) {
   for (std::size_t n : {0u, 1u, 12u, 13u, 1000u}) {
      Map map;
      map.reserve(n);
      std::size_t reserved = map.capacity();
      auto keys = makeKeys(int(n));
      for (std::size_t i = 0; i < n; ++i)
         map.insertOrAssign(keys[i], U32(i));
      EXPECT_EQ(map.capacity(), reserved) << n;
      for (std::size_t i = 0; i < n; ++i)
         ASSERT_EQ(*map.find(keys[i].ptr()), U32(i));
   }
}

// A located position must add or remove its own key even when the map changed in between: a
// stale slot used as it was would leave a key unreachable or twice in the table.
TEST(IdentityMap, APositionStaysCorrectAcrossChangesMadeAfterIt) {
   enum Between { nothing, addOther, removeOther, growTable, otherKeysPosition };
   for (Between between : {nothing, addOther, removeOther, growTable, otherKeysPosition}) {
      for (bool present : {false, true}) {
         SCOPED_TRACE(testing::Message() << "change " << between << " present " << present);
         auto keys = makeKeys(64);
         Map m;
         for (int i = 1; i < 11; ++i)
            m.insertOrAssign(keys[i], U32(i));
         if (present) m.insertOrAssign(keys[0], 99);
         Map::Position at = m.locate(keys[0].ptr());
         ASSERT_EQ(at.value() ? std::optional(*at.value()) : std::nullopt,
                   present ? std::optional(99u) : std::nullopt);
         if (between == addOther) m.insertOrAssign(keys[11], 11);
         if (between == removeOther) m.erase(keys[5].ptr());
         if (between == growTable)
            for (int i = 11; i < 64; ++i)
               m.insertOrAssign(keys[i], U32(i));
         if (between == otherKeysPosition) at = m.locate(keys[3].ptr());
         std::size_t const others = m.size() - (present ? 1 : 0);

         m.insertAt(at, keys[0], 7);
         EXPECT_EQ(m.size(), others + 1);
         ASSERT_NE(m.find(keys[0].ptr()), nullptr);
         EXPECT_EQ(*m.find(keys[0].ptr()), 7u);
         EXPECT_EQ(keys[0]->references(), 2u);
         Map::Position again = m.locate(keys[0].ptr());
         if (between == removeOther) m.erase(keys[6].ptr());
         std::size_t const left = m.size() - 1;
         EXPECT_TRUE(m.eraseAt(between == otherKeysPosition ? at : again, keys[0].ptr()));
         EXPECT_FALSE(m.eraseAt(m.locate(keys[0].ptr()), keys[0].ptr()));
         EXPECT_EQ(m.size(), left);
         EXPECT_EQ(keys[0]->references(), 1u);
         for (int i = 1; i < 64; ++i) {
            bool const kept = m.find(keys[i].ptr()) != nullptr;
            bool const expected = i < 11 ? !(between == removeOther && (i == 5 || i == 6))
                                         : (between == addOther && i == 11) || between == growTable;
            EXPECT_EQ(kept, expected) << i;
         }
      }
   }
}

// Removal moves later keys of a run back into the hole; every key must stay reachable and
// hold its own value and count however the runs wrap around the end of the table.
TEST(IdentityMap, RemovalKeepsEveryOtherKeyReachable) {
   auto keys = makeKeys(40);
   for (std::size_t victim = 0; victim < keys.size(); ++victim) {
      Map m;
      for (std::size_t i = 0; i < keys.size(); ++i)
         m.insertOrAssign(keys[i], U32(i));
      ASSERT_TRUE(m.erase(keys[victim].ptr()));
      for (std::size_t i = 0; i < keys.size(); ++i) {
         U32 const* v = m.find(keys[i].ptr());
         if (i == victim) {
            EXPECT_EQ(v, nullptr);
            EXPECT_EQ(keys[i]->references(), 1u);
         } else {
            ASSERT_NE(v, nullptr) << victim << " " << i;
            EXPECT_EQ(*v, U32(i));
            EXPECT_EQ(keys[i]->references(), 2u);
         }
      }
   }
}
