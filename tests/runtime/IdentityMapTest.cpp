// The identity-keyed map: keys by object, one count per key, the null key, growth and
// tombstone reuse checked against a standard map, iteration.
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
      m.insertOrAssign(keys[0], 11);  // replace keeps one pair and one count
      EXPECT_EQ(m.size(), 2u);        // equal values, distinct objects: two keys
      EXPECT_TRUE(*m.find(keys[0].ptr()) == 11 && *m.find(keys[1].ptr()) == 20);
      EXPECT_EQ(keys[0]->references(), 2u);
      Key::Ptr twin = new Key(1);
      EXPECT_FALSE(m.contains(twin.ptr()) || m.erase(twin.ptr()));
      // The null pointer is a key of its own, beside the table.
      EXPECT_FALSE(m.contains(nullptr));
      m.insertOrAssign(nullptr, 0);
      m.insertOrAssign(nullptr, 7);
      EXPECT_TRUE(m.size() == 3 && *m.find(nullptr) == 7 && m.iteratorAt(nullptr).value() == 7);
      std::size_t visited = 0;
      for (auto const& it : m)
         visited += it.key() ? 1 : 100;
      EXPECT_EQ(visited, 102u);
      EXPECT_TRUE(m.erase(nullptr));
      EXPECT_FALSE(m.erase(nullptr));
      EXPECT_TRUE(m.erase(keys[0].ptr()));
      EXPECT_FALSE(m.erase(keys[0].ptr()));
      EXPECT_EQ(m.size(), 1u);
      EXPECT_EQ(keys[0]->references(), 1u);
      EXPECT_EQ(m.iteratorAt(keys[0].ptr()), m.end());
      EXPECT_EQ(m.iteratorAt(nullptr), m.end());
   }
   EXPECT_EQ(keys[1]->references(), 1u);  // destruction gives the count back
}

TEST(IdentityMap, KeepsAKeyWhoseOnlyOwnerIsTheMap) {
   Map m;
   Key* raw = new Key(5);
   m.insertOrAssign(Key::Ptr(raw), 1);
   EXPECT_EQ(raw->references(), 1u);
   // Re-inserting through the map's own key while the table grows.
   auto keys = makeKeys(40);
   for (auto const& k : keys)
      m.insertOrAssign(m.begin().key(), 2), m.insertOrAssign(k, 3);
   EXPECT_EQ(*m.find(raw), 2u);
   m.clear();
   EXPECT_EQ(Zin::liveObjects(Zin::typeNameOf<Key>()), 40);
   EXPECT_TRUE(keys[0]->references() == 1 && m.empty());
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
      for (std::size_t i = 0; step % 500 == 0 && i < keys.size(); ++i) {
         Key::Ptr const& key = keys[i];
         U32 const* v = m.find(key.ptr());
         ASSERT_EQ(v ? std::optional(*v) : std::nullopt,
                   model.count(key.ptr()) ? std::optional(model[key.ptr()]) : std::nullopt);
         ASSERT_EQ(key->references(), v ? 2u : 1u);
      }
   }
   EXPECT_LE(m.capacity(), 1024u);  // tombstones are reused, not grown over
   // Iteration visits each pair once, and from any key visits the rest of that order.
   std::vector<std::pair<Key const*, U32>> order;
   for (auto const& e : m)
      order.emplace_back(e.key().ptr(), e.value());
   EXPECT_EQ((std::unordered_map<Key const*, U32>(order.begin(), order.end())), model);
   EXPECT_EQ(order.size(), model.size());
   for (std::size_t i = 0; i < order.size(); i += 7) {
      std::size_t n = 0;
      for (auto it = m.iteratorAt(order[i].first); it != m.end(); ++it, ++n)
         ASSERT_EQ(it.key().ptr(), order[i + n].first);
      EXPECT_EQ(n, order.size() - i);
   }
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

}  // namespace
