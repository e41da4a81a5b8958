#include <gtest/gtest.h>

#include <tuple>

#include "ServiceTestSupport.h"
#include "agent/StatusManager.h"

namespace {

using TwiceNatAgent::EntryState;
using TwiceNatAgent::KeyManager;
using TwiceNatAgent::KeyTable;
using TwiceNatAgent::StatusManager;
using TwiceNatAgentTest::TablePath;
using TwiceNatAgentTest::TestMatch;

TEST(StatusManager, InitResyncDeleteAndStatusesFollowKeys) {
   TablePath path;
   TestMatch::Ptr m[] = {TestMatch::testMatchIs(), TestMatch::testMatchIs(),
                         TestMatch::testMatchIs()};
   {
      auto keys = KeyManager::keyManagerIs(KeyTable::create(path.str(), 8));
      auto sm = StatusManager::statusManagerIs(keys);
      keys->alloc(m[0], false);
      keys->alloc(m[1], false);
      // Status of the matches: state ('-' none, 'i' initial, 'r' resynced) and init count.
      auto states = [&] {
         std::string out;
         for (auto const& x : m) {
            auto s = sm->status(x.ptr());
            if (!s) {
               out += "- ";
               continue;
            }
            ((out += s->state == EntryState::initial ? 'i' : 'r') += std::to_string(s->inits)) +=
                ' ';
         }
         return out;
      };
      // op: 'i' initStatus(m[arg]), 'r' resyncStatus(), 'd' statusDel(m[arg]) then the key's
      // release, 'a' alloc for m[arg] (the released key comes back to a new match).
      std::tuple<char, int, char const*> const script[] = {
          {'i', 0, "i1 - - "},  {'i', 0, "i2 - - "},  {'i', 1, "i2 i1 - "}, {'r', 0, "r2 r1 - "},
          {'i', 1, "r2 i2 - "}, {'r', 0, "r2 r2 - "}, {'d', 0, "- r2 - "},  {'a', 2, "- r2 - "},
          {'i', 2, "- r2 i1 "}, {'d', 1, "- - i1 "},
      };
      for (auto [op, arg, want] : script) {
         if (op == 'i') sm->initStatus(m[arg]);
         if (op == 'r') sm->resyncStatus();
         if (op == 'a') keys->alloc(m[arg], false);
         if (op == 'd') {
            EXPECT_TRUE(sm->statusDel(m[arg].ptr()));
            keys->free(keys->keyOf(m[arg].ptr()));
         }
         EXPECT_EQ(states(), want) << op << arg;
      }
      EXPECT_TRUE(sm->resyncCount() == 2 && sm->size() == 1 && !sm->statusDel(m[1].ptr()));
      EXPECT_THROW(sm->initStatus(nullptr), Zin::InternalException);
      sm->initStatus(m[0]);
      EXPECT_FALSE(sm->status(m[0].ptr())) << "a match without a key has no status";
   }
   EXPECT_EQ(m[0]->references(), 1u) << "the managers release what they hold";
}

}  // namespace
