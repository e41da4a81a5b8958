// The agent's key manager (keys, the matches they hold, its map's walk over damage) and status
// manager.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <set>
#include <tuple>
#include <vector>

#include "BfTwiceNatAddrOnly/entry/TwiceNatAddrOnlyMatchSpec.h"
#include "agent/KeyManager.h"
#include "agent/StatusManager.h"
#include "support/Scratch.h"

namespace {

using testing::HasSubstr;
using testing::ThrowsMessage;
using TwiceNatAgent::EntryState;
using TwiceNatAgent::KeyManager;
using TwiceNatAgent::KeyTable;
using TwiceNatAgent::KeyTableError;
using TwiceNatAgent::StatusManager;
using TwiceNatTest::scratchPath;
using Match = BfTwiceNatAddrOnly::TwiceNatAddrOnlyMatchSpec::Ptr;

Match newMatch() {
   return BfTwiceNatAddrOnly::twiceNatAddrOnlyMatchSpecFactory();
}
using Key = KeyManager::EntryKey;
using Steps = std::vector<std::pair<Key, U32>>;  // key and SDK entry handle of each record

// Walks the map as a table's resync does: from the first record on, stopping at the end or at
// the first corruption, whose message goes to `corruption`.
Steps walk(KeyManager const& km, std::string* corruption = nullptr) {
   Steps seen;
   Drosk::DroskMapBase& map = km.mbbDroskTableConfig()->map();
   Drosk::MbbPostcodef::EntryConfig rec(0, 0, 0, 0, 0);
   Drosk::IterHint hint;
   try {
      for (bool more = map.entryFirst(rec, hint); more; more = map.entryNext(rec.key, rec, hint)) {
         EXPECT_TRUE(hint.valid && hint.slot == rec.key - 1) << rec.key;
         seen.emplace_back(rec.key, rec.sdkEntryHandle);
      }
   } catch (Pemra::CorruptionDetectedException const& e) {
      if (!corruption) ADD_FAILURE() << e.msg();
      if (corruption) *corruption = e.msg();
   }
   return seen;
}

class KeyManagerTest : public testing::Test {
 protected:
   KeyManager::Ptr managerOf(U64 capacity) {
      return KeyManager::keyManagerIs(KeyTable::create(path_, capacity));
   }
   std::string const path_ = scratchPath("keys");
};

TEST_F(KeyManagerTest, AllocFreeAndTheHighestKeyMark) {
   auto km = managerOf(5);
   // op: 'a' alloc lowest free, 'A' alloc above the mark, 'f' free `arg`; then the key it
   // allocates (0 for a free), the highest-key mark and the keys reserved after it.
   std::tuple<char, Key, Key, Key, U64> const script[] = {
       {'a', 0, 1, 1, 1}, {'a', 0, 2, 2, 2}, {'a', 0, 3, 3, 3}, {'f', 2, 0, 3, 2},
       {'A', 0, 4, 4, 3}, {'a', 0, 2, 4, 4}, {'f', 4, 0, 3, 3}, {'f', 3, 0, 2, 2},
       {'A', 0, 3, 3, 3}, {'A', 0, 4, 4, 4}, {'A', 0, 5, 5, 5},
   };
   int line = 0;
   for (auto const& [op, arg, key, mark, size] : script) {
      SCOPED_TRACE(++line);
      if (op == 'f') km->free(arg);
      EXPECT_EQ(op == 'f' ? 0 : km->alloc(nullptr, op == 'A'), key);
      // Keys are only reserved: nothing is in the table until a record is written.
      EXPECT_EQ((std::pair{km->highestKey(), km->reservations()}), (std::pair{mark, size}));
      EXPECT_EQ(km->size(), 0u);
   }
   EXPECT_THAT([&] { km->alloc(nullptr, false); },
               ThrowsMessage<KeyTableError>(HasSubstr("is full: all 5 keys")));
}

// The search for a free slot against a model, over a table that spans several summary words:
// records written and cleared at random places, searches from random places, and a reopen
// (whose search starts over from the records).
TEST_F(KeyManagerTest, FreeSlotSearchFindsTheLowestFreeFromAnywhere) {
   U64 const cap = 10000;
   std::set<U64> free;
   for (U64 s = 0; s < cap; ++s)
      free.insert(s);
   std::mt19937 rng(7);
   auto const check = [&](KeyTable const& t) {
      for (int i = 0; i < 200; ++i) {
         U64 const from = rng() % (cap + 10);
         auto const it = free.lower_bound(from);
         ASSERT_EQ(t.nextFreeSlot(from), it == free.end() ? cap : *it) << from;
      }
   };
   {
      auto t = KeyTable::create(path_, cap);
      check(*t);
      for (int round = 0; round < 4; ++round) {
         // Fill most of it, then clear a random share: taken runs of every length.
         for (U64 s = 0; s < cap; ++s) {
            if (rng() % 10 < 9 && free.count(s)) {
               t->recordIs({s + 1, 0, U32(s), 0, 1});
               free.erase(s);
            }
         }
         check(*t);
         for (U64 s = 0; s < cap; ++s) {
            if (!free.count(s) && rng() % 3 == 0) {
               t->recordDel(s + 1);
               free.insert(s);
            }
         }
         check(*t);
      }
   }
   check(*KeyTable::open(path_));
}

TEST_F(KeyManagerTest, MatchesAreHeldWhileAssociated) {
   auto a = newMatch(), b = newMatch(), c = newMatch();
   {
      auto km = managerOf(8);
      Key ka = km->alloc(a, false), kb = km->alloc(b, false), k3 = km->alloc(nullptr, false);
      km->recordHandleIs(k3, 0x33);
      EXPECT_TRUE(km->keyOf(a.ptr()) == ka && km->matchOf(kb) == b && km->matches() == 2u);
      EXPECT_THAT([&] { km->alloc(a, false); },
                  ThrowsMessage<KeyTableError>(HasSubstr("already holds key 1")));
      km->free(ka);
      EXPECT_TRUE(km->keyOf(a.ptr()) == 0 && !km->matchOf(ka));
      km->recordHandleIs(kb, 0xBEEF);
      EXPECT_EQ(km->record(kb).sdkEntryHandle, 0xBEEFu);
      EXPECT_EQ(km->release(b.ptr()), kb);

      // populate: associates, moves the key to another match, forgets it.
      km->populate(k3, a);
      EXPECT_TRUE(km->keyOf(a.ptr()) == k3 && km->matches() == 1u);
      km->populate(k3, b);
      EXPECT_TRUE(km->keyOf(a.ptr()) == 0 && km->matchOf(k3) == b);
      km->populate(k3, nullptr);
      EXPECT_TRUE(!km->matchOf(k3) && km->size() == 1u);
      EXPECT_THAT([&] { km->populate(5, b); },
                  ThrowsMessage<KeyTableError>(HasSubstr("key 5 has no record")));
      EXPECT_THROW(km->free(2), KeyTableError);
      km->populate(k3, c);
   }
   EXPECT_EQ(KeyTable::open(path_)->count(), 1u) << "records outlive the manager";
}

// With its owner's index the manager keeps no map of its own: a key in flight is found without
// the index, a recorded one through it, and each only for the very object that holds it.
TEST_F(KeyManagerTest, AnOwnersIndexFindsKeysOnlyForTheObjectsHoldingThem) {
   struct ByAddresses final : KeyManager::MatchIndex {
      std::map<std::pair<U32, U32>, Key> keys;
      Key keyNamed(BfnTable::MatchSpecBase const& m) const override {
         auto const& spec = static_cast<BfTwiceNatAddrOnly::TwiceNatAddrOnlyMatchSpec const&>(m);
         auto it = keys.find({spec.outerIpv4HdrDip(), spec.outerIpv4HdrSip()});
         return it == keys.end() ? 0 : it->second;
      }
   } index;
   auto matchTo = [](U32 dip) {
      Match m = newMatch();
      m->outerIpv4HdrDipIs(dip);
      return m;
   };
   Match const a = matchTo(1), twin = matchTo(1), b = matchTo(2);
   auto km = managerOf(8);
   km->matchIndexIs(&index);
   Key const ka = km->alloc(a, false);
   EXPECT_EQ(km->keyOf(a.ptr()), ka) << "in flight, not indexed yet";
   EXPECT_THAT([&] { km->alloc(a, false); },
               ThrowsMessage<KeyTableError>(HasSubstr("already holds key 1")));
   km->recordHandleIs(ka, 7);
   index.keys[{1, 0}] = ka;
   EXPECT_TRUE(km->keyOf(a.ptr()) == ka && km->keyOf(twin.ptr()) == 0 && km->keyOf(b.ptr()) == 0);

   km->populate(ka, twin);
   EXPECT_TRUE(km->keyOf(twin.ptr()) == ka && km->keyOf(a.ptr()) == 0 && km->matches() == 1u);
   Key const kb = km->alloc(b, false);
   km->recordHandleIs(kb, 8);
   index.keys[{2, 0}] = kb;
   EXPECT_THAT([&] { km->populate(kb, twin); },
               ThrowsMessage<KeyTableError>(HasSubstr("already holds key 1")));
   km->free(ka);
   EXPECT_EQ(km->keyOf(twin.ptr()), 0u) << "the index still names the freed key";

   km->matchIndexIs(nullptr);
   EXPECT_TRUE(km->keyOf(b.ptr()) == kb && km->matches() == 1u);
}

TEST(KeyManagerCorruption, WalkStopsAtTheDamageAndRepairKeepsTheRest) {
   // Record whose byte flips, and the byte inside it.
   for (auto [bad, byte] : {std::pair{Key(1), 0}, {Key(5), 12}, {Key(8), 31}}) {
      SCOPED_TRACE(bad);
      std::string const path = scratchPath("keys");
      auto km = KeyManager::keyManagerIs(KeyTable::create(path, 12));
      std::vector<Match> matches;
      Steps all;
      for (Key k = 1; k <= 8; ++k) {
         matches.push_back(newMatch());
         ASSERT_EQ(km->alloc(matches.back(), false), k);
         km->recordHandleIs(k, U32(500 + k));
         all.emplace_back(k, U32(500 + k));
      }
      TwiceNatTest::flipByte(path, KeyTable::recordOffset(bad - 1) + byte);

      std::string message;
      EXPECT_EQ(walk(*km, &message), Steps(all.begin(), all.begin() + long(bad - 1)));
      std::string const k = std::to_string(bad);
      EXPECT_THAT(message, HasSubstr("slot " + std::to_string(bad - 1) + " (key " + k +
                                     ") fails its check"));
      testing::internal::CaptureStderr();
      km->mbbDroskTableConfig()->map().doCorruptionDetected(message);
      EXPECT_THAT(testing::internal::GetCapturedStderr(),
                  HasSubstr("dropped 1 damaged record(s): keys " + k));
      EXPECT_EQ(matches[bad - 1]->references(), 1u) << "the dropped record's match is released";
      all.erase(all.begin() + long(bad - 1));
      EXPECT_EQ(walk(*km), all);
      EXPECT_EQ(km->alloc(nullptr, false), bad) << "the dropped key is free again";
   }
}

TEST(StatusManager, InitResyncDeleteAndStatusesFollowKeys) {
   std::string const path = scratchPath("keys");
   Match m[] = {newMatch(), newMatch(), newMatch()};
   {
      auto keys = KeyManager::keyManagerIs(KeyTable::create(path, 8));
      auto sm = StatusManager::statusManagerIs(keys);
      keys->alloc(m[0], false);
      keys->alloc(m[1], false);
      // Status of the matches: state ('-' none, 'i' initial, 'r' resynced) and init count.
      auto states = [&] {
         std::string out;
         for (auto const& x : m) {
            auto s = sm->status(x.ptr());
            auto const byKey = sm->keyStatus(keys->keyOf(x.ptr()));
            EXPECT_EQ(s.has_value(), byKey.has_value());
            EXPECT_TRUE(!s || !byKey || (s->state == byKey->state && s->inits == byKey->inits));
            out +=
                !s ? "- "
                   : (s->state == EntryState::initial ? "i" : "r") + std::to_string(s->inits) + " ";
         }
         return out;
      };
      // op: 'i' initStatus(m[arg]), 'r' resyncStatus(), 'd' statusDel(m[arg]) ('k' by its key)
      // then the key's release, 'a' alloc for m[arg] (the released key comes back to a new
      // match).
      std::tuple<char, int, char const*> const script[] = {
          {'i', 0, "i1 - - "},  {'i', 0, "i2 - - "},  {'i', 1, "i2 i1 - "}, {'r', 0, "r2 r1 - "},
          {'i', 1, "r2 i2 - "}, {'r', 0, "r2 r2 - "}, {'d', 0, "- r2 - "},  {'a', 2, "- r2 - "},
          {'i', 2, "- r2 i1 "}, {'k', 1, "- - i1 "},
      };
      for (auto [op, arg, want] : script) {
         if (op == 'i') sm->initStatus(m[arg]);
         if (op == 'r') sm->resyncStatus();
         if (op == 'a') keys->alloc(m[arg], false);
         if (op == 'd' || op == 'k') {
            EXPECT_TRUE(op == 'd' ? sm->statusDel(m[arg].ptr())
                                  : sm->keyStatusDel(keys->keyOf(m[arg].ptr())));
            keys->free(keys->keyOf(m[arg].ptr()));
         }
         EXPECT_EQ(states(), want) << op << arg;
      }
      EXPECT_TRUE(sm->resyncCount() == 2 && sm->size() == 1 && !sm->statusDel(m[1].ptr()));
      EXPECT_THROW(sm->initStatus(nullptr), Zin::InternalException);
      sm->initStatus(m[0]);
      EXPECT_FALSE(sm->status(m[0].ptr())) << "a match without a key has no status";
   }
}

}  // namespace
