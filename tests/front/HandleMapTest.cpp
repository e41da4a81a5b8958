// The handle map against a standard map per map, over random changes to three maps that share
// their keys: the first map to take a key keeps its handle in the key, the others keep theirs by
// address; handles, counts, the walk (whole and from a key) and positions located before a change
// must come out as a standard map's would, also after a map goes and a new one takes its keys.
// Then maps beyond the number of tags, and copies of a spec, which start held by no map.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <unordered_map>
#include <vector>

#include "BfTwiceNatAddrOnly/table/TwiceNatAddrOnlyTableHandles.h"

using namespace BfTwiceNatAddrOnly;

namespace {

using Map = TwiceNatAddrOnlyTableHandles;
using Model = std::unordered_map<TwiceNatAddrOnlyMatchSpec const*, U32>;

std::vector<TwiceNatAddrOnlyMatchSpec::PtrConst> makeKeys(int n) {
   std::vector<TwiceNatAddrOnlyMatchSpec::PtrConst> keys;
   for (int i = 0; i < n; ++i)
      keys.push_back(twiceNatAddrOnlyMatchSpecFactory());
   keys.push_back(nullptr);  // a key like any other
   return keys;
}

std::optional<U32> valueIn(Model const& model, TwiceNatAddrOnlyMatchSpec const* k) {
   auto it = model.find(k);
   return it == model.end() ? std::nullopt : std::optional(it->second);
}

// Every pair once, the same as the model's; and the walk from any key is the tail of the whole
// walk from that key on.
void expectSame(Map const& m, Model const& model,
                std::vector<TwiceNatAddrOnlyMatchSpec::PtrConst> const& keys) {
   ASSERT_EQ(m.entries(), model.size());
   for (auto const& k : keys) {
      U32 const* v = m.find(k.ptr());
      ASSERT_EQ(v ? std::optional(*v) : std::nullopt, valueIn(model, k.ptr()));
      ASSERT_EQ(m.entryHas(k), v != nullptr);
      ASSERT_EQ(m.entry(k), v ? *v : 0u);
   }
   std::vector<TwiceNatAddrOnlyMatchSpec const*> walk;
   Model seen;
   for (auto const& it : m) {
      walk.push_back(it.key().ptr());
      ASSERT_TRUE(seen.emplace(it.key().ptr(), it.value()).second);
   }
   ASSERT_EQ(seen, model);
   if (walk.empty()) return;
   std::size_t const from = walk.size() / 2;
   std::size_t i = from;
   for (auto it = m.entryIter(TwiceNatAddrOnlyMatchSpec::PtrConst(walk[from])); it != m.entryEnd();
        ++it)
      ASSERT_EQ(it.key().ptr(), walk[i++]);
   ASSERT_EQ(i, walk.size());
}

TEST(HandleMap, MatchesAStandardMapPerMapOverSharedKeys) {
   auto keys = makeKeys(150);
   std::vector<Map::Ptr> maps{Map::TwiceNatAddrOnlyTableHandlesIs(),
                              Map::TwiceNatAddrOnlyTableHandlesIs(),
                              Map::TwiceNatAddrOnlyTableHandlesIs()};
   std::vector<Model> models(maps.size());
   std::mt19937 rng(2468);
   auto expectAll = [&] {
      for (std::size_t j = 0; j < maps.size(); ++j)
         ASSERT_NO_FATAL_FAILURE(expectSame(*maps[j], models[j], keys));
      // One count here, and one for each map that holds the key.
      for (auto const& k : keys) {
         if (!k) continue;
         U32 holders = 0;
         for (Model const& model : models)
            holders += model.count(k.ptr()) ? 1 : 0;
         ASSERT_EQ(k->references(), 1 + holders);
      }
   };
   ASSERT_NO_FATAL_FAILURE(expectAll());
   for (U32 step = 0; step < 30000; ++step) {
      std::size_t const j = rng() % maps.size();
      Map& m = *maps[j];
      Model& model = models[j];
      auto const& k = keys[rng() % keys.size()];
      auto const& other = keys[rng() % keys.size()];
      // Phases that mostly add and mostly remove; a map now and then goes and a new one comes.
      bool const adding = (step / 2000) % 2 == 0 ? rng() % 4 != 0 : rng() % 4 == 0;
      unsigned const via = rng() % 16;
      if (via == 15 && step % 7 == 0) {
         maps[j] = Map::TwiceNatAddrOnlyTableHandlesIs();
         model.clear();
         continue;
      }
      // A position located before another change to the same map must still serve its key.
      Map::Position const at = m.entryPosition(k);
      ASSERT_EQ(at.value() ? std::optional(*at.value()) : std::nullopt, valueIn(model, k.ptr()));
      if (via & 2) {
         m.entryIs(other, step);
         model[other.ptr()] = step;
      }
      bool const positioned = via & 4;
      if (adding) {
         positioned ? m.entryIs(at, k, step) : m.entryIs(k, step);
         model[k.ptr()] = step;
      } else {
         positioned ? m.entryDel(at, k) : m.entryDel(k);
         model.erase(k.ptr());
      }
      ASSERT_EQ(m.entries(), model.size());
      if (step % 1000 == 0) {
         ASSERT_NO_FATAL_FAILURE(expectAll());
      }
   }
   ASSERT_NO_FATAL_FAILURE(expectAll());
}

// Maps beyond the tags there are keep every key by address; each map still has its own pairs.
TEST(HandleMap, MoreMapsThanTagsEachKeepTheirOwn) {
   auto keys = makeKeys(4);
   std::vector<Map::Ptr> maps;
   for (U32 i = 0; i < 300; ++i) {
      maps.push_back(Map::TwiceNatAddrOnlyTableHandlesIs());
      for (std::size_t k = 0; k < keys.size(); ++k)
         maps.back()->entryIs(keys[k], i * 10 + static_cast<U32>(k));
   }
   for (U32 i = 0; i < maps.size(); ++i) {
      ASSERT_EQ(maps[i]->entries(), keys.size());
      for (std::size_t k = 0; k < keys.size(); ++k)
         ASSERT_EQ(maps[i]->entry(keys[k]), i * 10 + k);
   }
   EXPECT_EQ(keys[0]->references(), 301u);
   // Maps going in another order than they came free their tags for the maps that come next.
   std::shuffle(maps.begin(), maps.end(), std::mt19937(5));
   maps.resize(10);
   EXPECT_EQ(keys[0]->references(), 11u);
   Map::Ptr fresh = Map::TwiceNatAddrOnlyTableHandlesIs();
   fresh->entryIs(keys[1], 77);
   EXPECT_EQ(fresh->entry(keys[1]), 77u);
   maps.clear();
   EXPECT_EQ(fresh->entry(keys[1]), 77u);
   EXPECT_EQ(keys[1]->references(), 2u);
}

// The hook is the map's record, not the match spec's value: a copy of a match spec held by a map is
// a new object that no map holds, and assigning one spec's attributes to another moves no pair.
TEST(HandleMap, CopiesOfASpecAreHeldByNoMap) {
   Map::Ptr m = Map::TwiceNatAddrOnlyTableHandlesIs();
   TwiceNatAddrOnlyMatchSpec::Ptr held = twiceNatAddrOnlyMatchSpecFactory();
   held->l3InfoVrfIdIs(3);
   m->entryIs(held, 5);
   TwiceNatAddrOnlyMatchSpec::Ptr copy = new TwiceNatAddrOnlyMatchSpec(*held);
   EXPECT_EQ(copy->l3InfoVrfId(), 3);
   EXPECT_TRUE(copy->l3InfoVrfIdIsSet());
   EXPECT_FALSE(m->entryHas(copy));
   TwiceNatAddrOnlyMatchSpec::Ptr other = twiceNatAddrOnlyMatchSpecFactory();
   *other = *held;
   *held = *copy;
   EXPECT_FALSE(m->entryHas(other));
   EXPECT_EQ(m->entry(held), 5u);
   m->entryIs(copy, 6);
   EXPECT_EQ(m->entries(), 2u);
   EXPECT_EQ(m->entry(held), 5u);
}

// Room reserved holds that many keys without the list growing, holes left by removals first.
TEST(HandleMap, ReservedRoomHoldsTheKeysWithoutGrowing) {
   Map::Ptr m = Map::TwiceNatAddrOnlyTableHandlesIs();
   std::vector<TwiceNatAddrOnlyMatchSpec::PtrConst> keys = makeKeys(1000);
   keys.pop_back();  // the null key is kept by address
   for (int i = 0; i < 100; ++i)
      m->entryIs(keys[i], i + 1);
   for (int i = 0; i < 100; i += 2)
      m->entryDel(keys[i]);
   m->reserve(1000);
   std::size_t const reserved = m->bytes();
   for (int i = 0; i < 1000; i += i < 100 ? 2 : 1)
      m->entryIs(keys[i], i + 1);
   EXPECT_EQ(m->entries(), 1000u);
   EXPECT_EQ(m->bytes(), reserved);
   m->entryIs(twiceNatAddrOnlyMatchSpecFactory(), 1);
   EXPECT_GT(m->bytes(), reserved);
}

}  // namespace
