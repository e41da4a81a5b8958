#include <gtest/gtest.h>

#include <tuple>

#include "ServiceTestSupport.h"
#include "agent/StatusManager.h"

namespace {

using TwiceNatAgent::EntryState;
using TwiceNatAgent::StatusManager;
using TwiceNatAgentTest::TestMatch;

TEST(StatusManager, InitResyncDeleteAndHoldingByIdentity) {
   TestMatch::Ptr m[] = {TestMatch::testMatchIs(), TestMatch::testMatchIs()};
   {
      auto sm = StatusManager::statusManagerIs();
      // Status of both matches: state ('-' none, 'i' initial, 'r' resynced) and init count.
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
      // op: 'i' initStatus(m[arg]), 'r' resyncStatus(), 'd' statusDel(m[arg]).
      std::tuple<char, int, char const*> const script[] = {
          {'i', 0, "i1 - "},  {'i', 0, "i2 - "},  {'i', 1, "i2 i1 "},
          {'r', 0, "r2 r1 "}, {'i', 1, "r2 i2 "}, {'r', 0, "r2 r2 "},
          {'d', 0, "- r2 "},  {'i', 0, "i1 r2 "}, {'d', 1, "i1 - "},
      };
      for (auto [op, arg, want] : script) {
         if (op == 'i') sm->initStatus(m[arg]);
         if (op == 'r') sm->resyncStatus();
         EXPECT_TRUE(op != 'd' || sm->statusDel(m[arg].ptr()));
         EXPECT_EQ(states(), want) << op << arg;
      }
      EXPECT_TRUE(sm->resyncCount() == 2 && sm->size() == 1 && !sm->statusDel(m[1].ptr()));
      EXPECT_TRUE(m[0]->references() == 2 && m[1]->references() == 1);
      EXPECT_THROW(sm->initStatus(nullptr), Zin::InternalException);
   }
   EXPECT_EQ(m[0]->references(), 1u) << "the manager releases what it holds";
}

}  // namespace
