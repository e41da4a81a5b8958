// The identity-keyed map: the null key, a key only the map holds, and keys, counts, growth and
// tombstone reuse checked against a standard map.
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
         U32 const* v = m.find(keys[i].ptr());
         ASSERT_EQ(v ? std::optional(*v) : std::nullopt,
                   model.count(keys[i].ptr()) ? std::optional(model[keys[i].ptr()]) : std::nullopt);
         ASSERT_EQ(keys[i]->references(), v ? 2u : 1u);
      }
   }
   EXPECT_LE(m.capacity(), 1024u);  // tombstones are reused, not grown over
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
