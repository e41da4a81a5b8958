// The chip's key and handle indices against a plain map over many colliding adds and deletes: a
// tiny table makes probe runs wrap around, a big one makes long runs.
#include <map>
#include <random>

#include "ChipRig.h"

namespace chiptest {
namespace {

TEST(ChipIndex, AgreesWithAMapOverRandomAddsAndDeletes) {
   for (auto [capacity, rounds] : {std::pair<U32, int>{6, 50000}, {100000, 300000}}) {
      SCOPED_TRACE(capacity);
      chip::Profile p;
      p.capacity = capacity;
      auto c = chip::Chip::createPrivate(p);
      ASSERT_EQ(c->scopeIs(1), 0);
      std::mt19937 rng(7);
      auto const tupleOf = [](chip::Key const& k) {
         return std::tuple{k.pipe, k.vrf, k.dip, k.sip};
      };
      std::map<decltype(tupleOf(chip::Key{})), Hdl> model;
      std::map<Hdl, chip::Key> byHandle;
      for (int round = 0; round < rounds; ++round) {
         // A small key space, so that adds meet present keys and deletes meet holes.
         chip::Key k{U16(rng() % 4), U16(rng() % 3), U32(rng() % 20000), U32(rng() % 3)};
         if (model.empty() || rng() % 3 != 0) {
            Hdl h = 0;
            Status st = c->entryAdd(k, chip::ActionRec{}, &h);
            ASSERT_EQ(st, model.count(tupleOf(k)) ? 4 : model.size() == capacity ? 9 : 0);
            if (st == 0) {
               ASSERT_TRUE(byHandle.emplace(h, k).second);
               model[tupleOf(k)] = h;
            }
         } else {
            auto it = std::next(byHandle.begin(), rng() % std::min<size_t>(byHandle.size(), 64));
            ASSERT_EQ(c->entryDel(it->first), 0);
            ASSERT_EQ(c->entryDel(it->first), 6);
            model.erase(tupleOf(it->second));
            byHandle.erase(it);
         }
      }
      ASSERT_EQ(c->count(), model.size());
      for (auto const& [h, k] : byHandle) {
         chip::EntryView e;
         ASSERT_EQ(c->entryGet(h, &e), 0);
         ASSERT_TRUE(e.key == k);
      }
   }
}

}  // namespace
}  // namespace chiptest
