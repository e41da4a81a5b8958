// The chip's key and handle indices against a plain map, over many adds and deletes that
// collide in both indices.
#include <map>
#include <random>
#include <tuple>

#include "ChipFixture.h"

namespace chiptest {
namespace {

// A tiny table makes probe runs wrap around the end of the index; a big one makes long runs.
class ChipIndex : public testing::TestWithParam<std::pair<U32, int>> {};

TEST_P(ChipIndex, AgreesWithAMapOverRandomAddsAndDeletes) {
   auto [capacity, rounds] = GetParam();
   chip::Profile p;
   p.capacity = capacity;
   auto c = chip::Chip::createPrivate(p);
   ASSERT_EQ(c->scopeIs(1), 0);
   std::mt19937 rng(7);
   using K = std::tuple<U16, U16, U32, U32>;
   std::map<K, Hdl> model;
   std::map<Hdl, K> byHandle;
   auto keyOf = [](K const& k) {
      return chip::Key{std::get<0>(k), std::get<1>(k), std::get<2>(k), std::get<3>(k)};
   };
   for (int round = 0; round < rounds; ++round) {
      // A small key space, so that adds meet present keys and deletes meet holes.
      K k{U16(rng() % 4), U16(rng() % 3), U32(rng() % 20000), U32(rng() % 3)};
      bool add = model.empty() || rng() % 3 != 0;
      if (add) {
         chip::ActionRec a;
         a.params[0] = U32(round);
         Hdl h = 0;
         Status st = c->entryAdd(keyOf(k), a, &h);
         if (model.count(k)) {
            ASSERT_EQ(st, 4);
         } else if (model.size() == p.capacity) {
            ASSERT_EQ(st, 9);
         } else {
            ASSERT_EQ(st, 0);
            ASSERT_TRUE(byHandle.emplace(h, k).second);
            model[k] = h;
         }
      } else {
         auto it = byHandle.begin();
         std::advance(it, rng() % std::min<size_t>(byHandle.size(), 64));
         ASSERT_EQ(c->entryDel(it->first), 0);
         ASSERT_EQ(c->entryDel(it->first), 6);
         model.erase(it->second);
         byHandle.erase(it);
      }
   }
   ASSERT_EQ(c->count(), model.size());
   for (auto const& [h, k] : byHandle) {
      chip::EntryView e;
      ASSERT_EQ(c->entryGet(h, &e), 0);
      ASSERT_TRUE(e.key == keyOf(k));
      Hdl dup;
      ASSERT_EQ(c->entryAdd(keyOf(k), chip::ActionRec{}, &dup), 4);
   }
}

INSTANTIATE_TEST_SUITE_P(Sizes, ChipIndex,
                         testing::Values(std::pair<U32, int>{6, 50000},
                                         std::pair<U32, int>{100000, 300000}));

}  // namespace
}  // namespace chiptest
