// The identity-keyed map: keys by object, one count per key, growth and tombstone reuse
// checked against a standard map, iteration.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <unordered_map>
#include <vector>

#include "Zin/Exception.h"
#include "Zin/IdentityMap.h"

namespace {

class Key : public Zin::PtrInterface {
 public:
   using Ptr = Pemra::Ptr<Key>;
   using PtrConst = Pemra::Ptr<Key const>;
   explicit Key(int v = 0) : value(v) {}
   int value;
   ZIN_ALLOCATED(Key)
};

using Map = Zin::IdentityMap<Key, U32>;

std::vector<Key::Ptr> makeKeys(int n) {
   std::vector<Key::Ptr> keys;
   for (int i = 0; i < n; ++i)
      keys.push_back(new Key(1));  // all equal-valued
   return keys;
}

TEST(IdentityMap, KeysAreObjectsAndEachHoldsOneCount) {
   auto keys = makeKeys(2);
   {
      Map m;
      EXPECT_EQ(m.find(keys[0].ptr()), nullptr);  // empty, never allocated
      m.insertOrAssign(keys[0], 10);
      m.insertOrAssign(keys[1], 20);
      EXPECT_EQ(m.size(), 2u);  // equal values, distinct objects: two keys
      EXPECT_EQ(*m.find(keys[1].ptr()), 20u);
      EXPECT_EQ(keys[0]->references(), 2u);
      m.insertOrAssign(keys[0], 11);  // replace keeps one pair and one count
      EXPECT_EQ(m.size(), 2u);
      EXPECT_EQ(*m.find(keys[0].ptr()), 11u);
      EXPECT_EQ(keys[0]->references(), 2u);
      Key::Ptr twin = new Key(1);
      EXPECT_FALSE(m.contains(twin.ptr()));
      EXPECT_FALSE(m.erase(twin.ptr()));
      // The null pointer is a key of its own, beside the table.
      EXPECT_FALSE(m.contains(nullptr));
      m.insertOrAssign(nullptr, 0);
      m.insertOrAssign(nullptr, 7);
      EXPECT_EQ(m.size(), 3u);
      EXPECT_EQ(*m.find(nullptr), 7u);
      std::size_t visited = 0;
      for (auto const& it : m) visited += it.key() ? 1 : 100;
      EXPECT_EQ(visited, 102u);
      EXPECT_EQ(m.iteratorAt(nullptr).value(), 7u);
      EXPECT_TRUE(m.erase(nullptr));
      EXPECT_FALSE(m.erase(nullptr));
      EXPECT_EQ(m.size(), 2u);
      EXPECT_TRUE(m.erase(keys[0].ptr()));
      EXPECT_FALSE(m.erase(keys[0].ptr()));
      EXPECT_EQ(keys[0]->references(), 1u);
      EXPECT_EQ(keys[1]->references(), 2u);
   }
   EXPECT_EQ(keys[1]->references(), 1u);  // destruction gives the count back
}

TEST(IdentityMap, KeepsAKeyWhoseOnlyOwnerIsTheMap) {
   Map m;
   Key* raw = new Key(5);
   m.insertOrAssign(Key::Ptr(raw), 1);
   EXPECT_EQ(raw->references(), 1u);
   EXPECT_EQ(Zin::liveObjects(Zin::typeNameOf<Key>()), 1);
   // Re-inserting through the map's own key while the table grows.
   auto keys = makeKeys(40);
   for (auto const& k : keys)
      m.insertOrAssign(m.begin().key(), 2), m.insertOrAssign(k, 3);
   EXPECT_EQ(*m.find(raw), 2u);
   m.clear();
   EXPECT_EQ(Zin::liveObjects(Zin::typeNameOf<Key>()), 40);
   EXPECT_EQ(keys[0]->references(), 1u);
   EXPECT_TRUE(m.empty());
}

TEST(IdentityMap, MatchesAStandardMapOverRandomChanges) {
   auto keys = makeKeys(300);
   std::unordered_map<Key const*, U32> model;
   Map m;
   std::mt19937 rng(12345);
   for (int step = 0; step < 30000; ++step) {
      // Phases that mostly add and mostly remove make the table grow and fill with tombstones.
      bool adding = (step / 3000) % 2 == 0 ? rng() % 4 != 0 : rng() % 4 == 0;
      Key::Ptr const& k = keys[rng() % keys.size()];
      if (adding) {
         m.insertOrAssign(k, static_cast<U32>(step));
         model[k.ptr()] = static_cast<U32>(step);
      } else {
         ASSERT_EQ(m.erase(k.ptr()), model.erase(k.ptr()) == 1);
      }
      ASSERT_EQ(m.size(), model.size());
      if (step % 500 == 0) {
         for (auto const& key : keys) {
            auto it = model.find(key.ptr());
            U32 const* v = m.find(key.ptr());
            ASSERT_EQ(v != nullptr, it != model.end());
            if (v) {
               ASSERT_EQ(*v, it->second);
            }
            ASSERT_EQ(key->references(), v ? 2u : 1u);
         }
      }
   }
   EXPECT_LE(m.capacity(), 1024u);  // tombstones are reused, not grown over
   std::size_t visited = 0;
   for (auto const& e : m) {
      ++visited;
      EXPECT_EQ(e.value(), model.at(e.key().ptr()));
   }
   EXPECT_EQ(visited, model.size());
}

TEST(IdentityMap, ChurnOfAFewKeysDoesNotGrowTheTable) {
   auto keys = makeKeys(8);
   Map m;
   for (int round = 0; round < 1000; ++round) {
      for (auto const& k : keys)
         m.insertOrAssign(k, round);
      for (auto const& k : keys)
         m.erase(k.ptr());
   }
   EXPECT_EQ(m.capacity(), 16u);
   EXPECT_TRUE(m.empty());
   EXPECT_EQ(m.begin(), m.end());
}

TEST(IdentityMap, IteratesEachPairOnceAndFromAKey) {
   auto keys = makeKeys(50);
   Map m;
   for (std::size_t i = 0; i < keys.size(); ++i)
      m.insertOrAssign(keys[i], U32(i));
   for (std::size_t i = 0; i < keys.size(); i += 2)
      m.erase(keys[i].ptr());
   std::vector<Key const*> order;
   for (auto const& e : m)
      order.push_back(e.key().ptr());
   EXPECT_EQ(order.size(), 25u);
   EXPECT_EQ(std::set<Key const*>(order.begin(), order.end()).size(), 25u);
   for (std::size_t i = 0; i < order.size(); ++i) {
      std::vector<Key const*> tail;
      for (auto it = m.iteratorAt(order[i]); it != m.end(); ++it)
         tail.push_back(it.key().ptr());
      EXPECT_EQ(tail, std::vector<Key const*>(order.begin() + i, order.end()));
   }
   EXPECT_EQ(m.iteratorAt(keys[0].ptr()), m.end());  // erased
   EXPECT_EQ(m.iteratorAt(nullptr), m.end());
}

}  // namespace
